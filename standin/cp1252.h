// Windows-1252, the engine's single-byte texts, to and from the UTF-8 of a
// terminal.
#pragma once

#include <string>

namespace standin {

// Every byte to its character; the five bytes that Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+0081 and the like, as
// ovrun shows them.
std::string Cp1252ToUtf8(const std::string& bytes);

// Each character to its Windows-1252 byte; a character without one, or a
// malformed sequence, becomes '?'.
std::string Utf8ToCp1252(const std::string& utf8);

} // namespace standin
