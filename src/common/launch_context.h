// Process-wide launch state: filled by the entry procedure before any mode
// runs and unchanged afterwards; the error place that the error handoff fills.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kDirectoryCapacity = 260;  // a path of at most 259 characters
constexpr size_t kEditorMarkerCapacity = 8; // "EDITEUR" and its terminator
constexpr size_t kErrorWindowNameCapacity = 264;
constexpr size_t kErrorObjectNameCapacity = 104;

struct LaunchContextRecord {
    char ExecutableDirectory[kDirectoryCapacity]; // the product's programs (REPEXE, or the launcher's own directory)
    char CurrentDirectory[kDirectoryCapacity];    // the test's directory, one trailing separator removed
    char EditorMarker[kEditorMarkerCapacity];     // "EDITEUR" when the editor started the launcher, else empty
    uint16_t RunAsProgram;                        // 1: the window test runs the program, not the window alone
    uint16_t English;                             // 1: messages in English; 0: in French
};

extern LaunchContextRecord LaunchContext;

// Filled by the error handoff, reported as NOMFEN and NOMOBJET.
extern char ErrorWindowName[kErrorWindowNameCapacity];
extern char ErrorObjectName[kErrorObjectNameCapacity];
