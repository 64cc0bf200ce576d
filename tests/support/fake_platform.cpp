// The recording fake of the platform and the engine library.
#include "fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/command_channel.h"
#include "engine/startup_block.h"
#include "launcher/launcher.h"

namespace fake {

State state;

static std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Names compared as the profile functions compare them, without copies: the
// fuzz targets look names up thousands of times a second.
static bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return x == y || ((x | 0x20) == (y | 0x20) && (x | 0x20) >= 'a' && (x | 0x20) <= 'z');
           });
}

static void Log(const std::string& line) { state.log.push_back(line); }

const char* CallKindName(CallKind kind)
{
    static const char* const kNames[] = {"ProfileRead", "ProfileWrite", "LibraryLoad", "SymbolLookup",    "GlobalAlloc",
                                         "GlobalLock",  "Environment",  "ChangeDrive", "ChangeDirectory", "OpenFile"};
    return kind < CallKind::Count ? kNames[static_cast<int>(kind)] : "none";
}

// Counts one call of kind; true when the plan makes it fail.
static bool Fails(CallKind kind)
{
    FaultPlan& plan = state.faults;
    const uint32_t call = ++plan.calls[static_cast<int>(kind)];
    if (kind != plan.kind || plan.failAt == 0) return false;
    if (call != plan.failAt && !(plan.fromThenOn && call > plan.failAt)) return false;
    Log(std::string("Fault ") + CallKindName(kind) + " " + std::to_string(call));
    return true;
}

Reply Reply::Key(const std::string& key)
{
    Reply reply;
    reply.flags = ReplyLayout::HasKeyName;
    reply.key = key;
    return reply;
}

Reply Reply::Text(int kind, const std::string& text)
{
    Reply reply;
    reply.flags = static_cast<uint8_t>(ReplyLayout::HasText | kind);
    reply.text = text;
    return reply;
}

Reply Reply::KeyAndText(const std::string& key, int kind, const std::string& text)
{
    Reply reply = Text(kind, text);
    reply.flags |= ReplyLayout::HasKeyName;
    reply.key = key;
    return reply;
}

void Reset()
{
    if (state.environmentBlock != nullptr) std::free(state.environmentBlock);
    state = State();
    ResetProcessStateForTests();
}

static std::vector<ProfileEntry>::iterator Find(std::vector<ProfileEntry>& entries, const std::string& section,
                                                const std::string& key)
{
    return std::find_if(entries.begin(), entries.end(), [&](const ProfileEntry& entry) {
        return SameName(entry.section, section) && SameName(entry.key, key);
    });
}

void SetProfile(const std::string& file, const std::string& section, const std::string& key, const std::string& value)
{
    auto& entries = state.files[Lower(file)];
    auto found = Find(entries, section, key);
    if (found != entries.end())
        found->value = value;
    else
        entries.push_back({section, key, value});
}

void RemoveProfile(const std::string& file, const std::string& section, const std::string& key)
{
    auto& entries = state.files[Lower(file)];
    auto found = Find(entries, section, key);
    if (found != entries.end()) entries.erase(found);
}

bool HasProfile(const std::string& file, const std::string& section, const std::string& key)
{
    auto& entries = state.files[Lower(file)];
    return Find(entries, section, key) != entries.end();
}

std::string Profile(const std::string& file, const std::string& section, const std::string& key)
{
    auto& entries = state.files[Lower(file)];
    auto found = Find(entries, section, key);
    return found != entries.end() ? found->value : std::string("<missing>");
}

std::vector<std::string> ProfileLines(const std::string& file)
{
    std::vector<std::string> lines;
    for (const auto& entry : state.files[Lower(file)])
        lines.push_back(entry.section + "/" + entry.key + "=" + entry.value);
    return lines;
}

