// What the library procedures leave for the message box: the cause of a
// failed load, which the core's message does not carry.
#pragma once

#include <cstddef>

// The last library load or symbol lookup that failed since the last one that
// succeeded, not yet shown: the path as tried and the loader's reason, one
// line without its line break; "" when there is none. Owned by
// posix_library.cpp; OsMessageBox shows it after its text and clears it.
constexpr size_t kLibraryFailureSize = 1024;
extern char LibraryFailure[kLibraryFailureSize];
