// Where a replay's directories go in its scratch folder: each given the
// length of the recorded directory it stands for, so that every command
// keeps its length and meets the engine's 254-character limit as it did;
// and the way back, from the scratch folder to the recorded directories,
// for the texts a report shows.
#pragma once

#include <string>

#include "relocation.h"
#include "trace.h"

namespace replay {

// The directories under folder for the request's programs, test and
// executable directories; each as long as the recorded one where a path of
// that length can be had under folder within longestPath bytes, else a
// short name. Components are joined with separator.
ReplayFolders LayOutFolders(const std::string& folder, const TraceRequest& request, char separator, size_t longestPath);

// The relocation that takes texts of the scratch folder back to the
// recorded directories.
Relocation Reversed(const Relocation& relocation);

// Why the run cannot be replayed when its commands are moved by relocation:
// a command that crosses the engine's limit, one way or the other. Empty
// when none does; else *line is the trace file's line.
std::string CommandLengthProblem(const TraceRun& run, const Relocation& relocation, int* line);

} // namespace replay
