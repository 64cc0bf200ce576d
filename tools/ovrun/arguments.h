// ovrun's command line, and the request values it turns into. Nothing here
// touches the system, so that the rules can be tested on their own.
#pragma once

#include <string>

enum class TestKind { Window, Project, Console };

struct RunOptions {
    TestKind Kind = TestKind::Console;
    std::string Directory;           // DIR as given; empty for a console without one
    bool AsProgram = false;          // --program: the window test runs the program
    bool Json = false;               // --json: the report as one JSON object
    bool Help = false;               // --help: print the usage and stop
    bool Version = false;            // --version: print the version and stop
    std::string Launcher;            // --launcher PATH; empty: the one beside ovrun
    std::string ExecutableDirectory; // --exe-dir DIR; empty: the launcher's directory
    long TimeoutSeconds = 0;         // --timeout SECONDS; 0: no limit
    std::string TraceFile;           // --trace FILE: the session trace of this run; empty: none
    long WaitSeconds = 5;            // --wait SECONDS: for another run on the Windows directory
};

// The longest --timeout, so that it fits any wait's milliseconds.
constexpr long kLongestTimeoutSeconds = 1000000;

// "--name VALUE" or "--name=VALUE" at argv[*index]. False when it is not
// this option; else true, with the value (the index moved past it), and
// *missing set when there is none.
bool TakeOptionValue(const char* name, int argc, const char* const* argv, int* index, std::string* value,
                     bool* missing);
// --timeout's whole number of seconds, 1 to kLongestTimeoutSeconds, digits
// only; false with the reason in error.
bool ParseSeconds(const std::string& text, long* seconds, std::string* error);
// --wait's, the same from 0.
bool ParseWaitSeconds(const std::string& text, long* seconds, std::string* error);

// Fills options from argv[1..argc-1]. Returns false with a one-line reason
// in error (no "ovrun:" prefix, no line end) for wrong usage.
bool ParseArguments(int argc, const char* const* argv, RunOptions* options, std::string* error);

// The usage text, several lines, each ended by "\n".
const char* UsageText();

// PARAM2: "F" window, "P" project, "I" console.
const char* ModeLetter(TestKind kind);
// PARAM1: "P" for a window run as a program and for a project (which the
// launcher always runs as a program), else empty.
const char* ProgramFlag(const RunOptions& options);

// The launcher's command line as ovrun starts it: its path alone, in double
// quotes when it holds a blank. This is what LIGNEDECOMMANDE records.
std::string LauncherCommandLine(const std::string& launcherPath);

// path without its trailing separators ('/', and '\' when backslashIsSeparator),
// but never shorter than its root ("/", "C:\").
std::string WithoutTrailingSeparators(const std::string& path, bool backslashIsSeparator);
