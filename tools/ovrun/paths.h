// Path names as ovrun spells them on its target.
#pragma once

#include <string>

bool IsAbsolute(const std::string& path);
// The directory part of path ("." when it has none), without trailing separators.
std::string DirectoryOf(const std::string& path);
// directory and name with one separator between them.
std::string JoinPath(const std::string& directory, const char* name);
// The directory of ovrun's own program; empty when it cannot be had.
std::string OwnDirectory();
// The Windows directory, where a settings file named without a directory
// lives; empty when it cannot be had.
std::string WindowsDirectoryName();
