// `ovrun replay`: each session trace run again as a regression test, the
// launcher with the stand-in engine beside it in a scratch folder of its
// own, the stand-in in strict mode with the trace as its script, and the
// replay's own trace compared with the recorded one.
#pragma once

#include <string>
#include <vector>

namespace replay {

struct ReplayOptions {
    std::vector<std::string> Traces; // files and folders, as given
    std::string Launcher;            // --launcher; empty: the one beside ovrun
    std::string Standin;             // --standin; empty: from the build or the package
    std::string Junit;               // --junit FILE; empty: none
    std::string Html;                // --html FILE: the page of the run; empty: none
    unsigned Jobs = 0;               // --jobs; 0: one per processor
    bool Keep = false;               // --keep: the scratch folders stay
    long TimeoutSeconds = 0;         // --timeout; 0: kDefaultTimeoutSeconds
    long WaitSeconds = 5;            // --wait: for another run on the Windows directory (Windows)
    bool Help = false;
};

// How long one run of a trace may take unless --timeout says otherwise: a
// damaged trace must never hang a suite.
constexpr long kDefaultTimeoutSeconds = 60;

// Fills options from the arguments after "replay". False with a one-line
// reason in error for wrong usage.
bool ParseReplayArguments(int argc, const char* const* argv, ReplayOptions* options, std::string* error);

const char* ReplayUsageText();

// Exit statuses.
constexpr int kAllPassed = 0;
constexpr int kSomeFailed = 1;
constexpr int kWrongUsage = 2;
constexpr int kCannotRun = 3;

// Runs the replays, prints one line per trace and the counts; returns the exit status.
int RunReplays(const ReplayOptions& options);

} // namespace replay
