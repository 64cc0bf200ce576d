// The Win32 profile procedures on Linux: private profile files and WIN.INI,
// read and written as the real functions do (bytes the write does not touch
// stay as they were), and written so that a failure or a crash never leaves
// a half-written file: a temporary file beside the old one, flushed, then
// renamed over it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"
#include "posix_faults.h"
#include "posix_no_throw.h"
#include "posix_paths.h"
#include "posix_profile_text.h"

namespace {

// WIN.INI is win.ini in the Windows directory, found ignoring case like any
// other bare name. Windows keeps some of its sections (such as [windows]) in
// the registry; there is no registry here, so every section is a file
// section.
const char kWinIniName[] = "win.ini";

// Where a profile file is or would be.
struct ProfileLocation {
    std::string Directory;   // the directory that holds, or will hold, the file
    std::string Name;        // the file name the caller gave
    bool InWindowsDirectory; // a bare name: the directory may be created
};

bool LocateProfile(const char* fileName, ProfileLocation* location)
{
    if (fileName == nullptr || fileName[0] == '\0') return false;
    const std::string path = WithPosixSeparators(fileName);
    // A bare name always means the Windows directory; the current directory
    // is never searched. A name with a directory part resolves normally.
    location->InWindowsDirectory = IsBareFileName(fileName);
    location->Directory = location->InWindowsDirectory ? WindowsDirectory() : DirectoryPart(path);
    location->Name = FileNamePart(path);
    return !location->Directory.empty() && !location->Name.empty();
}

// The file's path as it is on disk: an existing file whose name matches
// ignoring case is the one used (and keeps its spelling); a new file gets
// the caller's spelling. A symbolic link is followed, so that the rename
// replaces the file, not the link.
std::string PathOnDisk(const ProfileLocation& location)
{
    std::string name = FindEntryIgnoringCase(location.Directory, location.Name);
    if (name.empty()) name = location.Name;
    const std::string path = JoinPath(location.Directory, name);
    struct stat status;
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char* target = realpath(path.c_str(), nullptr);
        if (target != nullptr) {
            std::string resolved = target;
            std::free(target);
            return resolved;
        }
    }
    return path;
}

