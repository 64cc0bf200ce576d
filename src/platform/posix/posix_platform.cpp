// The Linux side of the platform procedures other than profile files: the
// environment block, modules and libraries (dlopen), movable global memory,
// the stand-ins for windows, cursors and brushes, the message box on
// standard error, and the error mode, files and directories.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_faults.h"
#include "posix_no_throw.h"
#include "posix_paths.h"

extern char** environ;

// --- Environment ---------------------------------------------------------

char* OsGetEnvironmentStrings()
{
    size_t size = 1;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        size += std::strlen(*entry) + 1;
    // An empty environment still gets two NULs: an empty first string and
    // the end mark, so that a reader looking for the double NUL stops.
    if (size == 1) size = 2;
    char* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr) return nullptr;
    char* at = block;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const size_t length = std::strlen(*entry) + 1;
        std::memcpy(at, *entry, length);
        at += length;
    }
    *at = '\0';
    block[size - 1] = '\0';
    return block;
}

int32_t OsFreeEnvironmentStrings(char* block)
{
    if (block == nullptr) return 0;
    std::free(block);
    return 1;
}

// --- Modules and libraries -----------------------------------------------

namespace {

// A library loaded through OsLoadLibrary and not yet freed as many times.
struct LoadedLibrary {
    void* Handle;        // dlopen's handle
    std::string Path;    // its absolute path
    uint32_t References; // loads not yet matched by a free
};

// Owned by this module; in load order.
std::vector<LoadedLibrary> LoadedLibraries;

LoadedLibrary* FindLoadedLibrary(const void* handle)
{
    for (LoadedLibrary& library : LoadedLibraries) {
        if (library.Handle == handle) return &library;
    }
    return nullptr;
}

// The running program's own handle: dlsym on it finds the program's symbols.
void* ProgramHandle()
{
    static void* const handle = dlopen(nullptr, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

// "OVTST552.EXE" names a program file called OVTST552.EXE or ovtst552: the
// comparison ignores case, and a Linux program has no ".EXE".
bool NamesProgram(const std::string& asked, const std::string& programName)
{
    if (EqualIgnoringAsciiCase(asked, programName)) return true;
    const std::string suffix = ".exe";
    return asked.size() > suffix.size() &&
           EqualIgnoringAsciiCase(std::string_view(asked).substr(asked.size() - suffix.size()), suffix) &&
           EqualIgnoringAsciiCase(std::string_view(asked).substr(0, asked.size() - suffix.size()), programName);
}

std::string LibraryPath(void* handle, const std::string& fallback)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] != '\0') {
        char* absolute = realpath(map->l_name, nullptr);
        if (absolute != nullptr) {
            std::string path = absolute;
            std::free(absolute);
            return path;
        }
        return map->l_name;
    }
    return fallback;
}

// dlopen maps a library's segments straight from its file, so a file cut
// short (a copy that did not finish) ends the process with SIGBUS as soon as
// the loader touches a page past its end. An ELF file of our class whose
// program headers or loaded segments do not lie inside it is refused as a
// library that cannot be loaded. Any other file is left to dlopen, which
// reads its header and refuses it itself.
bool SegmentsInsideFile(const std::string& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return true;
    struct stat status;
    ElfW(Ehdr) header;
    bool inside = true;
    if (fstat(descriptor, &status) == 0 && pread(descriptor, &header, sizeof header, 0) == sizeof header &&
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32)) {
        const uint64_t size = static_cast<uint64_t>(status.st_size);
        const uint64_t tableSize = static_cast<uint64_t>(header.e_phnum) * sizeof(ElfW(Phdr));
        inside =
            header.e_phentsize == sizeof(ElfW(Phdr)) && header.e_phoff <= size && tableSize <= size - header.e_phoff;
        for (unsigned i = 0; inside && i < header.e_phnum; ++i) {
            ElfW(Phdr) segment;
            const off_t at = static_cast<off_t>(header.e_phoff + i * sizeof segment);
            inside = pread(descriptor, &segment, sizeof segment, at) == sizeof segment &&
                     (segment.p_type != PT_LOAD ||
                      (segment.p_offset <= size && segment.p_filesz <= size - segment.p_offset));
        }
    }
    close(descriptor);
    return inside;
}

} // namespace

ModuleHandle OsGetModuleHandle(const char* moduleName)
{
    if (moduleName == nullptr) return static_cast<ModuleHandle>(ProgramHandle());
    return WithoutExceptions(static_cast<ModuleHandle>(nullptr), [&]() -> ModuleHandle {
        const std::string asked = FileNamePart(WithPosixSeparators(moduleName));
        if (NamesProgram(asked, FileNamePart(ExecutablePath()))) return static_cast<ModuleHandle>(ProgramHandle());
        // Other names: only the libraries loaded through OsLoadLibrary are
        // known, by their file names ignoring case.
        for (const LoadedLibrary& library : LoadedLibraries) {
            if (EqualIgnoringAsciiCase(asked, FileNamePart(library.Path)))
                return static_cast<ModuleHandle>(library.Handle);
        }
        return nullptr;
    });
}

