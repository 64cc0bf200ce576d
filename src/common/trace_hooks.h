// What the session trace records, reported from the layer where it happens:
// the engine's load, start and stop, each command, and every settings write.
// The trace points TraceHooks at its table when it opens its file and back
// to null when it closes it, so that a layer reports to it without including
// it; untraced, each event costs one test of the pointer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

struct TraceHookTable {
    // After the load and the lookup of the entry points: library null when
    // it could not be loaded, else missingEntryPoint the first name not
    // found (null when all were).
    void (*EngineLoaded)(ModuleHandle library, const char* missingEntryPoint);
    // Around the start: the start-up block (null: no memory for it), then
    // what the engine answered.
    void (*EngineStarting)(const void* startupBlock);
    void (*EngineStarted)(int32_t result);
    void (*EngineStopping)();
    // Around the engine call: the command text of length bytes, now in the
    // record; after the call the record holds the reply.
    void (*CommandSending)(const char* text, size_t length);
    void (*CommandAnswered)(const char* text, size_t length);
    // A command of length characters, too long to be sent.
    void (*CommandRefused)(int length);
    // A write to file (a null value deletes the key, a null key the section)
    // and its result.
    void (*SettingWritten)(const char* file, const char* section, const char* key, const char* value, int32_t result);
};

// Null unless a session is traced.
inline const TraceHookTable* TraceHooks = nullptr;
