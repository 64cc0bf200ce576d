// Where the Linux build keeps its Windows directory.
#include "posix_windows_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string HomeDirectory()
{
    const char* home = std::getenv(kWindowsDirectoryVariables[kHomeVariable]);
    if (home != nullptr && home[0] != '\0') return home;
    const passwd* account = getpwuid(getuid());
    return account != nullptr && account->pw_dir != nullptr ? account->pw_dir : "";
}

// directory/name, without doubling a trailing '/'.
std::string Under(const std::string& directory, const char* name)
{
    return directory + (directory.back() == '/' ? "" : "/") + name;
}

} // namespace

std::string WindowsDirectory()
{
    const char* windir = std::getenv(kWindowsDirectoryVariables[kWindirVariable]);
    if (windir != nullptr && windir[0] != '\0') return windir;
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base
    // directory rules ask.
    const char* config = std::getenv(kWindowsDirectoryVariables[kConfigHomeVariable]);
    if (config != nullptr && config[0] == '/') return Under(config, "orvane");
    const std::string home = HomeDirectory();
    if (home.empty()) return "";
    return Under(home, ".config/orvane");
}
