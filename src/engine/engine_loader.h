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
    int32_t Started;             // 1 from an accepted start until the next StopEngine
    ModuleHandle Library;        // handle of the last load; null when none is held
    ProcAddress AffTexteLongC;   // looked up, never called
    ProcAddress OV4InitInstance; // InitInstanceEntry
    ProcAddress FinInstance;     // FinInstanceEntry
    ProcAddress OVCALLC;         // CommandEntry
};

extern EngineStateRecord EngineState;

struct EntryPointRow {
    const char* Name;
    ProcAddress* Place;
};

// AffTexteLongC, OV4InitInstance, FinInstance, OVCALLC: the lookup order.
extern const EntryPointRow EntryTable[kEntryPointCount];

// Returns 1 when all four names were found. Does not return when the library
// cannot be loaded, nor when a name is missing (the library is released).
int32_t LoadEngine();
// Looks the rows up in order, stopping at the first missing name (0).
int32_t ResolveEntryPoints(ModuleHandle library, const EntryPointRow* table, int16_t count);
// Builds a start-up block, calls OV4InitInstance, frees the block.
int32_t StartEngine(CommandRecordBytes* record);
// Ends the instance and releases the library; nothing when not started.
void StopEngine();