uint32_t OsGetModuleFileName(ModuleHandle module, char* buffer, uint32_t size)
{
    if (buffer == nullptr || size == 0) return 0;
    return WithoutExceptions(0u, [&]() -> uint32_t {
        std::string path;
        if (module == nullptr || module == static_cast<ModuleHandle>(ProgramHandle())) {
            path = ExecutablePath();
        } else if (const LoadedLibrary* library = FindLoadedLibrary(module)) {
            path = library->Path;
        }
        if (path.empty()) return 0;
        const size_t count = path.size() < size - 1 ? path.size() : size - 1;
        std::memcpy(buffer, path.data(), count);
        buffer[count] = '\0';
        return static_cast<uint32_t>(count);
    });
}

ModuleHandle OsLoadLibrary(const char* fileName)
{
    if (fileName == nullptr || fileName[0] == '\0') return nullptr;
    if (StepFails(kFaultLibraryLoad)) return nullptr;
    return WithoutExceptions(static_cast<ModuleHandle>(nullptr), [&]() -> ModuleHandle {
        std::string path = WithPosixSeparators(fileName);
        // A bare name is looked for in the launcher's own directory first (its
        // name matched ignoring case), then by the system's search.
        if (IsBareFileName(fileName)) {
            const std::string directory = DirectoryPart(ExecutablePath());
            const std::string found = FindEntryIgnoringCase(directory, path);
            if (!found.empty()) path = JoinPath(directory, found);
        }
        // Only a path names the file dlopen will map; a bare name is left
        // to the system's search.
        if (path.find('/') != std::string::npos && !SegmentsInsideFile(path)) return nullptr;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return nullptr;
        // dlopen hands back the same handle for a library already loaded and
        // counts one more reference; the list follows it.
        if (LoadedLibrary* library = FindLoadedLibrary(handle)) {
            ++library->References;
            return static_cast<ModuleHandle>(handle);
        }
        try {
            LoadedLibraries.push_back(LoadedLibrary{handle, LibraryPath(handle, path), 1});
        } catch (...) {
            dlclose(handle);
            throw;
        }
        return static_cast<ModuleHandle>(handle);
    });
}

ProcAddress OsGetProcAddress(ModuleHandle module, const char* name)
{
    // Only handles this layer gave out are passed to dlsym.
    if (name == nullptr) return nullptr;
    if (module != static_cast<ModuleHandle>(ProgramHandle()) && FindLoadedLibrary(module) == nullptr) return nullptr;
    if (StepFails(kFaultSymbolLookup)) return nullptr;
    void* address = dlsym(module, name);
    ProcAddress procedure = nullptr;
    static_assert(sizeof procedure == sizeof address, "a data pointer holds a procedure address");
    std::memcpy(&procedure, &address, sizeof procedure);
    return procedure;
}

int32_t OsFreeLibrary(ModuleHandle module)
{
    LoadedLibrary* library = FindLoadedLibrary(module);
    if (library == nullptr) return 0;
    if (dlclose(library->Handle) != 0) return 0;
    if (--library->References == 0) LoadedLibraries.erase(LoadedLibraries.begin() + (library - LoadedLibraries.data()));
    return 1;
}

// --- Global memory -------------------------------------------------------

namespace {

// A block from OsGlobalAlloc; its handle is the record's address.
struct GlobalBlock {
    std::unique_ptr<unsigned char[]> Bytes; // the block's memory
    uint32_t Locks;                         // OsGlobalLock calls not yet unlocked
};

// Owned by this module. A handle or address not in this list is refused.
std::vector<std::unique_ptr<GlobalBlock>> GlobalBlocks;

GlobalBlock* FindBlock(GlobalHandle memory)
{
    for (const std::unique_ptr<GlobalBlock>& block : GlobalBlocks) {
        if (reinterpret_cast<GlobalHandle>(block.get()) == memory) return block.get();
    }
    return nullptr;
}

} // namespace

