// Loading, starting and stopping the engine library.
#include "engine/engine_loader.h"

#include "engine/startup_block.h"

const char kEngineLibraryName[] = "OV553KRN.DLL";

EngineStateRecord EngineState;

const EntryPointRow EntryTable[4] = {
    {"AffTexteLongC", &EngineState.AffTexteLongC},
    {"OV4InitInstance", &EngineState.OV4InitInstance},
    {"FinInstance", &EngineState.FinInstance},
    {"OVCALLC", &EngineState.OVCALLC},
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
    if (EngineState.Library == nullptr) ReportEngineUnavailable();
    if (ResolveEntryPoints(EngineState.Library, EntryTable, 4) == 0) {
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
    int32_t accepted = initInstance(record, block);
    if (block != nullptr) FreeGlobalBlock(block);
    return accepted;
}

void StopEngine()
{
    if (EngineState.Started == 0) return;
    reinterpret_cast<FinInstanceEntry>(EngineState.FinInstance)(&CommandRecord);
    EngineState.Started = 0;
    if (EngineState.Library != nullptr) OsFreeLibrary(EngineState.Library);
    EngineState.Library = nullptr;
}
