// Linux: fsync and rename, a lock file taken with flock, signal handlers,
// and SIGKILL for the test hook.
#include "run_guard.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host_signals.h"

namespace {

const char kLockFileName[] = ".ovrun.lock";
int LockFile = -1; // open while the lock is held

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool FlushFolder(const std::string& path)
{
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool flushed = fsync(folder) == 0;
    close(folder);
    return flushed;
}

bool WriteAll(int file, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = write(file, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<size_t>(count);
    }
    return true;
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes)
{
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    bytes->clear();
    char buffer[65536];
    bool read = true;
    for (;;) {
        const ssize_t count = ::read(file, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            read = count == 0;
            break;
        }
        bytes->append(buffer, static_cast<size_t>(count));
    }
    close(file);
    return read;
}

bool WriteFileDurably(const std::string& path, const std::string& bytes)
{
    const std::string temporary = path + ".new";
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0) return false;
    // The file in path's place keeps its permissions.
    struct stat old;
    bool written = (stat(path.c_str(), &old) != 0 || fchmod(file, old.st_mode & 07777) == 0) && WriteAll(file, bytes) &&
                   fsync(file) == 0;
    written = close(file) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return FlushFolder(path);
}

bool ReplaceUnchangedFile(const std::string& path, const std::string& seen, const std::string& bytes)
{
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    while (flock(folder, LOCK_EX) != 0 && errno == EINTR) {}
    std::string now;
    const bool replaced = !ReadWholeFile(path, &now) || now != seen || WriteFileDurably(path, bytes);
    close(folder); // which releases the lock
    return replaced;
}

bool RemoveFileDurably(const std::string& path)
{
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    return FlushFolder(path);
}

bool FlushFileToDisk(const std::string& path)
{
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return errno == ENOENT;
    const bool flushed = fsync(file) == 0;
    close(file);
    return flushed;
}

long CurrentProcessId() { return static_cast<long>(getpid()); }

// flock's lock goes with the open file, so the system drops it when the
// process ends, however it ends; the file stays, holding the last holder's id.
bool LockWindowsDirectory(const std::string& directory, long waitSeconds, std::string* holder, std::string* problem)
{
    const std::string path = directory + "/" + kLockFileName;
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        *problem = "cannot open the lock file " + path + " (" + std::strerror(errno) +
                   "): a run needs the Windows directory writable, for its lock and its journal";
        return false;
    }
    const time_t deadline = time(nullptr) + waitSeconds;
    while (flock(file, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *problem = "cannot lock " + path;
            close(file);
            return false;
        }
        if (time(nullptr) >= deadline || EndRequested()) {
            ReadWholeFile(path, holder);
            close(file);
            return false;
        }
        const timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    // Kept open, and so locked, until the process ends. Without the id, the
    // lock holds all the same: only another run's message lacks it.
    LockFile = file;
    const std::string id = std::to_string(getpid());
    const bool noted =
        ftruncate(file, 0) == 0 && pwrite(file, id.data(), id.size(), 0) == static_cast<ssize_t>(id.size());
    static_cast<void>(noted);
    return true;
}

void UnlockWindowsDirectory()
{
    if (LockFile >= 0) close(LockFile);
    LockFile = -1;
}

void CatchEndRequests()
{
    struct sigaction note = {};
    note.sa_handler = NoteEndRequest;
    sigaction(SIGTERM, &note, nullptr);
    sigaction(SIGHUP, &note, nullptr);
}

bool EndRequested() { return EndRequestSeen != 0; }

void KillPoint()
{
    static const char* const at = std::getenv("OVRUN_TEST_KILL_AT");
    static long count = 0;
    if (at != nullptr && ++count == std::atol(at)) kill(getpid(), SIGKILL);
}