GlobalHandle OsGlobalAlloc(uint32_t flags, uint32_t size)
{
    if (StepFails(kFaultGlobalAlloc)) return nullptr;
    return WithoutExceptions(static_cast<GlobalHandle>(nullptr), [&]() -> GlobalHandle {
        // Every block is handled as movable: locks are counted whatever the
        // flags say. A zero-size block still gets one byte, so that it has an
        // address of its own.
        const size_t bytes = size > 0 ? size : 1;
        std::unique_ptr<GlobalBlock> block(new (std::nothrow) GlobalBlock{});
        if (block == nullptr) return nullptr;
        block->Bytes.reset((flags & kGmemZeroInit) != 0 ? new (std::nothrow) unsigned char[bytes]()
                                                        : new (std::nothrow) unsigned char[bytes]);
        if (block->Bytes == nullptr) return nullptr;
        GlobalHandle handle = reinterpret_cast<GlobalHandle>(block.get());
        GlobalBlocks.push_back(std::move(block));
        return handle;
    });
}

void* OsGlobalLock(GlobalHandle memory)
{
    GlobalBlock* block = FindBlock(memory);
    if (block == nullptr) return nullptr;
    ++block->Locks;
    return block->Bytes.get();
}

GlobalHandle OsGlobalHandle(const void* address)
{
    // Only a block's own address finds it; any other address gives null.
    if (address == nullptr) return nullptr;
    for (const std::unique_ptr<GlobalBlock>& block : GlobalBlocks) {
        if (block->Bytes.get() == address) return reinterpret_cast<GlobalHandle>(block.get());
    }
    return nullptr;
}

int32_t OsGlobalUnlock(GlobalHandle memory)
{
    GlobalBlock* block = FindBlock(memory);
    if (block == nullptr || block->Locks == 0) return 0;
    --block->Locks;
    return static_cast<int32_t>(block->Locks);
}

GlobalHandle OsGlobalFree(GlobalHandle memory)
{
    // A locked block is freed as well, as GlobalFree does.
    for (auto block = GlobalBlocks.begin(); block != GlobalBlocks.end(); ++block) {
        if (reinterpret_cast<GlobalHandle>(block->get()) == memory) {
            GlobalBlocks.erase(block);
            return nullptr;
        }
    }
    return memory;
}

// --- Windows, messages, beep ---------------------------------------------

namespace {

// There is no window system: the cursor and the stock brushes are distinct
// dummy objects, classes and windows are names and numbers in two lists.
char ArrowCursor;     // the one cursor every id gets
char StockBrushes[6]; // WHITE_BRUSH (0) to NULL_BRUSH (5)

constexpr uint16_t kFirstClassAtom = 0xC000; // where Windows numbers registered classes
constexpr uintptr_t kFirstWindow = 0x10000;  // window handles count up from here, by 4

std::vector<std::string> ClassNames; // atom kFirstClassAtom + index
std::vector<uintptr_t> LiveWindows;  // handles created and not destroyed
uintptr_t NextWindow = kFirstWindow;

bool ClassIsRegistered(const char* className)
{
    if (className == nullptr) return false;
    for (const std::string& name : ClassNames) {
        // Class names ignore case.
        if (EqualIgnoringAsciiCase(name, className)) return true;
    }
    return false;
}

} // namespace

int32_t OsMessageBox(WindowHandle, const char* text, const char* caption, uint32_t)
{
    // "CAPTION: TEXT" on one line, the bytes as given. Windows' default
    // caption is "Error".
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
    std::fflush(stderr);
    // Only a person at a terminal can close the box.
    if (isatty(STDIN_FILENO)) {
        int character;
        do {
            character = std::getchar();
        } while (character != '\n' && character != EOF);
    }
    constexpr int32_t kIdOk = 1;
    return kIdOk;
}

int32_t OsMessageBeep(uint32_t)
{
    if (isatty(STDERR_FILENO)) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
    return 1;
}

CursorHandle OsLoadCursor(InstanceHandle, uint32_t) { return reinterpret_cast<CursorHandle>(&ArrowCursor); }

BrushHandle OsGetStockBrush(int32_t object)
{
    if (object < 0 || object >= static_cast<int32_t>(sizeof StockBrushes)) return nullptr;
    return reinterpret_cast<BrushHandle>(&StockBrushes[object]);
}

uint16_t OsRegisterClass(const OsWindowClass* windowClass)
{
    if (windowClass == nullptr || windowClass->className == nullptr || windowClass->className[0] == '\0') return 0;
    // A class registered twice fails the second time.
    if (ClassIsRegistered(windowClass->className)) return 0;
    if (ClassNames.size() >= 0x4000u) return 0;
    return WithoutExceptions(static_cast<uint16_t>(0), [&] {
        ClassNames.push_back(windowClass->className);
        return static_cast<uint16_t>(kFirstClassAtom + ClassNames.size() - 1);
    });
}

