// Windows: GetConsoleMode tells a console from everything else (the C
// runtime's _isatty also takes NUL for one); a console is written with
// WriteConsoleW and read with ReadConsoleW, converting from and to UTF-8.
#include "console_text.h"

#include <io.h>
#include <vector>
#include <windows.h>

namespace {

HANDLE HandleOf(int descriptor) { return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)); }

bool IsConsoleHandle(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

// Ctrl+Z typed at a console ends the input, as the C runtime has it.
constexpr wchar_t kEndOfInput = 0x1A;

} // namespace

bool IsConsole(int descriptor) { return IsConsoleHandle(HandleOf(descriptor)); }

void WriteText(std::FILE* stream, const std::string& utf8)
{
    std::fflush(stream);
    const HANDLE handle = HandleOf(_fileno(stream));
    if (IsConsoleHandle(handle)) {
        const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        if (count > 0) {
            std::vector<wchar_t> wide(count);
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), count);
            DWORD written = 0;
            if (WriteConsoleW(handle, wide.data(), static_cast<DWORD>(count), &written, nullptr)) return;
        }
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

bool ReadInputByte(char* byte)
{
    const HANDLE handle = HandleOf(0);
    if (!IsConsoleHandle(handle)) return _read(0, byte, 1) == 1;
    // The UTF-8 bytes of the last character read, handed out one by one.
    static char pending[8];
    static int pendingCount = 0;
    static int pendingNext = 0;
    if (pendingNext == pendingCount) {
        wchar_t typed[2];
        DWORD count = 0;
        if (!ReadConsoleW(handle, typed, 1, &count, nullptr) || count == 0 || typed[0] == kEndOfInput) return false;
        // A character beyond the first 65536 comes as two halves.
        if (typed[0] >= 0xD800 && typed[0] < 0xDC00 && ReadConsoleW(handle, typed + 1, 1, &count, nullptr) &&
            count == 1)
            count = 2;
        pendingCount =
            WideCharToMultiByte(CP_UTF8, 0, typed, static_cast<int>(count), pending, sizeof pending, nullptr, nullptr);
        pendingNext = 0;
        if (pendingCount <= 0) {
            pendingCount = 0;
            return false;
        }
    }
    *byte = pending[pendingNext++];
    return true;
}
