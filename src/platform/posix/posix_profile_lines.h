// A profile file's bytes split into lines, each line read as the Win32
// profile functions read it (posix_profile_lines.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "posix_profile_unicode.h"

enum class ProfileLineKind {
    Blank,  // nothing but blanks
    Header, // [name]
    Entry,  // name=value
    Other,  // any other text: a comment, a name without '='
};

// One line of a file. Offsets are in the file's bytes; the views hold the
// text in the parser's form (the bytes themselves for an ANSI file).
struct ProfileLine {
    size_t Start;           // offset of the line's first byte
    size_t TextEnd;         // offset of its line break (the text's end)
    size_t End;             // offset after its line break; TextEnd for a last line without one
    ProfileLineKind Kind;   // what the text is
    bool BareEquals;        // an Entry with nothing but blanks before its '='
    std::string_view Name;  // header or key name, or for Other the text: blanks trimmed, then cut at a NUL
    std::string_view Value; // for Entry: the text after the first '=', likewise
};

// A file's bytes split into lines. The views of an ANSI file's lines point
// into the bytes split, which must outlive it; a Unicode file's into Form.
struct ProfileLines {
    ProfileEncoding Encoding = ProfileEncoding::Ansi;
    size_t BodyStart = 0; // after the byte-order mark
    std::string Form;     // a Unicode file's text in the parser's form
    std::vector<ProfileLine> Lines;
};

void SplitProfile(std::string_view bytes, ProfileLines* split);
// Text without the blanks a file's names and values lose around them.
std::string_view TrimProfileBlanks(std::string_view text);
std::string_view TrimLeadingProfileBlanks(std::string_view text);
