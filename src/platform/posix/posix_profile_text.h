// The bytes of a profile file as the Win32 profile functions read and edit
// them: lines, [section] headers and key=value entries, names matched without
// regard to ASCII case. Pure functions over bytes; posix_profile.cpp does the
// file work around them.
//
// An edit changes only the lines it touches and writes new lines with CRLF;
// every other byte (comments, blank lines, odd spacing, LF or CR endings,
// NUL bytes) stays as it was.
#pragma once

#include <string>
#include <string_view>

// True and the value (blanks trimmed, one outer pair of quotes removed) when
// section/key is in text.
bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key, std::string* value);
// What a read returns when the key is missing: the default with trailing
// spaces and one outer pair of quotes removed; "" for a null default.
std::string ProfileDefaultText(const char* defaultText);
// The names a read with a null section (every section) or a null key (every
// key of section) lists: each followed by a NUL.
std::string ProfileNameList(std::string_view text, const char* section);

// Each returns true when text changed. value is written as given, less its
// leading blanks.
bool SetProfileValue(std::string* text, std::string_view section, std::string_view key, std::string_view value);
bool DeleteProfileKey(std::string* text, std::string_view section, std::string_view key);
bool DeleteProfileSection(std::string* text, std::string_view section);
