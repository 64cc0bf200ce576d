// The header of a run of the session trace (engine/trace_format.h).
#pragma once

#include <cstdint>

#include "platform.h"

// Writes the header to file: after the run separator when the file holds
// existingSize bytes already, the last of them lastByte.
void WriteTraceHeader(AppendFileHandle file, uint32_t existingSize, char lastByte);
