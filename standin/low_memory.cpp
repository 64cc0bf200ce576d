// A bump allocator over pages below 4 GiB, and the list of what it handed out.
#include "low_memory.h"

#include <cstdint>
#include <cstring>
#include <map>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace standin {

namespace {

constexpr size_t kPageBlockSize = 64 * 1024;
constexpr uintptr_t kFirstHint = 0x10000000u;
constexpr uintptr_t kLastHint = 0xF0000000u;

struct LowArena {
    unsigned char* Next = nullptr;    // free space of the current page block
    size_t Left = 0;                  // bytes left there
    std::map<uint32_t, size_t> Texts; // address -> length without the NUL
};

LowArena& Arena()
{
    static LowArena arena;
    return arena;
}

bool IsLow(const void* address, size_t size)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address)) + size <= 0x100000000u;
}

#ifdef _WIN32
// hint null: wherever the system likes (every address is low in a 32-bit
// process, and Wine's 64-bit half often gives low ones too).
void* MapAt(uintptr_t hint, size_t size)
{
    return VirtualAlloc(reinterpret_cast<void*>(hint), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void Unmap(void* block, size_t) { VirtualFree(block, 0, MEM_RELEASE); }
#else
// MAP_32BIT gives the low 2 GiB on x86-64.
void* MapAt(uintptr_t hint, size_t size)
{
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
    if (hint == 0) flags |= MAP_32BIT;
#endif
    void* block = mmap(reinterpret_cast<void*>(hint), size, PROT_READ | PROT_WRITE, flags, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void Unmap(void* block, size_t size) { munmap(block, size); }
#endif

} // namespace

// The system's own choice first; then addresses below 4 GiB one hint after
// another, keeping only a result that is low.
void* MapLowMemory(size_t size)
{
    void* block = MapAt(0, size);
    if (block != nullptr && IsLow(block, size)) return block;
    if (block != nullptr) Unmap(block, size);
    for (uintptr_t hint = kFirstHint; hint < kLastHint; hint += kFirstHint) {
        block = MapAt(hint, size);
        if (block == nullptr) continue;
        if (IsLow(block, size)) return block;
        Unmap(block, size);
    }
    return nullptr;
}

uint32_t StoreLowText(const std::string& text)
{
    LowArena& arena = Arena();
    const size_t need = text.size() + 1;
    if (need > arena.Left) {
        const size_t size = need > kPageBlockSize ? need : kPageBlockSize;
        void* block = MapLowMemory(size);
        if (block == nullptr) return 0;
        arena.Next = static_cast<unsigned char*>(block);
        arena.Left = size;
    }
    unsigned char* at = arena.Next;
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = 0;
    arena.Next += need;
    arena.Left -= need;
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at));
    arena.Texts[address] = text.size();
    return address;
}

bool FindLowText(uint32_t address, std::string* text)
{
    const LowArena& arena = Arena();
    auto found = arena.Texts.find(address);
    if (found == arena.Texts.end()) return false;
    const char* at = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
    text->assign(at, found->second);
    return true;
}

} // namespace standin