bool IsDirectory(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Serialises the read-modify-write of every process that goes through this
// layer: an advisory lock on the file's directory, so that it also covers a
// file not yet created and does not depend on the file's inode, which each
// rename replaces. Readers take it shared. A directory we may not list is
// not locked: nothing can be created there in any case.
class DirectoryLock {
  public:
    DirectoryLock(const std::string& directory, int operation)
    {
        descriptor_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor_ < 0) return;
        while (flock(descriptor_, operation) != 0 && errno == EINTR) {}
    }
    ~DirectoryLock()
    {
        if (descriptor_ >= 0) close(descriptor_); // closing releases the lock
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

  private:
    int descriptor_ = -1;
};

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
bool WriteAllAt(int descriptor, const std::string& bytes, FaultStep step)
{
    if (StepFails(step)) {
        const std::string half = bytes.substr(0, bytes.size() / 2);
        WriteAllAt(descriptor, half);
        errno = ENOSPC;
        return false;
    }
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

bool TruncateTo(int descriptor, size_t size) { return ftruncate(descriptor, static_cast<off_t>(size)) == 0; }

// Writes bytes over the open file itself. Used only where the directory
// refuses a new file (or the rename) but the file may be written, as Windows
// still updates such a file. A failure puts the old bytes back as well as it
// can.
bool RewriteInPlace(int descriptor, const std::string& oldBytes, const std::string& bytes)
{
    // Claim the room first, so that a full disk stops us before any byte of
    // the file has changed.
    if (bytes.size() > oldBytes.size() && posix_fallocate(descriptor, static_cast<off_t>(oldBytes.size()),
                                                          static_cast<off_t>(bytes.size() - oldBytes.size())) != 0) {
        TruncateTo(descriptor, oldBytes.size());
        return false;
    }
    if (WriteAllAt(descriptor, bytes, kFaultInPlaceWrite) && TruncateTo(descriptor, bytes.size()) &&
        fsync(descriptor) == 0)
        return true;
    WriteAllAt(descriptor, oldBytes);
    TruncateTo(descriptor, oldBytes.size());
    fsync(descriptor);
    return false;
}

// Puts bytes in place of the file at path. existing is the open file (-1
// for a new file), with its status and bytes.
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
    bool written = WriteAllAt(temporary, bytes, kFaultTempWrite) && SyncFile(temporary, kFaultTempSync);
    if (close(temporary) != 0) written = false;
    if (!written) {
        unlink(temporaryPath.c_str());
        return false;
    }
    if (StepFails(kFaultRename)) {
        errno = EIO;
    } else if (rename(temporaryPath.c_str(), path.c_str()) == 0) {
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

enum class ProfileEdit { SetValue, DeleteKey, DeleteSection };

bool ApplyEdit(ProfileEdit edit, std::string* text, const char* section, const char* key, const char* value)
{
    switch (edit) {
    case ProfileEdit::SetValue:
        return SetProfileValue(text, section, key, value);
    case ProfileEdit::DeleteKey:
        return DeleteProfileKey(text, section, key);
    case ProfileEdit::DeleteSection:
        return DeleteProfileSection(text, section);
    }
    return false;
}

int32_t WriteProfile(const char* fileName, const char* section, const char* key, const char* value)
{
    // All three null flushes a cache (there is none here) and returns 0, as
    // it does on Windows; a null section alone has nothing to act on.
    if (section == nullptr) return 0;
    ProfileLocation location;
    if (!LocateProfile(fileName, &location)) return 0;
    const ProfileEdit edit = key == nullptr     ? ProfileEdit::DeleteSection
                             : value == nullptr ? ProfileEdit::DeleteKey
                                                : ProfileEdit::SetValue;

    if (!IsDirectory(location.Directory)) {
        // Deleting from a file that cannot exist succeeds: there is nothing
        // to delete.
        if (edit != ProfileEdit::SetValue) return 1;
        // The Windows directory is made on the first write; any other
        // directory must already exist.
        if (!location.InWindowsDirectory || !MakeDirectories(location.Directory)) return 0;
    }

    DirectoryLock lock(location.Directory, LOCK_EX);
    const std::string path = PathOnDisk(location);
    std::string oldBytes;
    struct stat status;
    std::memset(&status, 0, sizeof status);
    const int existing = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (existing < 0) {
        // A read-only file returns 0 and stays as it was.
        if (errno != ENOENT) return 0;
        // Deleting from a missing file returns 1 and creates nothing. (Wine;
        // Windows leaves an empty file. We prefer no junk files: the launcher
        // deletes its WIN.INI key at every exit.)
        if (edit != ProfileEdit::SetValue) return 1;
    } else if (fstat(existing, &status) != 0 || !ReadAll(existing, &oldBytes) || (status.st_mode & 0222) == 0) {
        // A file without any write permission is read-only even to root, as
        // the read-only attribute is to a Windows administrator.
        close(existing);
        return 0;
    }

    std::string bytes = oldBytes;
    int32_t result = 1;
    // When nothing changes (the same value, a missing key or section) the
    // file is not rewritten.
    if (ApplyEdit(edit, &bytes, section, key, value))
        result = ReplaceFile(path, existing, status, oldBytes, bytes) ? 1 : 0;
    if (existing >= 0) close(existing);
    return result;
}

// The file's bytes; false when it is missing or cannot be read, which a read
// treats as an empty file.
bool LoadProfile(const char* fileName, std::string* bytes)
{
    ProfileLocation location;
    if (!LocateProfile(fileName, &location) || !IsDirectory(location.Directory)) return false;
    DirectoryLock lock(location.Directory, LOCK_SH);
    const int descriptor = open(PathOnDisk(location).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool read = ReadAll(descriptor, bytes);
    close(descriptor);
    return read;
}

// Copies text cut to size-1 bytes and its NUL; returns the bytes copied. An
// exact fit and a cut both return size-1.
uint32_t CopyCut(const std::string& text, char* buffer, uint32_t size)
{
    const size_t count = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<uint32_t>(count);
}

// A list of NUL-ended names and one more NUL. A list too long for the buffer
// is cut to size-2 bytes and ended by two NULs, returning size-2.
uint32_t CopyNameList(const std::string& list, char* buffer, uint32_t size)
{
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        if (list.empty() && size >= 2) buffer[1] = '\0';
        return static_cast<uint32_t>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

} // namespace

uint32_t OsGetPrivateProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                                   uint32_t size, const char* fileName)
{
    // nSize 0 returns 0 and leaves the buffer untouched.
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    return WithoutExceptions(0u, [&] {
        std::string text;
        // A null file name means WIN.INI. A missing file reads as an empty
        // one: the default comes back.
        if (!LoadProfile(fileName != nullptr ? fileName : kWinIniName, &text)) text.clear();
        if (section == nullptr || key == nullptr) return CopyNameList(ProfileNameList(text, section), buffer, size);
        std::string value;
        // The default is used when the file, the section or the key is
        // missing.
        if (!FindProfileValue(text, section, key, &value)) value = ProfileDefaultText(defaultText);
        return CopyCut(value, buffer, size);
    });
}

int32_t OsWritePrivateProfileString(const char* section, const char* key, const char* value, const char* fileName)
{
    return WithoutExceptions(
        0, [&] { return WriteProfile(fileName != nullptr ? fileName : kWinIniName, section, key, value); });
}

uint32_t OsGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size)
{
    return OsGetPrivateProfileString(section, key, defaultText, buffer, size, kWinIniName);
}

int32_t OsWriteProfileString(const char* section, const char* key, const char* value)
{
    return OsWritePrivateProfileString(section, key, value, kWinIniName);
}
