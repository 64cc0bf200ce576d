// Comparing a replay with the recorded run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "trace.h"

namespace replay {

// The first place where a replay differs from the recorded run, when there is one.
struct Divergence {
    bool Found = false;
    int Line = 0;         // in the trace file
    std::string Expected; // as recorded (moved into the scratch folder)
    std::string Got;      // as replayed, or what stood in its place
};

// The events of both runs compared in order, with times, dates, addresses
// and the library's path masked. replayEnd says how the replayed run ended,
// for a replay that stops short.
Divergence CompareRuns(const std::vector<TraceLine>& recorded, const std::vector<TraceLine>& replayed,
                       const std::string& replayEnd);

// The lines of a run that CompareRuns compares, in order, as it compares
// them: the header and blank lines left out, times and the like masked.
std::vector<TraceLine> ComparedEvents(const std::vector<TraceLine>& lines);

// Reads key in section of the settings file at path; false when it is absent.
using SettingReader = std::function<bool(const std::string& path, const std::string& section, const std::string& key,
                                         std::string* value)>;

// The settings writes of the recorded run against the files the replay left
// at settingsPath and winIniPath, read with read.
Divergence CheckSettings(const std::vector<TraceLine>& recorded, const std::string& settingsPath,
                         const std::string& winIniPath, const SettingReader& read);

} // namespace replay
