// Text helpers shared by the three subsystems. Texts are single-byte and
// NUL-terminated; every copy is bounded by its destination's capacity.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Ends the text after its last byte that is not a space (32 only). A null
// text is left alone and null is returned.
char* TrimTrailingSpaces(char* text);
// Moves what follows the leading spaces (32 only), terminator included, to
// the start of the same buffer. A null text is left alone and null returned.
char* TrimLeadingSpaces(char* text);

// Copies source into a destination of capacity bytes, cutting it to
// capacity-1 bytes, and always terminates. Returns true when it had to cut.
bool CopyText(char* destination, size_t capacity, const char* source);
template <size_t Capacity> bool CopyText(char (&destination)[Capacity], const char* source)
{
    return CopyText(destination, Capacity, source);
}

// Formats into a destination of capacity bytes, cut and always terminated.
// Returns the length the whole text would have had (negative on an encoding
// error), as vsnprintf does.
int FormatText(char* destination, size_t capacity, const char* format, ...) OV_PRINTF_FORMAT(3, 4);

// Upper-cases the letters a to z in place; every other byte stays.
void UpperCaseAscii(char* text);
// Replaces every byte equal to from by to, in place.
void ReplaceChar(char* text, char from, char to);

// Takes the next field of the text at *cursor in place: null when no text is
// left; otherwise the separator found becomes a terminator and the cursor
// moves past it, or the cursor moves to the end of the text.
char* SplitField(char** cursor, char separator);

// Reads a decimal number the way atoi does: leading white space, an optional
// sign, digits up to the first other byte, 0 without digits. A value beyond
// the 32-bit range is held at the nearest end of it, as strtol does.
int32_t ReadDecimal(const char* text);
