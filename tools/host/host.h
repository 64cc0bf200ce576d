// What ovrun needs of its system beyond the settings files, which go through
// the platform layer like the launcher's: paths, starting the launcher and
// waiting for it. One file per target.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The launcher's file name on this target.
extern const char kLauncherFileName[];
// True where '\' separates path components as '/' does.
extern const bool kBackslashIsSeparator;

// The absolute form of path; empty when it cannot be had (on Linux the path
// must exist: symbolic links are resolved).
std::string AbsolutePath(const std::string& path);
std::string CurrentDirectoryPath();
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// True when path can be appended to, or created; nothing is left behind.
bool CanAppendTo(const std::string& path);
// Why the Windows directory as this environment sets it cannot be used (on
// Linux, WINDIR set but empty, which the launcher would take for unset, or
// naming no directory, which the launcher would create); empty when it can.
std::string WindowsDirectoryProblem();

struct LauncherEnd {
    bool Started = false;  // false: Failure says why it could not be started
    bool TimedOut = false; // it outlived the limit and was ended
    bool Exited = false;   // it ended through exit with Status (else a signal)
    int Status = 0;        // the exit status, or the signal's number
    std::string Failure;
};

// Starts the program at path with commandLine as its command line (on
// Linux, with path as its only argument), inheriting the standard handles,
// the environment and the current directory, and waits until it ends, or
// for timeoutSeconds when that is not 0: then it ends the launcher (on
// Windows with every process it started) and reports TimedOut.
// Interrupts from the terminal go to the launcher; ovrun waits on.
LauncherEnd RunLauncher(const std::string& path, const std::string& commandLine, long timeoutSeconds);

// Puts standard output in the mode WriteText expects: on Windows, binary,
// so that redirected output gets the UTF-8 bytes exactly.
void PrepareOutput();

// --- For replays -----------------------------------------------------------

// True where each run of the launcher can be given a Windows directory of its
// own (Linux, through $WINDIR); on Windows the settings files are the
// system's.
extern const bool kPrivateWindowsDirectory;

// A program run for a replay: standard input from the null device, standard
// output and error into OutputPath.
struct ProgramRun {
    std::string Path;
    std::string CommandLine;
    std::string Directory;                                        // its current directory
    std::vector<std::pair<std::string, std::string>> Environment; // set on top of ovrun's
    std::vector<std::string> Unset;                               // taken out of ovrun's
    std::string OutputPath;
    long TimeoutSeconds = 0;
};

// Like RunLauncher, but safe to call from several threads at once; an
// interrupt (see CatchInterrupts) ends the program too, which then counts
// as ended by a signal (Linux) or with status 3 (Windows).
LauncherEnd RunProgram(const ProgramRun& run);

// From now on Ctrl+C (and on Linux SIGTERM) does not end ovrun: it ends the
// programs it runs, and Interrupted() turns true.
void CatchInterrupts();
bool Interrupted();

// A new folder, readable by its owner alone, under the system's folder for
// temporary files; empty when none can be made.
std::string MakeScratchFolder();
bool MakeFolder(const std::string& path);
// A copy of the program file at from, runnable at to.
bool CopyProgram(const std::string& from, const std::string& to);
// The folder and everything in it.
void RemoveFolder(const std::string& path);
// The names of the files (not folders) in the folder, in no order.
std::vector<std::string> FilesIn(const std::string& folder);

// Calls work(0) to work(count - 1), at most jobs at a time (on Windows one
// after the other).
void RunSideBySide(size_t count, unsigned jobs, const std::function<void(size_t)>& work);
unsigned ProcessorCount();
