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
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "platform.h"
#include "posix_faults.h"
#include "posix_no_throw.h"
#include "posix_paths.h"
#include "posix_profile_cache.h"
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

// --- The read cache -------------------------------------------------------
// The launcher reads one file a dozen times in a row: the last few files
// read are kept split into lines, so that those reads cost one read and one
// parse. Changes that others make are still seen by the next call, as the
// real functions see them: every call checks the file again. An entry is
// used without reading the file only when the file has the identity it was
// read with (device, inode, size, modification and change times to the
// nanosecond) and those times were already in the past when it was read,
// so that any later change, even one of the same size within the same
// second, gives the file other times. Otherwise the file is read again, and
// parsed again only when its bytes changed.

struct FileIdentity {
    dev_t Device;
    ino_t Inode;
    off_t Size;
    timespec Modified;
    timespec Changed;
};

FileIdentity IdentityOf(const struct stat& status)
{
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool SameIdentity(const FileIdentity& a, const FileIdentity& b)
{
    return a.Device == b.Device && a.Inode == b.Inode && a.Size == b.Size && SameTime(a.Modified, b.Modified) &&
           SameTime(a.Changed, b.Changed);
}

// The clock the kernel stamps files with: a change made from now on gets a
// time no earlier than this one.
timespec FileClockNow()
{
    timespec now;
    if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0) {
        now.tv_sec = 0;
        now.tv_nsec = 0;
    }
    return now;
}

// True when both of the file's times lie before `now` by more than its
// clock's step. Times without nanoseconds come from a file system that
// counts whole seconds (two for FAT); the others may count in steps of up
// to milliseconds.
bool TimesSettled(const FileIdentity& identity, const timespec& now)
{
    const bool wholeSeconds = identity.Modified.tv_nsec == 0 && identity.Changed.tv_nsec == 0;
    const long long margin = wholeSeconds ? 2000000000LL : 10000000LL;
    const auto nanoseconds = [](const timespec& t) {
        return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
    };
    const long long limit = nanoseconds(now) - margin;
    return nanoseconds(identity.Modified) < limit && nanoseconds(identity.Changed) < limit;
}

struct CachedProfile {
    std::string Path;      // the file as on disk
    FileIdentity Identity; // as it was when last read
    bool Settled;          // its times lay in the past when it was read
    uint64_t LastUse;      // for eviction: the least recently used goes
    ProfileIndex Index;    // its bytes, split into lines
};

constexpr size_t kCachedProfileCount = 4;

struct ProfileCacheRecord {
    std::mutex Lock; // the profile procedures may be called from several threads
    std::unique_ptr<CachedProfile> Entries[kCachedProfileCount];
    uint64_t Uses = 0;
};

ProfileCacheRecord& ProfileCache()
{
    static ProfileCacheRecord cache;
    return cache;
}

CachedProfile* FindCached(const std::string& path)
{
    for (auto& entry : ProfileCache().Entries) {
        if (entry != nullptr && entry->Path == path) return entry.get();
    }
    return nullptr;
}

CachedProfile* NewCached(const std::string& path)
{
    ProfileCacheRecord& cache = ProfileCache();
    std::unique_ptr<CachedProfile>* slot = &cache.Entries[0];
    for (auto& entry : cache.Entries) {
        if (entry == nullptr) {
            slot = &entry;
            break;
        }
        if (entry->LastUse < (*slot)->LastUse) slot = &entry;
    }
    *slot = std::make_unique<CachedProfile>();
    (*slot)->Path = path;
    return slot->get();
}

// Forgets the file at path, and any other name of the same file.
void DropCached(const std::string& path, const struct stat* status)
{
    for (auto& entry : ProfileCache().Entries) {
        if (entry == nullptr) continue;
        if (entry->Path == path ||
            (status != nullptr && entry->Identity.Device == status->st_dev && entry->Identity.Inode == status->st_ino))
            entry.reset();
    }
}

