// Where a profile file's name leads: the Windows directory or the name's own
// directory, and the file as it is on disk.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "posix_paths.h"
#include "posix_profile_file.h"
#include "posix_profile_location.h"
#include "posix_windows_directory.h"

namespace {

// A variable of the environment as it was when a name was placed.
struct KeptVariable {
    bool Set = false;
    std::string Value;

    bool Same(const char* value) const { return value == nullptr ? !Set : Set && Value == value; }
    void Keep(const char* value)
    {
        Set = value != nullptr;
        Value = Set ? value : "";
    }
};

// The names placed last: the launcher asks for its settings file and WIN.INI
// again and again. A bare name's place depends on the variables that give
// the Windows directory, so it holds only while they stay as they were.
struct PlacedName {
    bool Valid = false;
    std::string FileName;
    KeptVariable Variables[kWindowsDirectoryVariableCount];
    ProfileLocation Location;
};

constexpr size_t kPlacedNameCount = 2;
PlacedName Placed[kPlacedNameCount];
size_t NextPlaced = 0; // the slot the next new name takes

bool StillPlaced(const PlacedName& placed, const char* fileName)
{
    if (!placed.Valid || placed.FileName != fileName) return false;
    if (!placed.Location.InWindowsDirectory) return true;
    for (int i = 0; i < kWindowsDirectoryVariableCount; ++i)
        if (!placed.Variables[i].Same(std::getenv(kWindowsDirectoryVariables[i]))) return false;
    return true;
}

} // namespace

const ProfileLocation* LocateProfile(const char* fileName)
{
    if (fileName == nullptr || fileName[0] == '\0') return nullptr;
    for (const PlacedName& placed : Placed)
        if (StillPlaced(placed, fileName)) return &placed.Location;
    PlacedName& placed = Placed[NextPlaced];
    NextPlaced = (NextPlaced + 1) % kPlacedNameCount;
    placed.Valid = false;
    ProfileLocation& location = placed.Location;
    const std::string path = WithPosixSeparators(fileName);
    // A bare name always means the Windows directory; the current directory
    // is never searched. A name with a directory part resolves normally.
    location.InWindowsDirectory = IsBareFileName(fileName);
    if (location.InWindowsDirectory) {
        for (int i = 0; i < kWindowsDirectoryVariableCount; ++i)
            placed.Variables[i].Keep(std::getenv(kWindowsDirectoryVariables[i]));
    }
    location.Directory = location.InWindowsDirectory ? WindowsDirectory() : DirectoryPart(path);
    location.Name = FileNamePart(path);
    if (location.Directory.empty() || location.Name.empty()) return nullptr;
    location.ExactPath = JoinPath(location.Directory, location.Name);
    placed.FileName = fileName;
    placed.Valid = true;
    return &location;
}

namespace {

// Follows path while it is a symbolic link, as opening it would, without
// needing the last target to exist. A loop of links stops after as many
// steps as the kernel allows, on a link that opening then refuses.
std::string FollowLinks(std::string path)
{
    constexpr int kMostLinks = 40;
    for (int step = 0; step < kMostLinks; ++step) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        char target[4096];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return path;
        const std::string next(target, static_cast<size_t>(length));
        path = next[0] == '/' ? next : JoinPath(DirectoryPart(path), next);
    }
    return path;
}

} // namespace

std::string PathOnDisk(const ProfileLocation& location)
{
    std::string name = FindEntryIgnoringCase(location.Directory, location.Name);
    if (name.empty()) name = location.Name;
    const std::string path = JoinPath(location.Directory, name);
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char* target = realpath(path.c_str(), nullptr);
    if (target != nullptr) {
        std::string resolved = target;
        std::free(target);
        return resolved;
    }
    // A link whose target is missing: the real functions (seen under Wine)
    // create the target and keep the link.
    return FollowLinks(path);
}

std::string LockedPathOnDisk(const ProfileLocation& location, int operation, DirectoryLock* lock)
{
    // The usual file, no link, is in the directory its name gives: one lock
    // and one look-up. A link's target may be moved while no lock is held,
    // so its path is looked up again under the lock of its directory until
    // the two agree.
    std::string directory = location.Directory;
    std::string path;
    for (int attempt = 0; attempt < 8; ++attempt) {
        lock->Take(directory, operation);
        path = PathOnDisk(location);
        const std::string holder = DirectoryPart(path);
        if (holder == directory) break;
        directory = holder;
    }
    return path;
}

void ForgetPlacedProfilesForTests()
{
    for (PlacedName& placed : Placed)
        placed = PlacedName();
    NextPlaced = 0;
}
