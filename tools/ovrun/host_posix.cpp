// Linux: realpath and stat, posix_spawn and waitpid.
#include "host.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform.h"

extern char** environ;

const char kLauncherFileName[] = "ovtst552";
const bool kBackslashIsSeparator = false;

std::string AbsolutePath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string CurrentDirectoryPath() { return AbsolutePath("."); }

bool IsDirectory(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsRegularFile(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A WINDIR set but empty or naming no directory is most often a variable that
// went wrong on its way: the launcher would use another folder, or create
// this one, and run the test without its settings.
std::string WindowsDirectoryProblem()
{
    const char* windir = std::getenv("WINDIR");
    if (windir == nullptr) return "";
    if (windir[0] == '\0') {
        // The layer takes an empty WINDIR as unset: this is the folder it uses.
        char used[4096];
        if (OsGetWindowsDirectory(used, sizeof used) == 0) used[0] = '\0';
        return std::string("WINDIR is set but empty, which the launcher takes as unset (it would use ") + used +
               "); set WINDIR to the Windows directory, or unset it";
    }
    if (!IsDirectory(windir))
        return std::string("WINDIR names no directory (") + windir +
               "), which the launcher would create, finding no settings in it; set WINDIR to the Windows "
               "directory, or unset it";
    return "";
}

namespace {

double SecondsNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Waits for the child to end; with a limit, polls for it and kills it with
// SIGKILL when the limit has passed. Returns waitpid's result.
pid_t WaitForLauncher(pid_t child, long timeoutSeconds, int* status, bool* timedOut)
{
    const double deadline = SecondsNow() + static_cast<double>(timeoutSeconds);
    for (;;) {
        const pid_t waited = waitpid(child, status, timeoutSeconds > 0 ? WNOHANG : 0);
        if (waited < 0 && errno == EINTR) continue;
        if (waited != 0) return waited;
        if (SecondsNow() >= deadline) {
            kill(child, SIGKILL);
            *timedOut = true;
            timeoutSeconds = 0;
            continue;
        }
        const timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

LauncherEnd RunLauncher(const std::string& path, const std::string&, long timeoutSeconds)
{
    LauncherEnd end;
    // As system() does: a Ctrl+C at the terminal ends the launcher, and ovrun
    // lives on to tidy the request and say what happened. The launcher gets
    // the default actions back.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction savedInterrupt, savedQuit;
    sigaction(SIGINT, &ignore, &savedInterrupt);
    sigaction(SIGQUIT, &ignore, &savedQuit);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::string argument0 = path;
    char* argv[] = {&argument0[0], nullptr};
    pid_t child = 0;
    const int error = posix_spawn(&child, path.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        end.Failure = std::strerror(error);
    } else {
        end.Started = true;
        int status = 0;
        if (WaitForLauncher(child, timeoutSeconds, &status, &end.TimedOut) < 0) {
            end.Status = -1;
            end.Exited = true;
        } else if (WIFEXITED(status)) {
            end.Exited = true;
            end.Status = WEXITSTATUS(status);
        } else {
            end.Status = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
    }
    sigaction(SIGINT, &savedInterrupt, nullptr);
    sigaction(SIGQUIT, &savedQuit, nullptr);
    return end;
}

void PrepareOutput() {}
