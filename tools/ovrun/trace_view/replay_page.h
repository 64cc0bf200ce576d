// The page of `ovrun replay --html`: the summary of a replay run, each
// failure's recorded and replayed runs side by side up to the first
// difference and a few lines after it, the folders each trace was moved
// into, and each trace's own page, drawn on request.
#pragma once

#include <string>
#include <vector>

#include "comparison.h"
#include "relocation.h"
#include "trace.h"

namespace traceview {

// What the page shows of one recorded run that was replayed.
struct ReplayedRun {
    size_t Number = 0;                       // the run in its trace file, from 1
    replay::Relocation Moved;                // the recorded folders and the scratch folders in their place
    std::vector<replay::TraceLine> Recorded; // as moved into the scratch folder; empty when it passed
    std::vector<replay::TraceLine> Replayed; // the replay's own trace; empty when it passed
    replay::Divergence Difference;           // the first, when the run failed
    bool Aligned = false;                    // the difference lies in the events, which the page lines up
};

struct ReplayedTrace {
    std::string Name; // as named on the command line; the page reads the file again
    bool Ran = false; // false: interrupted before it began
    bool Passed = false;
    std::string Message; // why it failed, as the report says
    double Seconds = 0;
    std::vector<ReplayedRun> Runs;
};

// Lines shown after the first difference.
constexpr size_t kContextAfterDifference = 5;

std::string ReplayPage(const std::vector<ReplayedTrace>& traces);

} // namespace traceview
