// Where the Linux build keeps its Windows directory (Orvane.ini, win.ini):
// the rule behind OsGetWindowsDirectory and the profile files' bare names.
#pragma once

#include <string>

// $WINDIR when set and not empty, else "orvane" under $XDG_CONFIG_HOME (when
// absolute) or ~/.config. Empty when no home can be found. Not created here.
std::string WindowsDirectory();

// The variables WindowsDirectory() reads: while they keep their values it
// gives the same directory.
enum WindowsDirectoryVariable { kWindirVariable, kConfigHomeVariable, kHomeVariable };
constexpr int kWindowsDirectoryVariableCount = 3;
constexpr const char* kWindowsDirectoryVariables[kWindowsDirectoryVariableCount] = {"WINDIR", "XDG_CONFIG_HOME",
                                                                                    "HOME"};
