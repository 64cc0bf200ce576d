// The engine library's lifetime in the process: loading, the four entry
// points, starting and stopping the one engine instance.
#pragma once

#include <cstdint>

#include "engine/command_record.h"
#include "engine/engine_library.h"
#include "platform.h"

// Unloaded: Started 0, Library null. Loaded, not started (after a refused
// start): Started 0, Library set. Started: Started 1, Library set.
struct EngineStateRecord {
    int32_t Started;                   // 1 from an accepted start until the next StopEngine
    ModuleHandle Library;              // handle of the last load; null when none is held
    ProcAddress AffTexteLongC;         // looked up, never called
    InitInstanceEntry OV4InitInstance; // the entry points, found by these names
    FinInstanceEntry FinInstance;
    CommandEntry OVCALLC;
};

extern EngineStateRecord EngineState;

// Returns 1 when all four names were found. Does not return when the library
// cannot be loaded, nor when a name is missing (the library is released).
int32_t LoadEngine();
// Looks AffTexteLongC, OV4InitInstance, FinInstance and OVCALLC up in that
// order into EngineState, stopping at the first one missing: returns its
// name (the entry points after it keep what they held), null when all four
// were found.
const char* ResolveEntryPoints(ModuleHandle library);
// Builds a start-up block, calls OV4InitInstance, frees the block.
int32_t StartEngine(CommandRecordBytes* record);
// Ends the instance and releases the library; nothing when not started.
void StopEngine();

// Zeroes EngineState, as at process start. For tests only.
void ResetEngineLoaderForTests();
