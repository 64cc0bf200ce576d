// The bytes of a profile file as the Win32 profile functions read and edit
// them: lines, [section] headers and key=value entries, names matched without
// regard to ASCII case. Pure functions over bytes; posix_profile_file.cpp and
// posix_profile_cache.cpp do the file work around them. A file with a
// byte-order mark holds Unicode text (posix_profile_unicode.h): names and
// values are handed over in the ANSI code page, and edits write the file's
// own encoding.
//
// An edit changes only the lines it touches and writes new lines with CRLF;
// every other byte (comments, blank lines, odd spacing, LF or CR endings,
// NUL bytes) stays as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "posix_profile_lines.h"

// A file's bytes split into lines once, for any number of reads. It owns the
// bytes its lines point into, so it is neither copied nor moved. Names and
// values come and go in the ANSI code page.
class ProfileIndex {
  public:
    ProfileIndex() = default;
    ProfileIndex(const ProfileIndex&) = delete;
    ProfileIndex& operator=(const ProfileIndex&) = delete;

    // Takes the bytes and splits them.
    void Assign(std::string bytes);
    const std::string& Bytes() const { return text_; }
    // True and the value (one outer pair of quotes removed) when section/key
    // is in the bytes with a value.
    bool FindValue(std::string_view section, std::string_view key, std::string* value) const;
    // The names a read with a null section (every section) or a null key
    // (every key of section) lists: each followed by a NUL.
    std::string NameList(const char* section) const;

  private:
    std::string text_;
    ProfileLines split_;
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
