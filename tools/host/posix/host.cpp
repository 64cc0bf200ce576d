// Linux: realpath and stat, posix_spawn and waitpid, and for replays
// folders, signals and threads. Standard streams are binary already.
#include "host.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "host_signals.h"
#include "platform.h"
#include "read_setting.h"

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

std::string OwnProgramPath()
{
    char path[PATH_MAX];
    const uint32_t length = OsGetModuleFileName(OsGetModuleHandle(nullptr), path, sizeof path);
    return length == 0 || length + 1 >= sizeof path ? "" : std::string(path, length);
}

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

bool CanAppendTo(const std::string& path)
{
    int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (file >= 0) return close(file) == 0;
    if (errno != ENOENT) return false;
    file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file < 0) return false;
    close(file);
    unlink(path.c_str());
    return true;
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

volatile sig_atomic_t InterruptSeen = 0; // set by CatchInterrupts' handler

// No program starts while a thread has a program file open for writing: the
// new process would hold that descriptor until its exec, and a replay
// starting the copy just written would fail with ETXTBSY ("Text file busy").
std::mutex ProgramFiles;

} // namespace

volatile sig_atomic_t EndRequestSeen = 0;
void NoteEndRequest(int) { EndRequestSeen = 1; }

namespace {

// Waits for the child to end and fills end. It polls, so that a SIGTERM
// caught just before a wait is not missed, and kills the child with SIGKILL
// when the limit has passed, an interrupt was seen, or an end was requested.
void WaitForChild(pid_t child, long timeoutSeconds, bool watchInterrupts, LauncherEnd* end)
{
    const double deadline = SecondsNow() + static_cast<double>(timeoutSeconds);
    bool killed = false;
    int status = 0;
    for (;;) {
        const pid_t waited = waitpid(child, &status, WNOHANG);
        if (waited < 0 && errno == EINTR) continue;
        if (waited < 0) {
            end->Exited = true;
            end->Status = -1;
            return;
        }
        if (waited != 0) break;
        const bool interrupted = (watchInterrupts && InterruptSeen) || EndRequestSeen;
        if (!killed && (interrupted || (timeoutSeconds > 0 && SecondsNow() >= deadline))) {
            kill(child, SIGKILL);
            end->TimedOut = !interrupted;
            killed = true;
        }
        const timespec pause = {0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    end->Exited = WIFEXITED(status);
    end->Status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// The child gets the default actions of the signals ovrun ignores or catches.
void DefaultSignals(posix_spawnattr_t* attributes, int first, int second)
{
    posix_spawnattr_init(attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, first);
    sigaddset(&defaults, second);
    posix_spawnattr_setsigdefault(attributes, &defaults);
    posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGDEF);
}

void NoteInterrupt(int) { InterruptSeen = 1; }

// The environment of a run: ovrun's, less what the run takes out or sets
// itself, plus what it sets.
std::vector<std::string> RunEnvironment(const ProgramRun& run)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& unset : run.Unset)
            replaced = replaced || name == unset;
        for (const auto& variable : run.Environment)
            replaced = replaced || name == variable.first;
        if (replaced) continue;
        // A relative WINDIR goes to the program made absolute, as the layer
        // took it here: a launcher of another build that followed it from the
        // test's folder, where it moves, would find no settings there.
        char directory[PATH_MAX];
        if (name == "WINDIR" && text.size() > 7 && text[7] != '/' &&
            OsGetWindowsDirectory(directory, sizeof directory) != 0) {
            entries.push_back("WINDIR=" + std::string(directory));
            continue;
        }
        entries.push_back(text);
    }
    for (const auto& variable : run.Environment)
        entries.push_back(variable.first + "=" + variable.second);
    return entries;
}

} // namespace

LauncherEnd RunProgram(const ProgramRun& run)
{
    LauncherEnd end;
    // As system() does: a Ctrl+C at the terminal ends the program, and ovrun
    // lives on to tidy up and say what happened.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction savedInterrupt, savedQuit;
    if (run.InterruptsReachProgram) {
        sigaction(SIGINT, &ignore, &savedInterrupt);
        sigaction(SIGQUIT, &ignore, &savedQuit);
    }
    std::vector<std::string> entries = RunEnvironment(run);
    std::vector<char*> environment;
    for (std::string& entry : entries)
        environment.push_back(&entry[0]);
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!run.OutputPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, run.OutputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    if (!run.Directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, run.Directory.c_str());
    posix_spawnattr_t attributes;
    DefaultSignals(&attributes, SIGINT, run.InterruptsReachProgram ? SIGQUIT : SIGTERM);
    std::string argument0 = run.Path;
    char* argv[] = {&argument0[0], nullptr};
    pid_t child = 0;
    std::unique_lock<std::mutex> programFiles(ProgramFiles);
    const int error = posix_spawn(&child, run.Path.c_str(), &actions, &attributes, argv, environment.data());
    programFiles.unlock();
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        end.Failure = std::strerror(error);
    } else {
        end.Started = true;
        WaitForChild(child, run.TimeoutSeconds, !run.InterruptsReachProgram, &end);
    }
    if (run.InterruptsReachProgram) {
        sigaction(SIGINT, &savedInterrupt, nullptr);
        sigaction(SIGQUIT, &savedQuit, nullptr);
    }
    return end;
}

void UseBinaryOutput(std::FILE*) {}

// Linux passes bytes through: the launcher's world and ovrun's are one.
std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

bool LauncherTextFromUtf8(const std::string& utf8, std::string* text)
{
    *text = utf8;
    return true;
}

std::string Utf8FromLauncherText(const std::string& text) { return text; }

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

// --- For replays -----------------------------------------------------------

const bool kPrivateWindowsDirectory = true;

// The layer keeps the files it read for the next call, for the launcher, one
// thread: replays side by side take turns. Each replay's settings lie in a
// folder that ovrun never read before its run, so nothing kept from earlier
// stands in for what the launcher wrote there.
bool ReadSetting(const std::string& path, const std::string& section, const std::string& key, std::string* value)
{
    static std::mutex layer;
    std::lock_guard<std::mutex> hold(layer);
    return ReadSettingThroughLayer(path, section, key, value);
}

void CatchInterrupts()
{
    struct sigaction note = {};
    note.sa_handler = NoteInterrupt;
    sigaction(SIGINT, &note, nullptr);
    sigaction(SIGTERM, &note, nullptr);
    sigaction(SIGHUP, &note, nullptr);
}

bool Interrupted() { return InterruptSeen != 0; }

bool MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0700) == 0 || IsDirectory(path); }

bool CopyProgram(const std::string& from, const std::string& to)
{
    std::lock_guard<std::mutex> programFiles(ProgramFiles);
    const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) return false;
    const int target = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    bool copied = target >= 0;
    char buffer[65536];
    while (copied) {
        const ssize_t count = read(source, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            copied = count == 0;
            break;
        }
        copied = write(target, buffer, static_cast<size_t>(count)) == count;
    }
    close(source);
    if (target >= 0 && close(target) != 0) copied = false;
    return copied;
}

void RemoveFolder(const std::string& path)
{
    auto removeEntry = [](const char* entry, const struct stat*, int, FTW*) {
        remove(entry);
        return 0;
    };
    nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (IsRegularFile(folder + "/" + name)) names.push_back(name);
    }
    closedir(directory);
    return names;
}

void RunSideBySide(size_t count, unsigned jobs, const std::function<void(size_t)>& work)
{
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t index = next++; index < count; index = next++)
            work(index);
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < jobs && i < count; ++i)
        threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads)
        thread.join();
}
