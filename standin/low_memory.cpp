// A bump allocator over pages below 4 GiB, and the list of what it handed out.
#include "low_memory.h"

#include <cstring>
#include <map>
#include <new>

#if UINTPTR_MAX > 0xFFFFFFFFu
#include <sys/mman.h>
#endif

namespace standin {

namespace {

constexpr size_t kPageBlockSize = 64 * 1024;

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

#if UINTPTR_MAX > 0xFFFFFFFFu
bool IsLow(const void* address, size_t size) { return reinterpret_cast<uintptr_t>(address) + size <= 0x100000000u; }
#endif

} // namespace

#if UINTPTR_MAX > 0xFFFFFFFFu
// MAP_32BIT gives the low 2 GiB on x86-64; elsewhere ask for addresses
// below 4 GiB one hint after another and keep only a result that is low.
void* MapLowMemory(size_t size)
{
#ifdef MAP_32BIT
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (block != MAP_FAILED && IsLow(block, size)) return block;
    if (block != MAP_FAILED) munmap(block, size);
#endif
    for (uintptr_t hint = 0x10000000u; hint < 0xF0000000u; hint += 0x10000000u) {
        void* block =
            mmap(reinterpret_cast<void*>(hint), size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) continue;
        if (IsLow(block, size)) return block;
        munmap(block, size);
    }
    return nullptr;
}
#else
void* MapLowMemory(size_t size) { return new (std::nothrow) unsigned char[size]; }
#endif

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
