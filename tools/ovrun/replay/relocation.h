// Moving a recorded run's directories into a replay's scratch folder.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "trace.h"

namespace replay {

// Where the recorded directories go: each recorded directory (without its
// trailing separators) and the directory that takes its place.
struct Relocation {
    char FromSeparator = '/';
    char ToSeparator = '/';
    std::vector<std::pair<std::string, std::string>> Directories; // longest first
};

// The scratch folder's directories, spelt for the target that replays.
struct ReplayFolders {
    std::string Programs; // the launcher and the engine library
    std::string Test;     // REPCOURANT
    std::string Exe;      // REPEXE when it is neither of the others
    char Separator = '/';
};

Relocation MakeRelocation(const TraceRequest& request, const ReplayFolders& folders);

// A text with each recorded directory, and the separator that follows it,
// moved: "OUVRE,C:\Projets\_OV_GO.OVW /RE" -> "OUVRE,/tmp/x/test/_OV_GO.OVW /RE".
std::string RelocateText(const std::string& text, const Relocation& relocation);
// A trace line with every quoted text moved but the raw bytes of set[N]= items.
std::string RelocateLine(const std::string& line, const Relocation& relocation);

// The recorded directory without any separator at its end ('/' and
// separator), a root down to nothing ("/" to "", "C:\" to "C:"), so that
// it matches where the directory's own name ends. Unlike ovrun's
// WithoutTrailingSeparators (arguments.h), which keeps a root whole.
std::string BareDirectory(std::string path, char separator);
bool EndsWithSeparator(const std::string& path, char separator);

} // namespace replay
