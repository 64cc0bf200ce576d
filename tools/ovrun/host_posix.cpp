// Linux: realpath and stat, posix_spawn and waitpid, UTF-8 to the terminal.
#include "host.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "posix_windows_directory.h"

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

std::string WindowsDirectoryPath() { return WindowsDirectory(); }

LauncherEnd RunLauncher(const std::string& path, const std::string&)
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
        pid_t waited;
        do {
            waited = waitpid(child, &status, 0);
        } while (waited < 0 && errno == EINTR);
        if (waited < 0) {
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

void WriteText(std::FILE* stream, const std::string& utf8)
{
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}
