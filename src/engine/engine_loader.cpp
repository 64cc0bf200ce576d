// Loading, starting and stopping the engine library.
#include "engine/engine_loader.h"

#include "engine/session_trace.h"
#include "engine/startup_block.h"

EngineStateRecord EngineState;

const EntryPointRow EntryTable[kEntryPointCount] = {
    {kEntryPointNames[0], &EngineState.AffTexteLongC},
    {kEntryPointNames[1], &EngineState.OV4InitInstance},
    {kEntryPointNames[2], &EngineState.FinInstance},
    {kEntryPointNames[3], &EngineState.OVCALLC},
};

// The one message that does not go through the engine: there is none.
[[noreturn]] static void ReportEngineUnavailable()
{
    OsMessageBox(nullptr, "APPELOV: Init failed", "ERROR", kMbOk);
    OsExitProcess(0);
}

int32_t LoadEngine()
{
    EngineState.Library = OsLoadLibrary(kEngineLibraryName);
    if (SessionTrace.Active) TraceEngineLoad(EngineState.Library);
    if (EngineState.Library == nullptr) ReportEngineUnavailable();
    if (ResolveEntryPoints(EngineState.Library, EntryTable, kEntryPointCount) == 0) {
        // An incomplete library is never called into: the rows after the
        // missing name hold nothing of this load.
        OsFreeLibrary(EngineState.Library);
        EngineState.Library = nullptr;
        ReportEngineUnavailable();
    }
    return 1;
}

int32_t ResolveEntryPoints(ModuleHandle library, const EntryPointRow* table, int16_t count)
{
    for (int16_t row = 0; row < count; ++row) {
        ProcAddress address = OsGetProcAddress(library, table[row].Name);
        if (address == nullptr) return 0;
        *table[row].Place = address;
    }
    return 1;
}

int32_t StartEngine(CommandRecordBytes* record)
{
    void* block = BuildStartupBlock();
    auto initInstance = reinterpret_cast<InitInstanceEntry>(EngineState.OV4InitInstance);
    int32_t accepted =
        SessionTrace.Active ? TraceEngineStart(initInstance, record, block) : initInstance(record, block);
    if (block != nullptr) FreeGlobalBlock(block);
    return accepted;
}

void StopEngine()
{
    if (EngineState.Started == 0) return;
    if (SessionTrace.Active) TraceEngineStop();
    reinterpret_cast<FinInstanceEntry>(EngineState.FinInstance)(&CommandRecord);
    EngineState.Started = 0;
    if (EngineState.Library != nullptr) OsFreeLibrary(EngineState.Library);
    EngineState.Library = nullptr;
}
