// The session trace: when Orvane.ini [OVTST552] TRACE names a file, every
// load, start, command and stop of the engine and every settings write is
// appended to it as it happens, one line each, in the stand-in engine's
// script language, so that the file replays the session as it was written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/trace_hooks.h"
#include "platform.h"

constexpr size_t kTracePathCapacity = 520; // the Windows directory, a separator and the key's value

struct SessionTraceRecord {
    int32_t OpenFailed;            // 1: TRACE names a file that could not be opened
    AppendFileHandle File;         // the trace file, written at its end; null when none is open
    char Path[kTracePathCapacity]; // the trace file's full path
};

extern SessionTraceRecord SessionTrace;

// What the trace writes for each event it is told of (common/trace_hooks.h).
extern const TraceHookTable kSessionTraceHooks;

// Reads TRACE once; when it names a file, opens it (a separator first when it
// holds an earlier trace), writes the header and sets TraceHooks. Before the
// first command.
void StartSessionTrace();
// Writes the closing comment, closes the trace file and clears TraceHooks.
void EndSessionTrace();

// Closes nothing and forgets the trace: SessionTrace, TraceHooks and the
// line being built as at process start. For tests only.
void ResetSessionTraceForTests();
