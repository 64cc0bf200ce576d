// The Linux side of the global-memory procedures: movable blocks whose
// handles are their records' addresses, locks counted, unknown handles
// refused.
#include <memory>
#include <new>
#include <vector>

#include "platform.h"
#include "posix_faults.h"
#include "posix_no_throw.h"

namespace {

// A block from OsGlobalAlloc; its handle is the record's address.
struct GlobalBlock {
    std::unique_ptr<unsigned char[]> Bytes; // the block's memory
    uint32_t Locks;                         // OsGlobalLock calls not yet unlocked
};

// Owned by this module. A handle or address not in this list is refused.
std::vector<std::unique_ptr<GlobalBlock>> GlobalBlocks;

GlobalBlock* FindBlock(GlobalMemoryHandle memory)
{
    for (const std::unique_ptr<GlobalBlock>& block : GlobalBlocks) {
        if (reinterpret_cast<GlobalMemoryHandle>(block.get()) == memory) return block.get();
    }
    return nullptr;
}

} // namespace

GlobalMemoryHandle OsGlobalAlloc(uint32_t flags, uint32_t size)
{
    if (StepFails(kFaultGlobalAlloc)) return nullptr;
    return WithoutExceptions(static_cast<GlobalMemoryHandle>(nullptr), [&]() -> GlobalMemoryHandle {
        // Every block is handled as movable: locks are counted whatever the
        // flags say. A zero-size block still gets one byte, so that it has an
        // address of its own.
        const size_t bytes = size > 0 ? size : 1;
        std::unique_ptr<GlobalBlock> block(new (std::nothrow) GlobalBlock{});
        if (block == nullptr) return nullptr;
        block->Bytes.reset((flags & kGmemZeroInit) != 0 ? new (std::nothrow) unsigned char[bytes]()
                                                        : new (std::nothrow) unsigned char[bytes]);
        if (block->Bytes == nullptr) return nullptr;
        GlobalMemoryHandle handle = reinterpret_cast<GlobalMemoryHandle>(block.get());
        GlobalBlocks.push_back(std::move(block));
        return handle;
    });
}

void* OsGlobalLock(GlobalMemoryHandle memory)
{
    GlobalBlock* block = FindBlock(memory);
    if (block == nullptr) return nullptr;
    ++block->Locks;
    return block->Bytes.get();
}

GlobalMemoryHandle OsGlobalHandle(const void* address)
{
    // Only a block's own address finds it; any other address gives null.
    if (address == nullptr) return nullptr;
    for (const std::unique_ptr<GlobalBlock>& block : GlobalBlocks) {
        if (block->Bytes.get() == address) return reinterpret_cast<GlobalMemoryHandle>(block.get());
    }
    return nullptr;
}

int32_t OsGlobalUnlock(GlobalMemoryHandle memory)
{
    GlobalBlock* block = FindBlock(memory);
    if (block == nullptr || block->Locks == 0) return 0;
    --block->Locks;
    return static_cast<int32_t>(block->Locks);
}

GlobalMemoryHandle OsGlobalFree(GlobalMemoryHandle memory)
{
    // A locked block is freed as well, as GlobalFree does.
    for (auto block = GlobalBlocks.begin(); block != GlobalBlocks.end(); ++block) {
        if (reinterpret_cast<GlobalMemoryHandle>(block->get()) == memory) {
            GlobalBlocks.erase(block);
            return nullptr;
        }
    }
    return memory;
}
