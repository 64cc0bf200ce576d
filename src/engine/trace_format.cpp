// The session trace's quoting.
#include "engine/trace_format.h"

#include "common/hex_digits.h"

size_t EscapeTraceByte(unsigned char byte, char escaped[4])
{
    if (byte < 32 || byte >= 127) {
        escaped[0] = '\\';
        escaped[1] = 'x';
        escaped[2] = kHexDigits[byte >> 4];
        escaped[3] = kHexDigits[byte & 0x0F];
        return 4;
    }
    size_t length = 0;
    if (byte == '"' || byte == '\\' || byte == '$') escaped[length++] = '\\';
    escaped[length++] = static_cast<char>(byte);
    return length;
}

bool ReadTraceEscape(const char* text, size_t length, size_t* at, char* byte)
{
    if (*at >= length) return false;
    const char escape = text[*at];
    if (escape == 'x') {
        // One or two digits, so that "z\xE9ro" reads as meant.
        const int first = *at + 1 < length ? HexDigitValue(text[*at + 1]) : -1;
        if (first < 0) return false;
        const int second = *at + 2 < length ? HexDigitValue(text[*at + 2]) : -1;
        *byte = static_cast<char>(second < 0 ? first : first * 16 + second);
        *at += second < 0 ? 2 : 3;
        return true;
    }
    static const char kNamed[] = "n\nr\rt\t0\0\\\\\"\"$$";
    for (size_t i = 0; i + 1 < sizeof kNamed; i += 2) {
        if (kNamed[i] != escape) continue;
        *byte = kNamed[i + 1];
        ++*at;
        return true;
    }
    return false;
}
