// A recording fake of the platform and of the engine library, linked in
// place of the real platform layer. Profile files live in memory; every call
// that matters to a test is appended to a log; the engine's replies are
// scripted.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

namespace fake {

// Thrown by OsExitProcess, so a test can see the process end.
struct ProcessExit {
    int status;
};

// One scripted reply; fields left at their defaults are not written.
struct Reply {
    uint8_t flags = 0;
    std::string key;                                 // written at offset 2 when set
    std::string text;                                // written at offset 48, TextLength = its size
    int textLength = -1;                             // overrides TextLength when >= 0
    std::string extraText;                           // offset 5
    int32_t extraValue = 0;                          // offset 15
    uint32_t pointerValue = 0;                       // offset 5 (kind 5)
    int32_t pointerInt = 0;                          // offset 9 (kind 5)
    std::function<void(unsigned char* record)> edit; // last word on the bytes

    static Reply Key(const std::string& key);
    static Reply Text(int kind, const std::string& text);
    static Reply KeyAndText(const std::string& key, int kind, const std::string& text);
};

// A fault plan: the calls of one kind are counted, and call N of that kind
// fails, alone or with every later call of the kind. A failed call logs
// "Fault KIND N" just before it returns its failure.
enum class CallKind {
    ProfileRead,     // gives the default
    ProfileWrite,    // returns 0 and changes nothing
    LibraryLoad,     // null
    SymbolLookup,    // null
    GlobalAlloc,     // null
    GlobalLock,      // null
    Environment,     // null block
    ChangeDrive,     // fails
    ChangeDirectory, // fails
    OpenFile,        // says the path is missing
    Count
};
const char* CallKindName(CallKind kind);

struct FaultPlan {
    CallKind kind = CallKind::Count;                        // the kind that fails; Count: none
    uint32_t failAt = 0;                                    // 1 = its first call
    bool fromThenOn = false;                                // and every later call of the kind
    uint32_t calls[static_cast<int>(CallKind::Count)] = {}; // calls made, per kind
};

struct ProfileEntry {
    std::string section, key, value;
};

struct State {
    // Platform
    bool registerClassFails = false;
    bool createWindowFails = false;
    bool globalAllocFails = false;
    bool globalLockFails = false;
    std::set<std::string> unwritableFiles; // lower-case file names whose writes fail
    std::string modulePath;                // the launcher's file; empty: not loaded under its name
    uint32_t errorMode = 0;
    std::set<std::string> existingPaths; // for OpenFile(OF_EXIST)
    std::string windowsDirectory = std::string(1, kPathSeparator) + "windows";
    std::set<std::string> unopenableFiles;          // full paths that OsOpenAppendFile refuses
    std::map<std::string, std::string> appendFiles; // full path -> the bytes appended, in order
    uint64_t clockTicks = 0;                        // each reading of the clock adds 250 (0.25 ms)

    // Engine library
    bool libraryPresent = true;
    std::set<std::string> missingEntryPoints;
    std::deque<int32_t> initResults;        // OV4InitInstance results in turn; 1 when empty
    std::deque<Reply> replies;              // OVCALLC replies in turn
    Reply defaultReply = Reply::Key("ESC"); // once they run out, as the stand-in engine does
    size_t callLimit = 10000;               // a runaway loop fails the test instead of hanging
    FaultPlan faults;

    // Records
    std::vector<std::string> log;                           // platform and engine events, in order
    std::vector<std::string> commands;                      // texts that reached OVCALLC, in order
    std::vector<std::vector<unsigned char>> requests;       // the whole record as each OVCALLC received it
    std::vector<std::vector<unsigned char>> blocks;         // start-up blocks as OV4InitInstance saw them
    std::vector<std::vector<unsigned char>> initRecords;    // the record as OV4InitInstance saw it
    std::map<std::string, std::vector<ProfileEntry>> files; // lower-case file name -> entries in order
    int libraryReferences = 0;
    int liveGlobalBlocks = 0;
    int liveWindows = 0;
    char* environmentBlock = nullptr;
    uintptr_t environmentAddress = 0; // of the last block handed out
};

extern State state;

// Clears the fake and every process-wide record of the launcher.
void Reset();

// Profile helpers; file names as the launcher passes them ("Orvane.ini", "win.ini").
void SetProfile(const std::string& file, const std::string& section, const std::string& key, const std::string& value);
void RemoveProfile(const std::string& file, const std::string& section, const std::string& key);
bool HasProfile(const std::string& file, const std::string& section, const std::string& key);
std::string Profile(const std::string& file, const std::string& section, const std::string& key);
// "SECTION/KEY=value" lines of one file, in order.
std::vector<std::string> ProfileLines(const std::string& file);

// Log lines that begin with prefix, in order.
std::vector<std::string> LogLines(const std::string& prefix);

} // namespace fake
