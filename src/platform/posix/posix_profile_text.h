// The bytes of a profile file as the Win32 profile functions read and edit
// them: lines, [section] headers and key=value entries, names matched without
// regard to ASCII case. Pure functions over bytes; posix_profile_file.cpp and
// posix_profile_cache.cpp do the file work around them.
//
// An edit changes only the lines it touches and writes new lines with CRLF;
// every other byte (comments, blank lines, odd spacing, LF or CR endings,
// NUL bytes) stays as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class ProfileLineKind {
    Blank,  // nothing but blanks
    Header, // [name]
    Entry,  // name=value
    Other,  // any other text: a comment, a name without '='
};

// One line of a file's bytes; the views point into those bytes.
struct ProfileLine {
    size_t Start;           // offset of the line's first byte
    size_t TextEnd;         // offset of its line break (the text's end)
    size_t End;             // offset after its line break; TextEnd for a last line without one
    ProfileLineKind Kind;   // what the text is
    std::string_view Name;  // header or key name, blanks trimmed; for Other, the trimmed text
    std::string_view Value; // for Entry: the text after the first '=', blanks trimmed
};

// A file's bytes split into lines once, for any number of reads. It owns the
// bytes its lines point into, so it is neither copied nor moved.
class ProfileIndex {
  public:
    ProfileIndex() = default;
    ProfileIndex(const ProfileIndex&) = delete;
    ProfileIndex& operator=(const ProfileIndex&) = delete;

    // Takes the bytes and splits them.
    void Assign(std::string bytes);
    const std::string& Bytes() const { return text_; }
    // True and the value (blanks trimmed, one outer pair of quotes removed)
    // when section/key is in the bytes.
    bool FindValue(std::string_view section, std::string_view key, std::string* value) const;
    // The names a read with a null section (every section) or a null key
    // (every key of section) lists: each followed by a NUL.
    std::string NameList(const char* section) const;

  private:
    std::string text_;
    std::vector<ProfileLine> lines_;
    std::vector<size_t> headers_; // the header lines' indices, in file order
};

// What a read returns when the key is missing: the default with trailing
// spaces and one outer pair of quotes removed; "" for a null default.
std::string ProfileDefaultText(const char* defaultText);

// Each returns true when text changed. value is written as given, less its
// leading blanks.
bool SetProfileValue(std::string* text, std::string_view section, std::string_view key, std::string_view value);
bool DeleteProfileKey(std::string* text, std::string_view section, std::string_view key);
bool DeleteProfileSection(std::string* text, std::string_view section);