WindowHandle OsCreateWindowEx(uint32_t, const char* className, const char*, uint32_t, int32_t, int32_t, int32_t,
                              int32_t, WindowHandle, MenuHandle, InstanceHandle, void*)
{
    if (!ClassIsRegistered(className)) return nullptr;
    return WithoutExceptions(static_cast<WindowHandle>(nullptr), [&] {
        LiveWindows.push_back(NextWindow);
        NextWindow += 4;
        return reinterpret_cast<WindowHandle>(LiveWindows.back());
    });
}

int32_t OsDestroyWindow(WindowHandle window)
{
    for (auto live = LiveWindows.begin(); live != LiveWindows.end(); ++live) {
        if (*live == reinterpret_cast<uintptr_t>(window)) {
            LiveWindows.erase(live);
            return 1;
        }
    }
    return 0;
}

intptr_t OsDefWindowProc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

// --- Error mode, files, drive and directory -------------------------------

namespace {

uint32_t ErrorMode; // the mode last set; nothing here reads it
// OsOpenFile opens nothing: kOfExist only looks, and hands back this number.
constexpr int32_t kExistProbeFile = 1;

} // namespace

uint32_t OsSetErrorMode(uint32_t mode)
{
    const uint32_t previous = ErrorMode;
    ErrorMode = mode;
    return previous;
}

int32_t OsOpenFile(const char* path, uint32_t style)
{
    // Only the existence test is offered: the launcher opens no file.
    if (path == nullptr || (style & kOfExist) == 0) return kHFileError;
    return WithoutExceptions(kHFileError, [&] {
        std::string resolved;
        struct stat status;
        if (!ResolvePathIgnoringCase(WithPosixSeparators(path), &resolved) || stat(resolved.c_str(), &status) != 0)
            return kHFileError;
        return kExistProbeFile;
    });
}

int32_t OsCloseFile(int32_t file) { return file == kExistProbeFile ? 0 : kHFileError; }

// There are no drives.
int32_t OsChangeDrive(int32_t) { return 0; }

int32_t OsChangeDirectory(const char* path)
{
    // Each component matches ignoring case when no entry has that exact
    // name, as on a Windows file system: the console upper-cases its path.
    if (path == nullptr) return -1;
    return WithoutExceptions(-1, [&] {
        std::string resolved;
        if (!ResolvePathIgnoringCase(WithPosixSeparators(path), &resolved)) return -1;
        return chdir(resolved.c_str()) == 0 ? 0 : -1;
    });
}

// --- Trace file, clock, local time -----------------------------------------

uint32_t OsGetWindowsDirectory(char* buffer, uint32_t size)
{
    if (size == 0) return 0;
    return WithoutExceptions(0u, [&] {
        const std::string directory = WindowsDirectory();
        if (directory.empty() || directory.size() >= size) return 0u;
        std::memcpy(buffer, directory.c_str(), directory.size() + 1);
        return static_cast<uint32_t>(directory.size());
    });
}

AppendFileHandle OsOpenAppendFile(const char* path, uint32_t* existingSize)
{
    return WithoutExceptions(static_cast<AppendFileHandle>(nullptr), [&] {
        // 0600: a trace holds whatever was typed at the console.
        const int file = open(WithPosixSeparators(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (file < 0) return static_cast<AppendFileHandle>(nullptr);
        struct stat status;
        *existingSize = fstat(file, &status) == 0 && status.st_size > 0
                            ? static_cast<uint32_t>(status.st_size > 0xFFFFFFFF ? 0xFFFFFFFF : status.st_size)
                            : 0;
        // The descriptor plus one, so that descriptor 0 is not the null handle.
        return reinterpret_cast<AppendFileHandle>(static_cast<intptr_t>(file) + 1);
    });
}

static int AppendFileDescriptor(AppendFileHandle file)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

int32_t OsWriteAppendFile(AppendFileHandle file, const void* bytes, uint32_t size)
{
    const char* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(AppendFileDescriptor(file), at, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 0;
        at += written;
        size -= static_cast<uint32_t>(written);
    }
    return 1;
}

void OsCloseAppendFile(AppendFileHandle file)
{
    if (file != nullptr) close(AppendFileDescriptor(file));
}

uint64_t OsQueryPerformanceCounter()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t OsQueryPerformanceFrequency() { return 1000000000u; }

void OsGetLocalTime(OsLocalTime* time)
{
    const std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    *time = {static_cast<uint16_t>(local.tm_year + 1900), static_cast<uint16_t>(local.tm_mon + 1),
             static_cast<uint16_t>(local.tm_mday),        static_cast<uint16_t>(local.tm_hour),
             static_cast<uint16_t>(local.tm_min),         static_cast<uint16_t>(local.tm_sec)};
}

// --- Process -------------------------------------------------------------

void OsExitProcess(int status) { std::exit(status); }
