// Small readers shared by the tests and the fuzz targets: little-endian
// values in a byte record, ASCII upper-casing, and the launcher's question
// before an error is handed to the editor, as the engine receives it.
#pragma once

#include <cstdint>
#include <string>

inline uint16_t Little16(const unsigned char* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

inline uint32_t Little32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The letters a to z upper-cased; every other byte stays.
inline std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

constexpr char kQuestionFrench[] = "OUINON,Voulez-vous \xEAtre positionn\xE9 sur le source?";
constexpr char kQuestionEnglish[] = "OUINON,Do you want to edit source code?";