CachedProfile* Used(CachedProfile* entry)
{
    entry->LastUse = ++ProfileCache().Uses;
    return entry;
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
    if (ApplyEdit(edit, &bytes, section, key, value)) {
        // Even a failed replacement may have touched the file.
        {
            std::lock_guard<std::mutex> guard(ProfileCache().Lock);
            DropCached(path, existing >= 0 ? &status : nullptr);
        }
        result = ReplaceFile(path, existing, status, oldBytes, bytes) ? 1 : 0;
    }
    if (existing >= 0) close(existing);
    return result;
}

// The file split into lines, from the cache when the file has not changed;
// null when it is missing or cannot be read, which a read treats as an
// empty file. Called with the cache's lock held; the index stays valid
// while it is held.
const ProfileIndex* ReadProfileIndex(const char* fileName)
{
    ProfileLocation location;
    if (!LocateProfile(fileName, &location)) return nullptr;
    // The usual case, the exact name of a regular file, takes one lstat.
    const std::string exactPath = JoinPath(location.Directory, location.Name);
    struct stat status;
    if (lstat(exactPath.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        CachedProfile* entry = FindCached(exactPath);
        if (entry != nullptr && entry->Settled && SameIdentity(entry->Identity, IdentityOf(status)))
            return &Used(entry)->Index;
    }

    if (!IsDirectory(location.Directory)) return nullptr;
    DirectoryLock lock(location.Directory, LOCK_SH);
    const std::string path = PathOnDisk(location);
    // Taken before the file's status: a change after it stamps a later time.
    const timespec now = FileClockNow();
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        DropCached(path, nullptr);
        return nullptr;
    }
    CachedProfile* entry = FindCached(path);
    const bool known = fstat(descriptor, &status) == 0;
    if (known && entry != nullptr && entry->Settled && SameIdentity(entry->Identity, IdentityOf(status))) {
        close(descriptor);
        return &Used(entry)->Index;
    }
    std::string bytes;
    if (known && status.st_size > 0) bytes.reserve(static_cast<size_t>(status.st_size));
    const bool read = ReadAll(descriptor, &bytes);
    close(descriptor);
    if (!read) {
        DropCached(path, nullptr);
        return nullptr;
    }
    ++ProfileCacheStatistics.FileReads;
    if (entry == nullptr) entry = NewCached(path);
    entry->Settled = false;
    if (entry->Index.Bytes() != bytes) {
        entry->Index.Assign(std::move(bytes));
        ++ProfileCacheStatistics.Parses;
    }
    // Without a status the entry is never trusted unread.
    std::memset(&entry->Identity, 0, sizeof entry->Identity);
    if (known) entry->Identity = IdentityOf(status);
    entry->Settled = known && TimesSettled(entry->Identity, now);
    return &Used(entry)->Index;
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

ProfileCacheStatisticsRecord ProfileCacheStatistics;

void DropProfileCacheForTests()
{
    ProfileCacheRecord& cache = ProfileCache();
    std::lock_guard<std::mutex> guard(cache.Lock);
    for (auto& entry : cache.Entries)
        entry.reset();
}

uint32_t OsGetPrivateProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                                   uint32_t size, const char* fileName)
{
    // nSize 0 returns 0 and leaves the buffer untouched.
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    return WithoutExceptions(0u, [&] {
        std::lock_guard<std::mutex> guard(ProfileCache().Lock);
        // A null file name means WIN.INI. A missing file reads as an empty
        // one: the default comes back.
        static const ProfileIndex kEmpty;
        const ProfileIndex* index = ReadProfileIndex(fileName != nullptr ? fileName : kWinIniName);
        if (index == nullptr) index = &kEmpty;
        if (section == nullptr || key == nullptr) return CopyNameList(index->NameList(section), buffer, size);
        std::string value;
        // The default is used when the file, the section or the key is
        // missing.
        if (!index->FindValue(section, key, &value)) value = ProfileDefaultText(defaultText);
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
