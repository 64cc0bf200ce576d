// Profile files on disk: the directory lock, and the atomic replacement with
// its in-place fallback.
#include "posix_profile_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "posix_faults.h"
#include "posix_paths.h"

bool DirectoryExists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool DirectoryIsAbsent(const std::string& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0) return !S_ISDIR(status.st_mode);
    return errno == ENOENT || errno == ENOTDIR;
}

void DirectoryLock::Take(const std::string& directory, int operation)
{
    Release();
    descriptor_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor_ < 0) return;
    while (flock(descriptor_, operation) != 0 && errno == EINTR) {}
}

void DirectoryLock::Release()
{
    if (descriptor_ >= 0) close(descriptor_); // closing releases the lock
    descriptor_ = -1;
}

bool ReadAll(int descriptor, std::string* bytes)
{
    bytes->clear();
    char chunk[8192];
    for (;;) {
        const ssize_t count = read(descriptor, chunk, sizeof chunk);
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes->append(chunk, static_cast<size_t>(count));
    }
}

namespace {

bool WriteAllAt(int descriptor, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = pwrite(descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

// WriteAllAt, unless the step is made to fail: then half the bytes are
// written first, as when the disk fills up part way.
bool WriteAllAt(int descriptor, const std::string& bytes, FaultStep step, CrashPoint midWrite)
{
    if (StepFails(step)) {
        const std::string half = bytes.substr(0, bytes.size() / 2);
        WriteAllAt(descriptor, half);
        errno = ENOSPC;
        return false;
    }
    CrashPartWay(midWrite, descriptor, bytes);
    return WriteAllAt(descriptor, bytes);
}

bool SyncFile(int descriptor, FaultStep step)
{
    if (StepFails(step)) {
        errno = EIO;
        return false;
    }
    return fsync(descriptor) == 0;
}

// Flushes the directory entry a rename made; a failure here loses no data.
void SyncDirectory(const std::string& directory)
{
    const int descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    fsync(descriptor);
    close(descriptor);
}

// Creates an unused ".<name>.<pid>.<n>.tmp" beside path. New files get the
// usual 0666 less the umask; a replacement gets the old file's mode and, as
// far as we may, its owner. Returns the descriptor, -1 with errno on failure.
int CreateTemporaryFile(const std::string& path, const struct stat* old, std::string* temporaryPath)
{
    if (StepFails(kFaultTempCreate)) {
        errno = EACCES; // as in a directory we may not write
        return -1;
    }
    static unsigned counter;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporaryPath = JoinPath(DirectoryPart(path), "." + FileNamePart(path) + "." + std::to_string(getpid()) + "." +
                                                           std::to_string(++counter) + ".tmp");
        const int descriptor = open(temporaryPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        if (old != nullptr) {
            if (fchown(descriptor, old->st_uid, old->st_gid) != 0) {
                // Not ours to give away: the file becomes ours, mode kept.
            }
            fchmod(descriptor, old->st_mode & 07777);
        }
        return descriptor;
    }
    errno = EEXIST;
    return -1;
}

// True for ".<name>.<pid>.<n>.tmp", a temporary file of ours for name;
// *pid gets its maker.
bool IsTemporaryOf(const std::string& entry, const std::string& name, long* pid)
{
    const std::string prefix = "." + name + ".";
    if (entry.compare(0, prefix.size(), prefix) != 0) return false;
    const char* at = entry.c_str() + prefix.size();
    char* end = nullptr;
    *pid = std::strtol(at, &end, 10);
    if (end == at || *end != '.') return false;
    at = end + 1;
    std::strtoul(at, &end, 10);
    return end != at && std::strcmp(end, ".tmp") == 0;
}

// Removes what earlier writes of the file at path left behind when both a
// write and the removal of its temporary file failed: only our own
// temporary files for this name, only from a process that is gone, and only
// when untouched for an hour, so that no writer still at work, here or on
// another machine sharing the folder, loses its file.
void RemoveStaleTemporaries(const std::string& path)
{
    constexpr time_t kStaleSeconds = 3600;
    const std::string directory = DirectoryPart(path);
    const std::string name = FileNamePart(path);
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return;
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(listing)) {
        long pid = 0;
        if (!IsTemporaryOf(entry->d_name, name, &pid)) continue;
        const std::string leftover = JoinPath(directory, entry->d_name);
        struct stat status;
        if (lstat(leftover.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_mtime > now - kStaleSeconds)
            continue;
        if (pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            unlink(leftover.c_str());
    }
    closedir(listing);
}

bool TruncateTo(int descriptor, size_t size)
{
    if (StepFails(kFaultTruncate)) {
        errno = EIO;
        return false;
    }
    return ftruncate(descriptor, static_cast<off_t>(size)) == 0;
}

// Writes bytes over the open file itself. Used only where the directory
// refuses a new file (or the rename) but the file may be written, as Windows
// still updates such a file. A failure puts the old bytes back as well as it
// can.
bool RewriteInPlace(int descriptor, const std::string& oldBytes, const std::string& bytes)
{
    // Claim the room first, so that a full disk stops us before any byte of
    // the file has changed. The claim keeps the file's length: a rewrite
    // that then fails, with the disk refusing every write and truncation
    // after it, must not leave the file lengthened by a tail of NULs. A file
    // system that cannot claim room this way is written without a claim.
    if (bytes.size() > oldBytes.size() &&
        fallocate(descriptor, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(oldBytes.size()),
                  static_cast<off_t>(bytes.size() - oldBytes.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    // A shorter text is written padded to the old length with a blank line,
    // which every read skips: should the truncation fail, and the old bytes
    // not go back either, the file still holds whole lines of the new text
    // instead of the new text followed by the end of the old one.
    std::string padded = bytes;
    if (padded.size() < oldBytes.size()) {
        const size_t room = oldBytes.size() - padded.size();
        if (room >= 2)
            padded.append(room - 2, ' ').append("\r\n");
        else
            padded.append("\n");
    }
    CrashAt(kCrashInPlaceStart);
    if (WriteAllAt(descriptor, padded, kFaultInPlaceWrite, kCrashInPlaceWrite)) {
        CrashAt(kCrashInPlaceWritten);
        if (TruncateTo(descriptor, bytes.size())) {
            CrashAt(kCrashInPlaceTruncated);
            if (fsync(descriptor) == 0) return true;
        }
    }
    WriteAllAt(descriptor, oldBytes);
    TruncateTo(descriptor, oldBytes.size());
    fsync(descriptor);
    return false;
}

} // namespace

bool ReplaceFile(const std::string& path, int existing, const struct stat& status, const std::string& oldBytes,
                 const std::string& bytes)
{
    std::string temporaryPath;
    const int temporary = CreateTemporaryFile(path, existing >= 0 ? &status : nullptr, &temporaryPath);
    if (temporary < 0) {
        // An existing writable file in a directory that cannot be written is
        // still updated; a new file there cannot be made.
        if ((errno == EACCES || errno == EPERM) && existing >= 0) return RewriteInPlace(existing, oldBytes, bytes);
        return false;
    }
    CrashAt(kCrashTempCreated);
    bool written = WriteAllAt(temporary, bytes, kFaultTempWrite, kCrashTempWrite);
    if (written) {
        CrashAt(kCrashTempWritten);
        written = SyncFile(temporary, kFaultTempSync);
    }
    if (written) CrashAt(kCrashTempSynced);
    if (close(temporary) != 0) written = false;
    if (!written) {
        unlink(temporaryPath.c_str());
        return false;
    }
    CrashAt(kCrashBeforeRename);
    if (StepFails(kFaultRename)) {
        errno = EIO;
    } else if (rename(temporaryPath.c_str(), path.c_str()) == 0) {
        CrashAt(kCrashRenamed);
        RemoveStaleTemporaries(path);
        SyncDirectory(DirectoryPart(path));
        return true;
    }
    const int renameError = errno;
    unlink(temporaryPath.c_str());
    // A sticky directory (such as /tmp) refuses to replace another user's
    // file that we may still write.
    if ((renameError == EACCES || renameError == EPERM) && existing >= 0)
        return RewriteInPlace(existing, oldBytes, bytes);
    return false;
}
