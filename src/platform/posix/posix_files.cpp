// The Linux side of the file procedures: the error mode, the existence
// test of OpenFile, and the drive and directory changes, paths matched
// ignoring case as on a Windows file system.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform.h"
#include "posix_no_throw.h"
#include "posix_paths.h"
#include "posix_windows_directory.h"

namespace {

uint32_t ErrorMode; // the mode last set; nothing here reads it
// OsOpenFile opens nothing: kOfExist only looks, and hands back this number.
constexpr int32_t kExistProbeFile = 1;

} // namespace

uint32_t OsSetErrorMode(uint32_t mode)
{
    const uint32_t previous = ErrorMode;
    ErrorMode = mode;
    return previous;
}

int32_t OsOpenFile(const char* path, uint32_t style)
{
    // Only the existence test is offered: the launcher opens no file.
    if (path == nullptr || (style & kOfExist) == 0) return kHFileError;
    return WithoutExceptions(kHFileError, [&] {
        std::string resolved;
        struct stat status;
        if (!ResolvePathIgnoringCase(WithPosixSeparators(path), &resolved) || stat(resolved.c_str(), &status) != 0)
            return kHFileError;
        return kExistProbeFile;
    });
}

int32_t OsCloseFile(int32_t file) { return file == kExistProbeFile ? 0 : kHFileError; }

// There are no drives.
int32_t OsChangeDrive(int32_t) { return 0; }

int32_t OsChangeDirectory(const char* path)
{
    // Each component matches ignoring case when no entry has that exact
    // name, as on a Windows file system: the console upper-cases its path.
    if (path == nullptr) return -1;
    return WithoutExceptions(-1, [&] {
        std::string resolved;
        if (!ResolvePathIgnoringCase(WithPosixSeparators(path), &resolved)) return -1;
        StartingDirectory(); // a relative WINDIR stays where it was
        return chdir(resolved.c_str()) == 0 ? 0 : -1;
    });
}
