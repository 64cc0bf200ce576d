// Path helpers of the Linux platform layer: Windows-style names on a
// case-sensitive file system (separators, bare names, a path's parts, and
// the entry whose name matches ignoring case). The Windows directory is
// posix_windows_directory.h's.
#pragma once

#include <string>
#include <string_view>

// ASCII letters only: other bytes must be equal.
bool EqualIgnoringAsciiCase(std::string_view left, std::string_view right);

// The path with every '\' turned into '/': callers may still hand us a
// Windows-style path, and Windows takes either separator.
std::string WithPosixSeparators(const char* path);
// True when the name has neither '/' nor '\'.
bool IsBareFileName(const char* name);
// "a/b/c" gives "a/b" and "c"; "c" gives "." and "c"; "/c" gives "/" and "c".
std::string DirectoryPart(const std::string& path);
std::string FileNamePart(const std::string& path);
std::string JoinPath(const std::string& directory, const std::string& name);

// The entry of directory called name: the exact spelling when it exists,
// else the first (in byte order) whose name matches ignoring case. Empty when
// there is none or the directory cannot be listed.
std::string FindEntryIgnoringCase(const std::string& directory, const std::string& name);
// Resolves path one component at a time as a case-insensitive file system
// would. Returns false when a component has no match.
bool ResolvePathIgnoringCase(const std::string& path, std::string* resolved);

// The running program's absolute path (/proc/self/exe); empty on failure.
std::string ExecutablePath();

// mkdir -p, new components with mode 0700. True when path is a directory at
// the end.
bool MakeDirectories(const std::string& path);
