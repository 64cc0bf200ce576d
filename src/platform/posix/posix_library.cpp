// The Linux side of the module and library procedures: libraries loaded
// with dlopen, their handles counted as Windows counts them, the program's
// own module, and a check that refuses a library file cut short before
// dlopen maps it.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "posix_library.h"

#include "platform.h"
#include "posix_faults.h"
#include "posix_no_throw.h"
#include "posix_paths.h"

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

// Notes why the library at tried could not be used. dlerror's text usually
// starts with the path again: that is dropped.
void NoteLibraryFailure(const char* verb, const std::string& tried, const std::string& path, const char* reason)
{
    if (reason == nullptr) reason = "no reason given";
    const std::string repeated = path + ": ";
    if (std::strncmp(reason, repeated.c_str(), repeated.size()) == 0) reason += repeated.size();
    std::snprintf(LibraryFailure, sizeof LibraryFailure, "cannot %s %s: %s", verb, tried.c_str(), reason);
}

} // namespace

char LibraryFailure[kLibraryFailureSize];

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
        std::string tried = path;
        // A bare name is looked for in the launcher's own directory first (its
        // name matched ignoring case), then by the system's search.
        if (IsBareFileName(fileName)) {
            const std::string directory = DirectoryPart(ExecutablePath());
            const std::string found = FindEntryIgnoringCase(directory, path);
            if (!found.empty()) {
                path = JoinPath(directory, found);
                tried = path;
            } else {
                tried = JoinPath(directory, path) + " (missing), then " + path + " through the system's library search";
            }
        }
        // Only a path names the file dlopen will map; a bare name is left
        // to the system's search.
        if (path.find('/') != std::string::npos && !SegmentsInsideFile(path)) {
            NoteLibraryFailure("load", tried, path, "the file ends before the parts its header lists (cut short?)");
            return nullptr;
        }
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            NoteLibraryFailure("load", tried, path, dlerror());
            return nullptr;
        }
        LibraryFailure[0] = '\0';
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
    if (FindLoadedLibrary(module) == nullptr && module != static_cast<ModuleHandle>(ProgramHandle())) return nullptr;
    if (StepFails(kFaultSymbolLookup)) return nullptr;
    dlerror();
    void* address = dlsym(module, name);
    if (address == nullptr) {
        const LoadedLibrary* library = FindLoadedLibrary(module);
        const std::string path = library != nullptr ? library->Path : ExecutablePath();
        WithoutExceptions(0, [&] {
            NoteLibraryFailure("use", path, path, dlerror());
            return 0;
        });
    }
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
