// What the tools need of their system beyond the settings files, which go
// through the platform layer like the launcher's: paths, starting a program
// and waiting for it, binary output, and for replays folders and interrupts.
// One folder per target, posix/ and win32/, chosen once by CMake.
//
// Every path and text here is UTF-8 (on Linux, the bytes the system gives):
// on Windows the wide functions are called, so that a name outside the code
// page, or a path longer than MAX_PATH, is found. The launcher reads its
// settings and its command line in the ANSI code page: what goes to it is
// converted at that edge, and refused where the code page cannot hold it.
#pragma once

#include <cstddef>
#include <cstdio>
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
// The path of the running program; empty when it cannot be had.
std::string OwnProgramPath();
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

// A program to run, and how.
struct ProgramRun {
    std::string Path;
    std::string CommandLine;                                      // on Linux, Path is the only argument
    std::string Directory;                                        // its current directory; empty: ovrun's
    std::vector<std::pair<std::string, std::string>> Environment; // set on top of ovrun's
    std::vector<std::string> Unset;                               // taken out of ovrun's
    // Empty: the program inherits the standard handles. Else standard input
    // comes from the null device, standard output and error go into this file.
    std::string OutputPath;
    long TimeoutSeconds = 0; // 0: no limit
    // True: an interrupt at the terminal reaches the program and ovrun waits
    // on (as system() does). False: the program is ended by an interrupt that
    // CatchInterrupts caught, and then counts as ended by a signal (Linux) or
    // with status 3 (Windows); such runs may go on in several threads at once.
    bool InterruptsReachProgram = true;
};

// The program's arguments in UTF-8 (on Windows from the wide command line).
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// The launcher's spelling of a UTF-8 text (on Windows in the ANSI code
// page); false when the code page has no character for one of it.
bool LauncherTextFromUtf8(const std::string& utf8, std::string* text);
// A text of the launcher's (a path it was given, a setting) in UTF-8.
std::string Utf8FromLauncherText(const std::string& text);
// fopen with a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Starts the program and waits until it ends, or for TimeoutSeconds: then it
// ends it (on Windows with every process it started) and reports TimedOut.
LauncherEnd RunProgram(const ProgramRun& run);

// Puts the stream in binary mode: on Windows the C runtime would turn "\n"
// into "\r\n", and redirected output must get the bytes written exactly.
void UseBinaryOutput(std::FILE* stream);

// --- For replays -----------------------------------------------------------

// True where each run of the launcher can be given a Windows directory of its
// own (Linux, through $WINDIR); on Windows the settings files are the
// system's, so replays there run one at a time.
extern const bool kPrivateWindowsDirectory;

// The value of key in section of the settings file at path, as the launcher
// would read it (the platform layer on Linux, the system on Windows); false
// when the key is absent. Safe to call from several threads at once.
bool ReadSetting(const std::string& path, const std::string& section, const std::string& key, std::string* value);

// From now on Ctrl+C (and on Linux SIGTERM and SIGHUP) does not end ovrun: it ends the
// programs it runs, and Interrupted() turns true.
void CatchInterrupts();
bool Interrupted();

// A new folder, readable by its owner alone, under the system's folder for
// temporary files; empty when none can be made, with *problem naming the
// folder tried and the variable that chose it (TMPDIR, TMP or TEMP).
std::string MakeScratchFolder(std::string* problem);
// The longest path, in bytes, that the launcher and its engine can be given
// (on Windows MAX_PATH's, the ANSI functions' limit).
extern const size_t kLongestPath;
// Why the library file at path cannot be loaded by a program of this
// system (a Windows DLL on Linux, a library of another processor); empty
// when it can.
std::string LibraryProblem(const std::string& path);

bool MakeFolder(const std::string& path);
// A copy of the program file at from, runnable at to.
bool CopyProgram(const std::string& from, const std::string& to);
// The folder and everything in it.
void RemoveFolder(const std::string& path);
// The names of the files (not folders) in the folder, in no order.
std::vector<std::string> FilesIn(const std::string& folder);

// Calls work(0) to work(count - 1), at most jobs at a time (0: one per
// processor). Windows' C++ runtime here has no threads: there they run one
// after the other.
void RunSideBySide(size_t count, unsigned jobs, const std::function<void(size_t)>& work);
