// The engine's description of a runtime error, as the launcher keeps it: the
// error handoff splits this copy, and the session trace records exactly as
// much of the engine's text as the handoff reads.
#pragma once

#include <cstddef>

// A field is never needed longer than the largest place it can reach: the
// 304-byte message.
constexpr size_t kErrorFieldCut = 303;
// The description fields that are read: line, window, object, message.
constexpr int kErrorDescriptionFields = 4;
// Each field with the separator after it, and the terminator.
constexpr size_t kErrorDescriptionCapacity = kErrorDescriptionFields * (kErrorFieldCut + 1) + 1;

// Copies the first four fields of an error description of any length into a
// destination of kErrorDescriptionCapacity bytes, each cut to the largest
// place it can reach, so the split finds the same fields as in the uncut
// text. A line field that would be cut is replaced by its value. Reads the
// source only as far as the fourth field's end.
void CopyErrorDescription(char* destination, const char* source);
