// Linux: a terminal takes and gives UTF-8 bytes as they are.
#include "console_text.h"

#include <unistd.h>

bool IsConsole(int descriptor) { return isatty(descriptor) != 0; }

void WriteText(std::FILE* stream, const std::string& utf8)
{
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

bool ReadInputByte(char* byte) { return read(0, byte, 1) == 1; }
