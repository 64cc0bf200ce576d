// What ovrun needs of its system beyond the settings files, which go through
// the platform layer like the launcher's: paths, starting the launcher and
// waiting for it. One file per target.
#pragma once

#include <string>

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
