// Where the Linux build keeps its Windows directory (Orvane.ini, win.ini):
// the platform layer's rule, shared with the tools that must find the same
// folder.
#pragma once

#include <string>

// $WINDIR when set and not empty, else "orvane" under $XDG_CONFIG_HOME (when
// absolute) or ~/.config. Empty when no home can be found. Not created here.
std::string WindowsDirectory();
