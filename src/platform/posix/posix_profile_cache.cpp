// The profile layer's read cache: the last few files read, kept split into
// lines and checked against the file at every call.
#include "posix_profile_cache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>

#include "posix_paths.h"
#include "posix_profile_file.h"

// Changes that others make are seen by the next call, as the real functions
// see them: every call checks the file again. An entry is used without
// reading the file only when the file has the identity it was read with
// (device, inode, size, modification and change times to the nanosecond)
// and those times were already in the past when it was read, so that any
// later change, even one of the same size within the same second, gives the
// file other times. Otherwise the file is read again, and parsed again only
// when its bytes changed.
//
// The layer serves one thread, as the launcher and the tools have: the
// cache takes no lock of its own.

namespace {

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

CachedProfile* Used(CachedProfile* entry)
{
    entry->LastUse = ++ProfileCache().Uses;
    return entry;
}

} // namespace

ProfileCacheStatisticsRecord ProfileCacheStatistics;

void DropProfileCacheForTests()
{
    for (auto& entry : ProfileCache().Entries)
        entry.reset();
}

void ForgetCachedProfile(const std::string& path, const struct stat* status)
{
    for (auto& entry : ProfileCache().Entries) {
        if (entry == nullptr) continue;
        if (entry->Path == path ||
            (status != nullptr && entry->Identity.Device == status->st_dev && entry->Identity.Inode == status->st_ino))
            entry.reset();
    }
}

const ProfileIndex* ReadProfileIndex(const char* fileName)
{
    const ProfileLocation* place = LocateProfile(fileName);
    if (place == nullptr) return nullptr;
    const ProfileLocation& location = *place;
    // The usual case, the exact name of a regular file, takes one lstat.
    struct stat status;
    if (lstat(location.ExactPath.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        CachedProfile* entry = FindCached(location.ExactPath);
        if (entry != nullptr && entry->Settled && SameIdentity(entry->Identity, IdentityOf(status)))
            return &Used(entry)->Index;
    }

    if (!DirectoryExists(location.Directory)) return nullptr;
    DirectoryLock lock;
    const std::string path = LockedPathOnDisk(location, LOCK_SH, &lock);
    // Taken before the file's status: a change after it stamps a later time.
    const timespec now = FileClockNow();
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        ForgetCachedProfile(path, nullptr);
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
        ForgetCachedProfile(path, nullptr);
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
