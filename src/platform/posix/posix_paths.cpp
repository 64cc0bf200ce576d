// Path helpers of the Linux platform layer.
#include "posix_paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

static char LowerAscii(char character)
{
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

bool EqualIgnoringAsciiCase(std::string_view left, std::string_view right)
{
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (LowerAscii(left[i]) != LowerAscii(right[i])) return false;
    }
    return true;
}

std::string WithPosixSeparators(const char* path)
{
    std::string result = path != nullptr ? path : "";
    for (char& character : result) {
        if (character == '\\') character = '/';
    }
    return result;
}

bool IsBareFileName(const char* name)
{
    for (const char* at = name; *at != '\0'; ++at) {
        if (*at == '/' || *at == '\\') return false;
    }
    return true;
}

std::string DirectoryPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string FileNamePart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
    if (directory.empty()) return name;
    // Sized once and filled: every profile read joins a path.
    const size_t separator = directory.back() == '/' ? 0 : 1;
    std::string path(directory.size() + separator + name.size(), '/');
    directory.copy(&path[0], directory.size());
    name.copy(&path[directory.size() + separator], name.size());
    return path;
}

static bool EntryExists(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::string FindEntryIgnoringCase(const std::string& directory, const std::string& name)
{
    if (name.empty()) return "";
    if (EntryExists(JoinPath(directory, name))) return name;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return "";
    std::string best;
    while (const dirent* entry = readdir(listing)) {
        const std::string_view candidate = entry->d_name;
        // Of several spellings, the smallest in byte order, so that the
        // choice does not depend on the directory's order.
        if (EqualIgnoringAsciiCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
    }
    closedir(listing);
    return best;
}

bool ResolvePathIgnoringCase(const std::string& path, std::string* resolved)
{
    if (path.empty()) return false;
    std::string current = path[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        std::string spelled = component;
        if (component != "." && component != "..") {
            spelled = FindEntryIgnoringCase(current.empty() ? "." : current, component);
            if (spelled.empty()) return false;
        }
        current = current.empty() ? spelled : JoinPath(current, spelled);
    }
    *resolved = current.empty() ? "." : current;
    return true;
}

std::string ExecutablePath()
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return "";
        if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

bool MakeDirectories(const std::string& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
    const std::string parent = DirectoryPart(path);
    if (parent != path && !MakeDirectories(parent)) return false;
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    return false;
}
