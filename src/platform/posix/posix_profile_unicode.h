// Profile files that hold Unicode text. A file that starts with a byte-order
// mark (UTF-16 LE, UTF-16 BE or UTF-8) is read as the real functions read
// it: decoded to UTF-16, parsed, and every name and value handed to the
// caller converted to the ANSI code page, Windows-1252, whose best-fit
// replacements apply ("\xC4\x81" reads "a"). A write into such a file writes
// its text in the file's own encoding. Any other file is ANSI text, read and
// written as bytes.
//
// The parser reads Unicode text in a form of its own: each UTF-16 code unit
// on its own, spelled as UTF-8 spells that value (one byte for ASCII, two
// or three otherwise; a surrogate as three bytes). Every byte of a non-ASCII
// unit is 0x80 or above, so the bytes the syntax looks at ('[', ']', '=',
// ';', blanks, line breaks, NUL) mean what they mean in ANSI text, and two
// names are equal exactly when their units are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class ProfileEncoding { Ansi, Utf16Le, Utf16Be, Utf8 };

// The encoding the file's first bytes announce and the mark's length in
// bytes (0 for ANSI).
ProfileEncoding DetectProfileEncoding(std::string_view bytes, size_t* markLength);

// The code units of a Unicode file's text (bytes after the mark), each with
// the offset in bytes where its encoding starts; Offsets holds one more
// entry, the text's end.
struct ProfileUnits {
    std::vector<char16_t> Units;
    std::vector<size_t> Offsets;
};
void DecodeProfileUnits(std::string_view bytes, size_t markLength, ProfileEncoding encoding, ProfileUnits* units);

// Where the bytes of a UTF-8 text (from start) end in a sequence that the
// text ends too soon for, which reads as one U+FFFD however it goes on:
// bytes.size() when there is none.
size_t BrokenUtf8Tail(std::string_view bytes, size_t start);

// One code unit appended in the parser's form.
void AppendUnitForm(char16_t unit, std::string* form);
// ANSI text in the parser's form, and back (unit by unit, through the best
// fit; '?' for a unit the code page cannot show).
std::string FormFromAnsi(std::string_view ansi);
std::string AnsiFromForm(std::string_view form);
// Text in the parser's form as a Unicode file of that encoding (not Ansi)
// holds it.
std::string EncodeForm(std::string_view form, ProfileEncoding encoding);
