// Where the Linux build keeps its Windows directory (Orvane.ini, win.ini):
// the rule behind OsGetWindowsDirectory and the profile files' bare names.
#pragma once

#include <string>

// $WINDIR when set and not empty (a relative one taken in the starting
// directory), else "orvane" under $XDG_CONFIG_HOME (when absolute) or
// ~/.config. Empty when no home can be found, or for a relative $WINDIR when
// the starting directory cannot be named. Not created here.
std::string WindowsDirectory();

// The current directory at this function's first call, kept for the rest of
// the process; empty when it could not be named then. The layer calls it
// before it first changes the current directory, and whenever it places the
// Windows directory, so that it is the directory the program started in.
const std::string& StartingDirectory();

// The variables WindowsDirectory() reads: while they keep their values it
// gives the same directory.
enum WindowsDirectoryVariable { kWindirVariable, kConfigHomeVariable, kHomeVariable };
constexpr int kWindowsDirectoryVariableCount = 3;
constexpr const char* kWindowsDirectoryVariables[kWindowsDirectoryVariableCount] = {"WINDIR", "XDG_CONFIG_HOME",
                                                                                    "HOME"};
