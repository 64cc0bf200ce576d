// One trace replayed: a scratch folder per trace, the launcher and the
// stand-in copied into it, the settings rebuilt from the trace's header, one
// launcher run per recorded run, and the comparison with what was recorded.
#pragma once

#include <string>

#include "replay.h"
#include "replay_report.h"

namespace replay {

// Replays the trace at result->Path and fills in the result. A replay that
// finds the replays cannot run here (the launcher cannot be started, the
// scratch folder cannot be made) says so in result->CannotRun, and from
// then on CannotRunSeen() is true, so that no other replay begins.
void ReplayTrace(TraceResult* result, const std::string& launcher, const std::string& standin,
                 const ReplayOptions& options);

bool CannotRunSeen();

bool WriteBytes(const std::string& path, const std::string& bytes);

} // namespace replay
