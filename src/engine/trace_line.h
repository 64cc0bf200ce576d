// One line of the session trace at a time: built in a fixed buffer, never
// longer than it (a field that does not fit is cut and the line marked as
// cut), then handed to the trace file at once.
#pragma once

#include <cstddef>

#include "platform.h"

constexpr size_t kTraceLineSize = 8192; // the longest line: a command and its reply, every byte escaped

void TraceAppend(const char* text, size_t count);
void TraceAppend(const char* text);
// A short formatted text (at most 63 characters).
void TraceAppendFormat(const char* format, ...) OV_PRINTF_FORMAT(1, 2);
// Between double quotes with the stand-in script's escapes: \" \\ \$ and
// \xHH for every byte below 32 and from 127 up. Cut short, it is still closed.
void TraceAppendQuoted(const unsigned char* bytes, size_t count);
void TraceAppendQuoted(const char* text);
// Hands the line to file, with its line end when ending is set, and starts
// the next one.
void TraceWriteLine(AppendFileHandle file, bool ending = true);
// Drops the line being built. For tests only.
void ResetTraceLineForTests();
