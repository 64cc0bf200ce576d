// One trace replayed: a scratch folder per trace, the launcher and the
// stand-in copied into it, the settings rebuilt from the trace's header, one
// launcher run per recorded run, and the comparison with what was recorded.
#pragma once

#include <string>
#include <vector>

#include "replay.h"
#include "replay_page.h"

namespace replay {

struct TraceResult {
    explicit TraceResult(const std::string& path) : Name(path), Path(path) {}
    std::string Name;
    std::string Path;
    bool Ran = false; // false: interrupted before it began
    bool Passed = false;
    std::string Message; // why it failed
    double Seconds = 0;
    std::string KeptFolder;                   // with --keep
    std::vector<traceview::ReplayedRun> Runs; // for --html
};

// Replays the trace at result->Path and fills in the result.
void ReplayTrace(TraceResult* result, const std::string& launcher, const std::string& standin,
                 const ReplayOptions& options);

} // namespace replay
