// Failure injection for the Linux platform layer. A test names a step and the
// call of that step that must fail; the layer asks StepFails() just before
// it makes that call and, when told to, behaves as if the system call had
// failed. A test may also name a point of a settings write where the process
// dies, as if killed there. Nothing is armed in a normal run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
// Disarms every step and any crash, and clears the counts.
void ResetFaultsForTests();

// The points of a settings write where an armed crash ends the process.
enum CrashPoint {
    kCrashTempCreated,      // the temporary file made, nothing written to it
    kCrashTempWrite,        // writing it: the planned bytes go out, then death
    kCrashTempWritten,      // all its bytes written, not yet flushed
    kCrashTempSynced,       // flushed, not yet closed
    kCrashBeforeRename,     // closed, not yet renamed over the file
    kCrashRenamed,          // renamed, the directory not yet flushed
    kCrashInPlaceStart,     // rewriting in place: room claimed, nothing written
    kCrashInPlaceWrite,     // the planned new bytes written over the old, then death
    kCrashInPlaceWritten,   // all new bytes written, the length not yet set
    kCrashInPlaceTruncated, // the length set, not yet flushed
};

struct CrashPlanRecord {
    uint32_t Armed;    // nonzero: reaching Point ends the process
    CrashPoint Point;  // where
    size_t BytesFirst; // at a write point: the bytes written before death
};

// The one crash plan; owned by posix_faults.cpp.
extern CrashPlanRecord CrashPlan;
// The status a process ended by an armed crash exits with.
constexpr int kCrashExitStatus = 86;

// Arms a crash at point, with bytesFirst bytes of its write going out first.
void ArmCrash(CrashPoint point, size_t bytesFirst = 0);
// Ends the process at once, with no destructor run and no stream flushed,
// when a crash is armed at point.
void CrashAt(CrashPoint point);
// At a write point: when a crash is armed there, writes the first planned
// bytes of bytes at the start of the file, then ends the process.
void CrashPartWay(CrashPoint point, int descriptor, const std::string& bytes);
