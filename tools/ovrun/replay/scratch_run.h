// One trace replayed: a scratch folder per trace, the launcher and the
// stand-in copied into it, the settings rebuilt from the trace's header, one
// launcher run per recorded run, and the comparison with what was recorded.
#pragma once

#include <string>
#include <vector>

#include "replay.h"
#include "replay_page.h"
#include "replay_report.h"

namespace replay {

// Replays the trace at result->Path and fills in the result. A replay that
// finds the replays cannot run here (the launcher cannot be started, the
// scratch folder cannot be made) says so in result->CannotRun, and from
// then on CannotRunSeen() is true, so that no other replay begins. Each run
// replayed is added to shownRuns, when given, for the replay's page.
void ReplayTrace(TraceResult* result, const std::string& launcher, const std::string& standin,
                 const ReplayOptions& options, std::vector<traceview::ReplayedRun>* shownRuns);

bool CannotRunSeen();

} // namespace replay
