// The engine's texts to and from a terminal, through the one Windows-1252
// table (common/cp1252.h).
#include "cp1252.h"

#include <cstdint>

#include "common/cp1252.h"

namespace standin {

namespace {

int ByteFor(uint32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
    for (int byte = 0x80; byte < 0xA0; ++byte)
        if (Cp1252Character(static_cast<unsigned char>(byte)) == code) return byte;
    return '?';
}

} // namespace

std::string Cp1252ToUtf8(const std::string& bytes)
{
    std::string out;
    for (unsigned char byte : bytes)
        AppendUtf8(Cp1252Character(byte), &out);
    return out;
}

std::string Utf8ToCp1252(const std::string& utf8)
{
    std::string out;
    size_t at = 0;
    while (at < utf8.size()) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        int extra = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            out += '?';
            ++at;
            continue;
        }
        bool valid = true;
        for (int i = 1; valid && i <= extra; ++i) {
            if (at + i >= utf8.size()) {
                valid = false;
                break;
            }
            const unsigned char next = static_cast<unsigned char>(utf8[at + i]);
            if ((next & 0xC0) != 0x80) valid = false;
            code = code << 6 | (next & 0x3F);
        }
        if (!valid) {
            out += '?';
            ++at;
            continue;
        }
        out += static_cast<char>(ByteFor(code));
        at += 1 + extra;
    }
    return out;
}

} // namespace standin
