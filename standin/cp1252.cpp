// The Windows-1252 table: 0x80 to 0x9F differ from Latin-1, the rest match.
#include "cp1252.h"

#include <cstdint>

namespace standin {

namespace {

// Code points of 0x80 to 0x9F; 0 where the code page defines none.
const uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void AppendUtf8(std::string* out, uint32_t code)
{
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | code >> 6);
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | code >> 12);
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

int ByteFor(uint32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] != 0 && kHighControls[i] == code) return 0x80 + i;
    return '?';
}

} // namespace

std::string Cp1252ToUtf8(const std::string& bytes)
{
    std::string out;
    for (unsigned char byte : bytes) {
        if (byte >= 0x80 && byte < 0xA0)
            AppendUtf8(&out, kHighControls[byte - 0x80] != 0 ? kHighControls[byte - 0x80] : 0xFFFD);
        else
            AppendUtf8(&out, byte);
    }
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
