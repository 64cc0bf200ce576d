// Where the Linux build keeps its Windows directory (Orvane.ini, win.ini):
// the rule behind OsGetWindowsDirectory and the profile files' bare names.
#pragma once

#include <string>

// $WINDIR when set and not empty, else "orvane" under $XDG_CONFIG_HOME (when
// absolute) or ~/.config. Empty when no home can be found. Not created here.
std::string WindowsDirectory();
