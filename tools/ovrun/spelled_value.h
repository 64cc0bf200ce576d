// A value as the settings file spells it, quotes included: the profile
// functions give it without the quotes around it, and a key put back with
// the value they give would lose them.
#pragma once

#include <string>

// Section, key and file names compare ignoring the case of ASCII letters.
bool SameName(const std::string& a, const std::string& b);

// The text after '=' of the first key of that name in the first section of
// that name, without the blanks around it, when the file's bytes are ANSI
// text and that text is a value in double quotes; false otherwise.
bool QuotedSpelling(const std::string& bytes, const std::string& section, const std::string& key, std::string* spelled);
