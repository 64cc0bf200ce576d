// Path names as ovrun spells them on its target.
#include "paths.h"

#include "arguments.h"
#include "host.h"
#include "platform.h"

bool IsAbsolute(const std::string& path)
{
    if (!path.empty() && (path[0] == '/' || (kBackslashIsSeparator && path[0] == '\\'))) return true;
    return kBackslashIsSeparator && path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string DirectoryOf(const std::string& path)
{
    const size_t end = path.find_last_of(kBackslashIsSeparator ? "/\\" : "/");
    if (end == std::string::npos) return ".";
    return WithoutTrailingSeparators(path.substr(0, end + 1), kBackslashIsSeparator);
}

std::string JoinPath(const std::string& directory, const char* name)
{
    const char separator = kBackslashIsSeparator ? '\\' : '/';
    if (!directory.empty() && (directory.back() == separator || directory.back() == '/')) return directory + name;
    return directory + separator + name;
}

std::string OwnDirectory()
{
    const std::string path = OwnProgramPath();
    return path.empty() ? "" : DirectoryOf(path);
}

std::string WindowsDirectoryName()
{
    char directory[4096];
    const uint32_t length = OsGetWindowsDirectory(directory, sizeof directory);
    return length == 0 || length >= sizeof directory ? "" : Utf8FromLauncherText(std::string(directory, length));
}
