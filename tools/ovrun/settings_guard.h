// What every ovrun command does before it touches a settings file: it takes
// the lock of the Windows directory, so that one run at a time uses it, and
// puts back what the journal of an ended run holds.
#pragma once

#include <string>

// How long a run waits for another on the same Windows directory unless
// --wait says otherwise.
constexpr long kDefaultWaitSeconds = 5;

// Takes the lock of the Windows directory for the rest of the run, waiting
// up to waitSeconds, and recovers an ended run's journal, saying so on
// standard error. Returns 0, or 3 after saying why on standard error
// (another run holds the lock, the journal cannot be put back).
int GuardWindowsDirectory(const std::string& directory, long waitSeconds, const std::string& who);

// For a run that keeps away from the user's Windows directory (a replay on
// Linux): recovers a journal left there when no run holds the lock, and
// gives the lock back. Returns 0, or 3 as above.
int RecoverWindowsDirectory(const std::string& directory, const std::string& who);
