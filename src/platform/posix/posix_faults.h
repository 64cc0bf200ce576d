// Failure injection for the Linux platform layer. A test names a step and the
// call of that step that must fail; the layer asks StepFails() just before
// it makes that call and, when told to, behaves as if the system call had
// failed. Nothing is armed in a normal run.
#pragma once

#include <cstdint>

enum FaultStep {
    kFaultTempCreate,   // creating the temporary file beside a profile file
    kFaultTempWrite,    // writing it: half the bytes go out, then ENOSPC
    kFaultTempSync,     // its fsync
    kFaultRename,       // renaming it over the profile file
    kFaultInPlaceWrite, // rewriting a profile file in place: half, then ENOSPC
    kFaultTruncate,     // setting that file's length afterwards, or back
    kFaultGlobalAlloc,  // OsGlobalAlloc's allocation
    kFaultLibraryLoad,  // OsLoadLibrary's dlopen
    kFaultSymbolLookup, // OsGetProcAddress's dlsym
    kFaultStepCount
};

struct FaultPlanRecord {
    uint32_t FailAt;     // the call (1 = the first) that fails; 0 = none
    uint32_t FromThenOn; // nonzero: every call from FailAt on fails
    uint32_t Calls;      // calls of the step made since the plan was set
};

// One plan per step; owned by posix_faults.cpp.
extern FaultPlanRecord FaultPlan[kFaultStepCount];

// Arms step: its call number `call` fails (and every later one too when
// fromThenOn). Restarts the step's call count.
void FailStepAt(FaultStep step, uint32_t call, bool fromThenOn = false);
// Counts one call of step; true when that call must fail.
bool StepFails(FaultStep step);
// Disarms every step and clears the counts.
void ResetFaultsForTests();