std::vector<std::string> LogLines(const std::string& prefix)
{
    std::vector<std::string> lines;
    for (const auto& line : state.log)
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

static uint32_t ReadProfile(const std::string& file, const char* section, const char* key, const char* defaultText,
                            char* buffer, uint32_t size)
{
    Log("Read " + file + " " + section + " " + key + " " + std::to_string(size));
    if (size == 0) return 0;
    auto& entries = state.files[Lower(file)];
    auto found = Fails(CallKind::ProfileRead) ? entries.end() : Find(entries, section, key);
    std::string value = found != entries.end() ? found->value : std::string(defaultText ? defaultText : "");
    if (value.size() > size - 1) value.resize(size - 1);
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<uint32_t>(value.size());
}

static int32_t WriteProfile(const std::string& file, const char* section, const char* key, const char* value)
{
    if (state.unwritableFiles.count(Lower(file)) != 0 || Fails(CallKind::ProfileWrite)) {
        Log("WriteFailed " + file + " " + section + " " + (key ? key : "<section>"));
        return 0;
    }
    auto& entries = state.files[Lower(file)];
    if (key == nullptr) {
        Log("DeleteSection " + file + " " + section);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const ProfileEntry& e) { return SameName(e.section, section); }),
                      entries.end());
        return 1;
    }
    if (value == nullptr) {
        Log("Delete " + file + " " + section + " " + key);
        auto found = Find(entries, section, key);
        if (found != entries.end()) entries.erase(found);
        return 1;
    }
    Log("Write " + file + " " + section + " " + key + "=" + value);
    SetProfile(file, section, key, value);
    return 1;
}

// --- The fake engine library ----------------------------------------------

static int fakeLibraryTag;
static ModuleHandle FakeLibrary() { return reinterpret_cast<ModuleHandle>(&fakeLibraryTag); }

static int32_t OV_ENGINE_CALL FakeAffTexteLongC()
{
    Log("AffTexteLongC");
    return 0;
}

static int32_t OV_ENGINE_CALL FakeInitInstance(void* record, void* block)
{
    const auto* bytes = static_cast<const unsigned char*>(record);
    state.initRecords.emplace_back(bytes, bytes + kCommandRecordSize);
    if (block != nullptr) {
        const auto* blockBytes = static_cast<const unsigned char*>(block);
        state.blocks.emplace_back(blockBytes, blockBytes + kStartupBlockSize);
    }
    int32_t result = 1;
    if (!state.initResults.empty()) {
        result = state.initResults.front();
        state.initResults.pop_front();
    }
    Log(std::string("OV4InitInstance ") + (block != nullptr ? "block" : "null") + " -> " + std::to_string(result));
    return result;
}

static int32_t OV_ENGINE_CALL FakeFinInstance(void*)
{
    Log("FinInstance");
    return 1;
}

static int32_t OV_ENGINE_CALL FakeCommand(void* record)
{
    auto* bytes = static_cast<unsigned char*>(record);
    std::string text(reinterpret_cast<const char*>(bytes));
    state.commands.push_back(text);
    state.requests.emplace_back(bytes, bytes + kCommandRecordSize);
    Log("OVCALLC " + text);
    if (state.commands.size() > state.callLimit) throw ProcessExit{-1};

    Reply reply = state.defaultReply;
    if (!state.replies.empty()) {
        reply = state.replies.front();
        state.replies.pop_front();
    }
    using namespace ReplyLayout;
    bytes[Flags] = reply.flags;
    if (!reply.key.empty()) std::memcpy(bytes + KeyName, reply.key.data(), std::min(reply.key.size(), KeyNameSize));
    if (!reply.extraText.empty())
        std::memcpy(bytes + ExtraText, reply.extraText.data(), std::min(reply.extraText.size(), ExtraTextSize));
    if (reply.flags & HasExtra) std::memcpy(bytes + ExtraValue, &reply.extraValue, 4);
    if ((reply.flags & KindMask) == 5) {
        std::memcpy(bytes + PointerValue, &reply.pointerValue, 4);
        std::memcpy(bytes + PointerInt, &reply.pointerInt, 4);
    }
    if (reply.flags & HasText) {
        std::memset(bytes + Text, 0, TextSize);
        std::memcpy(bytes + Text, reply.text.data(), std::min(reply.text.size(), TextSize));
        bytes[TextLength] = static_cast<unsigned char>(reply.textLength >= 0 ? reply.textLength : reply.text.size());
    }
    if (reply.edit) reply.edit(bytes);
    return 0;
}

} // namespace fake

