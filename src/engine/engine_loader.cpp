// Loading, starting and stopping the engine library.
#include "engine/engine_loader.h"

#include <cstring>

#include "common/trace_hooks.h"
#include "engine/startup_block.h"

EngineStateRecord EngineState;

// The one message that does not go through the engine: there is none.
[[noreturn]] static void ReportEngineUnavailable()
{
    OsMessageBox(nullptr, "APPELOV: Init failed", "ERROR", kMbOk);
    OsExitProcess(0);
}

int32_t LoadEngine()
{
    EngineState.Library = OsLoadLibrary(kEngineLibraryName);
    const char* missing = EngineState.Library != nullptr ? ResolveEntryPoints(EngineState.Library) : nullptr;
    if (TraceHooks != nullptr) TraceHooks->EngineLoaded(EngineState.Library, missing);
    if (EngineState.Library == nullptr) ReportEngineUnavailable();
    if (missing != nullptr) {
        // An incomplete library is never called into: the entry points after
        // the missing name hold nothing of this load.
        OsFreeLibrary(EngineState.Library);
        EngineState.Library = nullptr;
        ReportEngineUnavailable();
    }
    return 1;
}

// Stores the address of name in *entry, unless an earlier name is missing
// already; when this one is, it becomes *missing.
template <typename Entry>
static void Resolve(ModuleHandle library, const char* name, Entry* entry, const char** missing)
{
    if (*missing != nullptr) return;
    const ProcAddress address = OsGetProcAddress(library, name);
    if (address == nullptr)
        *missing = name;
    else
        *entry = reinterpret_cast<Entry>(address);
}

const char* ResolveEntryPoints(ModuleHandle library)
{
    const char* missing = nullptr;
    Resolve(library, "AffTexteLongC", &EngineState.AffTexteLongC, &missing);
    Resolve(library, "OV4InitInstance", &EngineState.OV4InitInstance, &missing);
    Resolve(library, "FinInstance", &EngineState.FinInstance, &missing);
    Resolve(library, "OVCALLC", &EngineState.OVCALLC, &missing);
    return missing;
}

int32_t StartEngine(CommandRecordBytes* record)
{
    void* block = BuildStartupBlock();
    if (TraceHooks != nullptr) TraceHooks->EngineStarting(block);
    const int32_t accepted = EngineState.OV4InitInstance(record, block);
    if (TraceHooks != nullptr) TraceHooks->EngineStarted(accepted);
    if (block != nullptr) FreeGlobalBlock(block);
    return accepted;
}

void StopEngine()
{
    if (EngineState.Started == 0) return;
    if (TraceHooks != nullptr) TraceHooks->EngineStopping();
    EngineState.FinInstance(&CommandRecord);
    EngineState.Started = 0;
    if (EngineState.Library != nullptr) OsFreeLibrary(EngineState.Library);
    EngineState.Library = nullptr;
}

void ResetEngineLoaderForTests() { std::memset(&EngineState, 0, sizeof EngineState); }
