// The settings file a replay starts the launcher with.
#pragma once

#include <string>

#include "relocation.h"
#include "trace.h"

namespace replay {

// The Orvane.ini to replay the run with: the header's request, its
// directories moved into the folders, and TRACE naming tracePath. CRLF lines.
std::string RebuiltSettings(const TraceRequest& request, const ReplayFolders& folders, const Relocation& relocation,
                            const std::string& tracePath);

} // namespace replay
