// Windows-1252, the code page of the engine's texts and the settings files,
// to characters, and characters to UTF-8: one table and one encoder for the
// stand-in, ovrun and the Linux layer's conversions.
#pragma once

#include <cstdint>
#include <string>

// The character Windows gives the byte. The five bytes the code page leaves
// undefined (0x81 0x8D 0x8F 0x90 0x9D) stand for the C1 control of the same
// value, so that every byte has a character of its own and back.
char16_t Cp1252Character(unsigned char byte);

// Appends the character's UTF-8 bytes (up to four) to out.
void AppendUtf8(uint32_t code, std::string* out);