using fake::Log;
using fake::state;

// --- The platform procedures ------------------------------------------------

uint32_t OsGetPrivateProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                                   uint32_t size, const char* fileName)
{
    return fake::ReadProfile(fileName, section, key, defaultText, buffer, size);
}

int32_t OsWritePrivateProfileString(const char* section, const char* key, const char* value, const char* fileName)
{
    return fake::WriteProfile(fileName, section, key, value);
}

uint32_t OsGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size)
{
    return fake::ReadProfile("win.ini", section, key, defaultText, buffer, size);
}

int32_t OsWriteProfileString(const char* section, const char* key, const char* value)
{
    return fake::WriteProfile("win.ini", section, key, value);
}

char* OsGetEnvironmentStrings()
{
    Log("GetEnvironmentStrings");
    if (fake::Fails(fake::CallKind::Environment)) return nullptr;
    static const char kBlock[] = "A=1\0B=2\0";
    state.environmentBlock = static_cast<char*>(std::malloc(sizeof kBlock));
    std::memcpy(state.environmentBlock, kBlock, sizeof kBlock);
    state.environmentAddress = reinterpret_cast<uintptr_t>(state.environmentBlock);
    return state.environmentBlock;
}

int32_t OsFreeEnvironmentStrings(char* block)
{
    Log(block == state.environmentBlock && block != nullptr ? "FreeEnvironmentStrings" : "FreeEnvironmentStrings ?");
    std::free(state.environmentBlock);
    state.environmentBlock = nullptr;
    return 1;
}

static int fakeModuleTag;

ModuleHandle OsGetModuleHandle(const char* moduleName)
{
    Log(std::string("GetModuleHandle ") + moduleName);
    if (state.modulePath.empty() || std::strcmp(moduleName, "OVTST552.EXE") != 0) return nullptr;
    return reinterpret_cast<ModuleHandle>(&fakeModuleTag);
}

