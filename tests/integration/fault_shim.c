/* A preloaded library for the end-to-end fault loops: it counts the file
 * system calls that a program makes on the Windows directory ($WINDIR and
 * the files in it) and makes call N of them fail, alone or with every later
 * one. Other files (the stand-in's script and transcript) pass untouched.
 *
 *   OV_FAULT_AT       the call that fails (1 = the first); unset or 0: none
 *   OV_FAULT_ONWARDS  set and not 0: every call from OV_FAULT_AT on fails too
 *   OV_FAULT_LOG      a file that gets one line per counted call:
 *                     "N CALL TARGET ok|failed"
 *   OV_FAULT_NO_NEW_FILES  set and not 0: the directory refuses new entries,
 *                     as one we may not write does: creating a missing file,
 *                     renaming, removing and making directories in it fail
 *                     with EACCES (still counted, whatever the plan says)
 *   OV_FAULT_STATUS_CALLS  set and not 0: stat, lstat, fstat and opendir
 *                     are counted (and fail with EIO) as well
 *   OV_FAULT_STILL_CLOCK   set and not 0: the coarse real-time clock stands
 *                     at the epoch. The profile layer's read cache trusts a
 *                     file unread only when its times lie far enough behind
 *                     that clock: so no file ever does, every read reads the
 *                     file, and a run makes the same calls whatever its timing
 *
 * A failed call changes nothing on disk and reports the error a failing
 * disk or a directory we may not write would give: EACCES for opening,
 * creating, renaming and removing, ENOSPC for writing, reserving and
 * truncating, EIO for reading, flushing and locking. A failed close still
 * releases the descriptor, as the kernel does. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#define TRACKED_DESCRIPTORS 1024 /* descriptors above this are never the Windows directory's */
#define PATH_CAPACITY 4096

static char windowsDir[PATH_CAPACITY]; /* $WINDIR without a trailing '/'; empty: count nothing */
static unsigned long failAt;           /* 0: nothing fails */
static int failOnwards;
static int noNewFiles;
static int stillClock;
static int statusCalls;
static unsigned long calls;
static int logDescriptor = -1;
static unsigned char tracked[TRACKED_DESCRIPTORS]; /* 1: opened on the Windows directory */

static int (*realOpen)(const char*, int, ...);
static int (*realOpenat)(int, const char*, int, ...);
static int (*realClose)(int);
static ssize_t (*realRead)(int, void*, size_t);
static ssize_t (*realWrite)(int, const void*, size_t);
static ssize_t (*realPwrite)(int, const void*, size_t, off_t);
static int (*realFsync)(int);
static int (*realFdatasync)(int);
static int (*realFtruncate)(int, off_t);
static int (*realFallocate)(int, int, off_t, off_t);
static int (*realPosixFallocate)(int, off_t, off_t);
static int (*realFlock)(int, int);
static int (*realRename)(const char*, const char*);
static int (*realUnlink)(const char*);
static int (*realMkdir)(const char*, mode_t);
static int (*realClockGettime)(clockid_t, struct timespec*);
static int (*realStat)(const char*, struct stat*);
static int (*realLstat)(const char*, struct stat*);
static int (*realFstat)(int, struct stat*);
static DIR* (*realOpendir)(const char*);

static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

/* Run before the program's own code; also from the first wrapped call, in
 * case a library's initialiser runs earlier. */
