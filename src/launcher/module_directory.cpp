// The directory of a module loaded in the process.
#include <cstring>

#include "launcher/launcher.h"

int16_t ModuleDirectory(const char* moduleFileName, char* buffer, int16_t size)
{
    if (size <= 0) return 0;
    buffer[0] = '\0';
    ModuleHandle module = OsGetModuleHandle(moduleFileName);
    if (module == nullptr) return 0;
    const uint32_t length = OsGetModuleFileName(module, buffer, static_cast<uint32_t>(size));
    if (length == 0) {
        buffer[0] = '\0';
        return 0;
    }
    // A path cut to the buffer may come back unterminated; the scan starts
    // inside the buffer in any case.
    int16_t index = static_cast<int16_t>(length < static_cast<uint32_t>(size) ? length - 1 : size - 1);
    while (index > 0 && buffer[index] != kPathSeparator)
        --index;
    buffer[index] = '\0';
    return index;
}