uint32_t OsGetModuleFileName(ModuleHandle module, char* buffer, uint32_t size)
{
    if (module != reinterpret_cast<ModuleHandle>(&fakeModuleTag) || size == 0) return 0;
    std::string path = state.modulePath;
    if (path.size() > size - 1) path.resize(size - 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<uint32_t>(path.size());
}

ModuleHandle OsLoadLibrary(const char* fileName)
{
    Log(std::string("LoadLibrary ") + fileName);
    if (fake::Fails(fake::CallKind::LibraryLoad) || !state.libraryPresent) return nullptr;
    ++state.libraryReferences;
    return fake::FakeLibrary();
}

ProcAddress OsGetProcAddress(ModuleHandle module, const char* name)
{
    Log(std::string("GetProcAddress ") + name);
    if (module != fake::FakeLibrary() || state.missingEntryPoints.count(name) != 0 ||
        fake::Fails(fake::CallKind::SymbolLookup))
        return nullptr;
    const std::string entry = name;
    if (entry == "AffTexteLongC") return reinterpret_cast<ProcAddress>(&fake::FakeAffTexteLongC);
    if (entry == "OV4InitInstance") return reinterpret_cast<ProcAddress>(&fake::FakeInitInstance);
    if (entry == "FinInstance") return reinterpret_cast<ProcAddress>(&fake::FakeFinInstance);
    if (entry == "OVCALLC") return reinterpret_cast<ProcAddress>(&fake::FakeCommand);
    return nullptr;
}

int32_t OsFreeLibrary(ModuleHandle module)
{
    Log("FreeLibrary");
    if (module != fake::FakeLibrary()) return 0;
    --state.libraryReferences;
    return 1;
}

namespace {
struct FakeGlobal {
    uint32_t magic;
    int locks;
    unsigned char* data;
};
constexpr uint32_t kGlobalMagic = 0x474C4F42;
std::map<const void*, FakeGlobal*> blockByAddress;
} // namespace

GlobalMemoryHandle OsGlobalAlloc(uint32_t flags, uint32_t size)
{
    Log("GlobalAlloc " + std::to_string(flags) + " " + std::to_string(size));
    if (state.globalAllocFails || fake::Fails(fake::CallKind::GlobalAlloc)) return nullptr;
    auto* block = new FakeGlobal{kGlobalMagic, 0, new unsigned char[size]};
    // Filled with a pattern unless zeroed, so a missing GMEM_ZEROINIT shows.
    std::memset(block->data, (flags & kGmemZeroInit) ? 0 : 0xCD, size);
    blockByAddress[block->data] = block;
    ++state.liveGlobalBlocks;
    return reinterpret_cast<GlobalMemoryHandle>(block);
}

void* OsGlobalLock(GlobalMemoryHandle memory)
{
    Log("GlobalLock");
    auto* block = reinterpret_cast<FakeGlobal*>(memory);
    if (state.globalLockFails || block == nullptr || block->magic != kGlobalMagic ||
        fake::Fails(fake::CallKind::GlobalLock))
        return nullptr;
    ++block->locks;
    return block->data;
}

GlobalMemoryHandle OsGlobalHandle(const void* address)
{
    Log("GlobalHandle");
    auto found = blockByAddress.find(address);
    return found != blockByAddress.end() ? reinterpret_cast<GlobalMemoryHandle>(found->second) : nullptr;
}

int32_t OsGlobalUnlock(GlobalMemoryHandle memory)
{
    Log("GlobalUnlock");
    auto* block = reinterpret_cast<FakeGlobal*>(memory);
    if (block == nullptr || block->magic != kGlobalMagic || block->locks == 0) return 0;
    return --block->locks;
}

GlobalMemoryHandle OsGlobalFree(GlobalMemoryHandle memory)
{
    Log("GlobalFree");
    auto* block = reinterpret_cast<FakeGlobal*>(memory);
    if (block == nullptr || block->magic != kGlobalMagic) return memory;
    blockByAddress.erase(block->data);
    block->magic = 0;
    delete[] block->data;
    delete block;
    --state.liveGlobalBlocks;
    return nullptr;
}

int32_t OsMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type)
{
    Log(std::string("MessageBox ") + (owner ? "owned " : "") + caption + ": " + text + " type=" + std::to_string(type));
    return 1;
}

int32_t OsMessageBeep(uint32_t type)
{
    Log("MessageBeep " + std::to_string(type));
    return 1;
}

static int cursorTag, brushTag, windowTag;

CursorHandle OsLoadCursor(InstanceHandle instance, uint32_t cursorId)
{
    return instance == nullptr && cursorId == kIdcArrow ? reinterpret_cast<CursorHandle>(&cursorTag) : nullptr;
}

BrushHandle OsGetStockBrush(int32_t object)
{
    return object == kWhiteBrush ? reinterpret_cast<BrushHandle>(&brushTag) : nullptr;
}

uint16_t OsRegisterClass(const OsWindowClass* c)
{
    Log("RegisterClass style=" + std::to_string(c->style) + " extra=" + std::to_string(c->classExtraBytes) + "," +
        std::to_string(c->windowExtraBytes) + " icon=" + (c->icon ? "set" : "none") +
        " cursor=" + (c->cursor == reinterpret_cast<CursorHandle>(&cursorTag) ? "arrow" : "other") + " brush=" +
        (c->background == reinterpret_cast<BrushHandle>(&brushTag) ? "white" : "other") + " menu=" + c->menuName +
        " class=" + c->className + (c->procedure ? "" : " noproc") + (c->instance ? "" : " noinstance"));
    return state.registerClassFails ? 0 : 0xC001;
}

