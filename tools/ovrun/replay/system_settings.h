// On Windows a replay's request goes into the system's settings files:
// key by key, each recorded in the journal first, and put back key by key,
// so that what another program writes elsewhere in them meanwhile stays.
#pragma once

#include <string>

#include "journal.h"

namespace replay {

// Begins the journal, then writes the keys of the rebuilt settings file
// (a key the launcher reads that the file lacks is deleted). False with the
// reason when it could not: whatever was written has been put back then.
bool WriteSystemSettings(Journal* journal, const std::string& rebuilt, std::string* problem);

// Puts the keys back; false with the reason when it could not. Either way
// the replays stop after such a failure, and ovrun ends with status 3.
bool RestoreSystemSettings(Journal* journal, std::string* problem);

// Why the settings files of the Windows directory cannot be read although
// they exist, or why a replay could not put them back; empty when neither.
std::string SystemSettingsProblem();

} // namespace replay
