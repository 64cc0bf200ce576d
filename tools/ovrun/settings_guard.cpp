// The lock of the Windows directory and the recovery of an ended run's
// journal, with their messages.
#include "settings_guard.h"

#include "console_text.h"
#include "host.h"
#include "journal.h"
#include "paths.h"
#include "run_guard.h"

namespace {

constexpr int kCannotRun = 3;

int Say(const std::string& who, const std::string& message, int status)
{
    WriteText(stderr, who + ": " + message + "\n");
    return status;
}

int Recover(const std::string& directory, const std::string& who)
{
    Journal journal(directory);
    std::string said, problem;
    if (!journal.Recover(&said, &problem)) return Say(who, problem, kCannotRun);
    if (!said.empty()) Say(who, said, 0);
    return 0;
}

} // namespace

int GuardWindowsDirectory(const std::string& directory, long waitSeconds, const std::string& who)
{
    if (directory.empty()) return Say(who, "the Windows directory cannot be named", kCannotRun);
    std::string holder, problem;
    // The layer makes the directory at its first write; the lock comes first.
    for (size_t slash = directory.find_first_of("/\\", 1); slash != std::string::npos;
         slash = directory.find_first_of("/\\", slash + 1))
        MakeFolder(directory.substr(0, slash));
    MakeFolder(directory);
    if (!LockWindowsDirectory(directory, waitSeconds, &holder, &problem)) {
        if (!problem.empty()) return Say(who, problem, kCannotRun);
        if (EndRequested()) return Say(who, "ended by a signal before the run began; nothing was changed", kCannotRun);
        return Say(who,
                   "another test is running in " + directory + " (pid " + (holder.empty() ? "unknown" : holder) + ")",
                   kCannotRun);
    }
    return Recover(directory, who);
}

int RecoverWindowsDirectory(const std::string& directory, const std::string& who)
{
    if (directory.empty() || !IsRegularFile(JoinPath(directory, kJournalFileName))) return 0;
    std::string holder, problem;
    // A run that holds the lock is alive: its journal is its own.
    if (!LockWindowsDirectory(directory, 0, &holder, &problem)) return 0;
    const int status = Recover(directory, who);
    UnlockWindowsDirectory();
    return status;
}