WindowHandle OsCreateWindowEx(uint32_t exStyle, const char* className, const char* title, uint32_t style, int32_t x,
                              int32_t y, int32_t width, int32_t height, WindowHandle parent, MenuHandle menu,
                              InstanceHandle instance, void* creationData)
{
    Log("CreateWindow ex=" + std::to_string(exStyle) + " " + className + " " + title + " style=" +
        std::to_string(style) + " " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" +
        std::to_string(height) + (parent || menu || creationData ? " extras" : "") + (instance ? "" : " noinstance"));
    if (state.createWindowFails) return nullptr;
    ++state.liveWindows;
    return reinterpret_cast<WindowHandle>(&windowTag);
}

int32_t OsDestroyWindow(WindowHandle window)
{
    Log(window ? "DestroyWindow" : "DestroyWindow null");
    if (window != reinterpret_cast<WindowHandle>(&windowTag)) return 0;
    --state.liveWindows;
    return 1;
}

intptr_t OsDefWindowProc(WindowHandle, uint32_t message, uintptr_t, intptr_t)
{
    Log("DefWindowProc " + std::to_string(message));
    return 42;
}

uint32_t OsSetErrorMode(uint32_t mode)
{
    Log("SetErrorMode " + std::to_string(mode));
    uint32_t previous = state.errorMode;
    state.errorMode = mode;
    return previous;
}

int32_t OsOpenFile(const char* path, uint32_t style)
{
    Log(std::string("OpenFile ") + path + " " + std::to_string(style));
    if (fake::Fails(fake::CallKind::OpenFile)) return kHFileError;
    return state.existingPaths.count(path) != 0 ? 7 : kHFileError;
}

int32_t OsCloseFile(int32_t file)
{
    Log("CloseFile " + std::to_string(file));
    return 0;
}

int32_t OsChangeDrive(int32_t drive)
{
    Log("ChangeDrive " + std::to_string(drive));
    return fake::Fails(fake::CallKind::ChangeDrive) ? -1 : 0;
}

int32_t OsChangeDirectory(const char* path)
{
    Log(std::string("ChangeDirectory ") + path);
    return fake::Fails(fake::CallKind::ChangeDirectory) ? -1 : 0;
}

uint32_t OsGetWindowsDirectory(char* buffer, uint32_t size)
{
    if (state.windowsDirectory.size() >= size) return 0;
    std::memcpy(buffer, state.windowsDirectory.c_str(), state.windowsDirectory.size() + 1);
    return static_cast<uint32_t>(state.windowsDirectory.size());
}

// The handle is the file's bytes in state.appendFiles, which a map keeps in place.
AppendFileHandle OsOpenAppendFile(const char* path, uint32_t* existingSize, char* lastByte)
{
    Log(std::string("OpenAppendFile ") + path);
    if (state.unopenableFiles.count(path) != 0) return nullptr;
    std::string& bytes = state.appendFiles[path];
    *existingSize = static_cast<uint32_t>(bytes.size());
    *lastByte = bytes.empty() ? '\0' : bytes.back();
    return reinterpret_cast<AppendFileHandle>(&bytes);
}

int32_t OsWriteAppendFile(AppendFileHandle file, const void* bytes, uint32_t size)
{
    reinterpret_cast<std::string*>(file)->append(static_cast<const char*>(bytes), size);
    return 1;
}

void OsCloseAppendFile(AppendFileHandle file)
{
    if (file != nullptr) Log("CloseAppendFile");
}

uint64_t OsQueryPerformanceCounter() { return state.clockTicks += 250; }

uint64_t OsQueryPerformanceFrequency() { return 1000000; }

void OsGetLocalTime(OsLocalTime* time) { *time = {2026, 1, 2, 3, 4, 5}; }

void OsExitProcess(int status)
{
    Log("ExitProcess " + std::to_string(status));
    throw fake::ProcessExit{status};
}
