// Where the Linux build keeps its Windows directory.
#include "posix_windows_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

const std::string& StartingDirectory()
{
    static const std::string kept = [] {
        char here[4096];
        return getcwd(here, sizeof here) != nullptr ? std::string(here) : std::string();
    }();
    return kept;
}

std::string WindowsDirectory()
{
    // Kept at the first call, whatever WINDIR holds then.
    const std::string& start = StartingDirectory();
    const char* windir = std::getenv(kWindowsDirectoryVariables[kWindirVariable]);
    if (windir != nullptr && windir[0] != '\0') {
        if (windir[0] == '/') return windir;
        // Relative: taken in the directory the program started in, never in
        // the one it has moved to since (the launcher moves into the test's
        // folder), so that every call finds the same files.
        return start.empty() ? "" : Under(start, windir);
    }
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base
    // directory rules ask.
    const char* config = std::getenv(kWindowsDirectoryVariables[kConfigHomeVariable]);
    if (config != nullptr && config[0] == '/') return Under(config, "orvane");
    const std::string home = HomeDirectory();
    if (home.empty()) return "";
    return Under(home, ".config/orvane");
}
