// The session trace: when Orvane.ini [OVTST552] TRACE names a file, every
// load, start, command and stop of the engine and every settings write is
// appended to it as it happens, one line each, in the stand-in engine's
// script language, so that the file replays the session as it was written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/command_record.h"
#include "engine/engine_library.h"
#include "platform.h"

constexpr size_t kTracePathCapacity = 520; // the Windows directory, a separator and the key's value

struct SessionTraceRecord {
    int32_t Active;                // 1 while the trace file is open; every hook is skipped otherwise
    int32_t OpenFailed;            // 1: TRACE names a file that could not be opened
    AppendFileHandle File;         // the trace file, written at its end
    char Path[kTracePathCapacity]; // the trace file's full path
};

extern SessionTraceRecord SessionTrace;

// Reads TRACE once; when it names a file, opens it (a separator first when it
// holds an earlier trace) and writes the header. Before the first command.
void StartSessionTrace();
// Writes the closing comment and closes the trace file.
void EndSessionTrace();

// The hooks, called only while SessionTrace.Active is 1.
// Sends the request now in the record through entry and writes the command
// (text of length bytes) before the call and its reply after it.
void TraceCommand(CommandEntry entry, const char* text, size_t length);
// A command of length characters that was not sent, being too long.
void TraceRefusedCommand(int length);
// The result of loading the engine library (null: it could not be loaded).
void TraceEngineLoad(ModuleHandle library);
// Starts the engine through entry with the start-up block and writes the
// block and the start line. Returns what entry returned.
int32_t TraceEngineStart(InitInstanceEntry entry, CommandRecordBytes* record, void* block);
void TraceEngineStop();
// A write to file (a null value deletes the key) and its result.
void TraceSettingsWrite(const char* file, const char* section, const char* key, const char* value, int32_t result);