__attribute__((constructor)) static void Initialise(void)
{
    static int done;
    if (done) return;
    done = 1;
    realOpen = (int (*)(const char*, int, ...))Next("open");
    realOpenat = (int (*)(int, const char*, int, ...))Next("openat");
    realClose = (int (*)(int))Next("close");
    realRead = (ssize_t(*)(int, void*, size_t))Next("read");
    realWrite = (ssize_t(*)(int, const void*, size_t))Next("write");
    realPwrite = (ssize_t(*)(int, const void*, size_t, off_t))Next("pwrite");
    realFsync = (int (*)(int))Next("fsync");
    realFdatasync = (int (*)(int))Next("fdatasync");
    realFtruncate = (int (*)(int, off_t))Next("ftruncate");
    realFallocate = (int (*)(int, int, off_t, off_t))Next("fallocate");
    realPosixFallocate = (int (*)(int, off_t, off_t))Next("posix_fallocate");
    realFlock = (int (*)(int, int))Next("flock");
    realRename = (int (*)(const char*, const char*))Next("rename");
    realUnlink = (int (*)(const char*))Next("unlink");
    realMkdir = (int (*)(const char*, mode_t))Next("mkdir");
    realClockGettime = (int (*)(clockid_t, struct timespec*))Next("clock_gettime");
    realStat = (int (*)(const char*, struct stat*))Next("stat");
    realLstat = (int (*)(const char*, struct stat*))Next("lstat");
    realFstat = (int (*)(int, struct stat*))Next("fstat");
    realOpendir = (DIR * (*)(const char*)) Next("opendir");

    const char* windir = getenv("WINDIR");
    if (windir != NULL && strlen(windir) < PATH_CAPACITY) {
        strcpy(windowsDir, windir);
        size_t length = strlen(windowsDir);
        while (length > 1 && windowsDir[length - 1] == '/')
            windowsDir[--length] = '\0';
    }
    const char* at = getenv("OV_FAULT_AT");
    failAt = at != NULL ? strtoul(at, NULL, 10) : 0;
    const char* onwards = getenv("OV_FAULT_ONWARDS");
    failOnwards = onwards != NULL && onwards[0] != '\0' && strcmp(onwards, "0") != 0;
    const char* refuse = getenv("OV_FAULT_NO_NEW_FILES");
    noNewFiles = refuse != NULL && refuse[0] != '\0' && strcmp(refuse, "0") != 0;
    const char* status = getenv("OV_FAULT_STATUS_CALLS");
    statusCalls = status != NULL && status[0] != '\0' && strcmp(status, "0") != 0;
    const char* still = getenv("OV_FAULT_STILL_CLOCK");
    stillClock = still != NULL && still[0] != '\0' && strcmp(still, "0") != 0;
    const char* log = getenv("OV_FAULT_LOG");
    if (log != NULL && log[0] != '\0') logDescriptor = realOpen(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

static int InWindowsDir(const char* path)
{
    const size_t length = strlen(windowsDir);
    return length > 0 && path != NULL && strncmp(path, windowsDir, length) == 0 &&
           (path[length] == '\0' || path[length] == '/');
}

static int Tracked(int descriptor)
{
    return descriptor >= 0 && descriptor < TRACKED_DESCRIPTORS && tracked[descriptor];
}

static void Track(int descriptor, int on)
{
    if (descriptor >= 0 && descriptor < TRACKED_DESCRIPTORS) tracked[descriptor] = (unsigned char)on;
}

/* Counts one call; true when it must fail. Logs it either way. */
static int CountedCallFails(const char* call, const char* target)
{
    ++calls;
    const int fails = failAt != 0 && (calls == failAt || (failOnwards && calls > failAt));
    if (logDescriptor >= 0) {
        char line[PATH_CAPACITY + 64];
        const int length = snprintf(line, sizeof line, "%lu %s %s %s\n", calls, call, target != NULL ? target : "-",
                                    fails ? "failed" : "ok");
        if (length > 0) realWrite(logDescriptor, line, (size_t)length < sizeof line ? (size_t)length : sizeof line - 1);
    }
    return fails;
}

static const char* DescriptorName(int descriptor)
{
    static char name[32];
    snprintf(name, sizeof name, "fd%d", descriptor);
    return name;
}

/* A relative path (openat) is taken as a new file: the launcher makes none. */
static int RefusedNewFile(const char* path, int flags)
{
    struct stat status;
    return noNewFiles && (flags & O_CREAT) && (path[0] != '/' || realStat(path, &status) != 0);
}

static int Fail(int error)
{
    errno = error;
    return -1;
}

static mode_t ModeArgument(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(arguments, int) : 0;
}

int open(const char* path, int flags, ...)
{
    Initialise();
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    if (!InWindowsDir(path)) return realOpen(path, flags, mode);
    if (CountedCallFails("open", path) || RefusedNewFile(path, flags)) return Fail(EACCES);
    const int descriptor = realOpen(path, flags, mode);
    Track(descriptor, 1);
    return descriptor;
}
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int directory, const char* path, int flags, ...)
{
    Initialise();
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    /* Relative to a directory descriptor: counted when that descriptor is the Windows directory's. */
    const int counted = path[0] == '/' ? InWindowsDir(path) : Tracked(directory);
    if (!counted) return realOpenat(directory, path, flags, mode);
    if (CountedCallFails("openat", path) || RefusedNewFile(path, flags)) return Fail(EACCES);
    const int descriptor = realOpenat(directory, path, flags, mode);
    Track(descriptor, 1);
    return descriptor;
}
int openat64(int directory, const char* path, int flags, ...) __attribute__((alias("openat")));

int close(int descriptor)
{
    Initialise();
    if (!Tracked(descriptor)) return realClose(descriptor);
    const int fails = CountedCallFails("close", DescriptorName(descriptor));
    Track(descriptor, 0);
    const int result = realClose(descriptor);
    return fails ? Fail(EIO) : result;
}

ssize_t read(int descriptor, void* buffer, size_t count)
{
    Initialise();
    if (!Tracked(descriptor)) return realRead(descriptor, buffer, count);
    if (CountedCallFails("read", DescriptorName(descriptor))) return Fail(EIO);
    return realRead(descriptor, buffer, count);
}

ssize_t write(int descriptor, const void* buffer, size_t count)
{
    Initialise();
    if (!Tracked(descriptor)) return realWrite(descriptor, buffer, count);
    if (CountedCallFails("write", DescriptorName(descriptor))) return Fail(ENOSPC);
    return realWrite(descriptor, buffer, count);
}

ssize_t pwrite(int descriptor, const void* buffer, size_t count, off_t offset)
{
    Initialise();
    if (!Tracked(descriptor)) return realPwrite(descriptor, buffer, count, offset);
    if (CountedCallFails("pwrite", DescriptorName(descriptor))) return Fail(ENOSPC);
    return realPwrite(descriptor, buffer, count, offset);
}
ssize_t pwrite64(int descriptor, const void* buffer, size_t count, off_t offset) __attribute__((alias("pwrite")));

int fsync(int descriptor)
{
    Initialise();
    if (!Tracked(descriptor)) return realFsync(descriptor);
    if (CountedCallFails("fsync", DescriptorName(descriptor))) return Fail(EIO);
    return realFsync(descriptor);
}

int fdatasync(int descriptor)
{
    Initialise();
    if (!Tracked(descriptor)) return realFdatasync(descriptor);
    if (CountedCallFails("fdatasync", DescriptorName(descriptor))) return Fail(EIO);
    return realFdatasync(descriptor);
}

int ftruncate(int descriptor, off_t length)
{
    Initialise();
    if (!Tracked(descriptor)) return realFtruncate(descriptor, length);
    if (CountedCallFails("ftruncate", DescriptorName(descriptor))) return Fail(ENOSPC);
    return realFtruncate(descriptor, length);
}
int ftruncate64(int descriptor, off_t length) __attribute__((alias("ftruncate")));

int fallocate(int descriptor, int mode, off_t offset, off_t length)
{
    Initialise();
    if (!Tracked(descriptor)) return realFallocate(descriptor, mode, offset, length);
    if (CountedCallFails("fallocate", DescriptorName(descriptor))) return Fail(ENOSPC);
    return realFallocate(descriptor, mode, offset, length);
}
int fallocate64(int descriptor, int mode, off_t offset, off_t length) __attribute__((alias("fallocate")));

/* Returns the error number rather than setting errno. */
int posix_fallocate(int descriptor, off_t offset, off_t length)
{
    Initialise();
    if (!Tracked(descriptor)) return realPosixFallocate(descriptor, offset, length);
    if (CountedCallFails("posix_fallocate", DescriptorName(descriptor))) return ENOSPC;
    return realPosixFallocate(descriptor, offset, length);
}
int posix_fallocate64(int descriptor, off_t offset, off_t length) __attribute__((alias("posix_fallocate")));

int flock(int descriptor, int operation)
{
    Initialise();
    if (!Tracked(descriptor)) return realFlock(descriptor, operation);
    if (CountedCallFails("flock", DescriptorName(descriptor))) return Fail(EIO);
    return realFlock(descriptor, operation);
}

int rename(const char* from, const char* to)
{
    Initialise();
    if (!InWindowsDir(from) && !InWindowsDir(to)) return realRename(from, to);
    if (CountedCallFails("rename", to) || noNewFiles) return Fail(EACCES);
    return realRename(from, to);
}

int unlink(const char* path)
{
    Initialise();
    if (!InWindowsDir(path)) return realUnlink(path);
    if (CountedCallFails("unlink", path) || noNewFiles) return Fail(EACCES);
    return realUnlink(path);
}

int mkdir(const char* path, mode_t mode)
{
    Initialise();
    if (!InWindowsDir(path)) return realMkdir(path, mode);
    if (CountedCallFails("mkdir", path) || noNewFiles) return Fail(EACCES);
    return realMkdir(path, mode);
}

int clock_gettime(clockid_t clock, struct timespec* time)
{
    Initialise();
    if (!stillClock || clock != CLOCK_REALTIME_COARSE) return realClockGettime(clock, time);
    time->tv_sec = 0;
    time->tv_nsec = 0;
    return 0;
}

int stat(const char* path, struct stat* status)
{
    Initialise();
    if (!statusCalls || !InWindowsDir(path)) return realStat(path, status);
    if (CountedCallFails("stat", path)) return Fail(EIO);
    return realStat(path, status);
}

int lstat(const char* path, struct stat* status)
{
    Initialise();
    if (!statusCalls || !InWindowsDir(path)) return realLstat(path, status);
    if (CountedCallFails("lstat", path)) return Fail(EIO);
    return realLstat(path, status);
}

int fstat(int descriptor, struct stat* status)
{
    Initialise();
    if (!statusCalls || !Tracked(descriptor)) return realFstat(descriptor, status);
    if (CountedCallFails("fstat", DescriptorName(descriptor))) return Fail(EIO);
    return realFstat(descriptor, status);
}

DIR* opendir(const char* path)
{
    Initialise();
    if (!statusCalls || !InWindowsDir(path)) return realOpendir(path);
    if (CountedCallFails("opendir", path)) {
        errno = EIO;
        return NULL;
    }
    return realOpendir(path);
}
