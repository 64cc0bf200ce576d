// The command channel allocates no memory per command, with the session
// trace off and on: 10,000 commands of every reply kind go through
// SendCommand while malloc and operator new count their calls. Built as its own program, since it replaces malloc.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "engine/session_trace.h"
#include "fake_platform.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* address, size_t size);
extern "C" void __libc_free(void* address);

static std::atomic<long> allocations{0};
static bool counting = false;

extern "C" void* malloc(size_t size)
{
    if (counting) ++allocations;
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    if (counting) ++allocations;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* address, size_t size)
{
    if (counting) ++allocations;
    return __libc_realloc(address, size);
}

void* operator new(size_t size)
{
    if (counting) ++allocations;
    if (void* address = __libc_malloc(size ? size : 1)) return address;
    throw std::bad_alloc();
}

void operator delete(void* address) noexcept { __libc_free(address); }
void operator delete(void* address, size_t) noexcept { __libc_free(address); }

static const char kPointerText[] = "12,FEN,OBJ.PRO,Message";
static int replyKind;

// An engine that answers at once, cycling through the reply kinds.
static int32_t OV_ENGINE_CALL AnswerAtOnce(void* record)
{
    using namespace ReplyLayout;
    auto* bytes = static_cast<unsigned char*>(record);
    static const uint8_t kinds[] = {HasKeyName,  HasKeyName | HasExtra, HasText | 1,
                                    HasText | 2, HasText | 3,           HasText | 4,
                                    HasText | 5, HasText | 8,           0};
    const uint8_t flags = kinds[replyKind++ % sizeof kinds];
    bytes[Flags] = flags;
    std::memcpy(bytes + KeyName, "RET", KeyNameSize);
    if (flags & HasText) {
        std::memcpy(bytes + Text, "-12.5,Text", 10);
        bytes[TextLength] = (flags & KindMask) == 8 ? 5 : 10;
        if ((flags & KindMask) == 5) {
            const uint32_t pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(kPointerText));
            std::memcpy(bytes + PointerValue, &pointer, 4);
        }
    }
    return 0;
}

// Sends one command to warm up, then 10,000 formatted ones while counting
// the allocations they make.
static void SendTenThousandCommands()
{
    replyKind = 0;
    EngineState.Started = 1;
    EngineState.OVCALLC = &AnswerAtOnce;
    SendCommand("WARM,%s,%d", "up", 1);
    allocations = 0;
    counting = true;
    for (int i = 0; i < 10000; ++i)
        SendCommand("OUVRE,%s/_OV_GO.OVW /RE %d", "/home/user/project", i);
    counting = false;
}

TEST(CommandChannelMemory, TenThousandCommandsAllocateNothing)
{
    SendTenThousandCommands();
    EXPECT_EQ(0, allocations.load());
    EXPECT_EQ(10001, replyKind);
    EXPECT_STREQ("RET", CommandResult.KeyName);
    EngineState.Started = 0;
}

TEST(CommandChannelMemory, TracedCommandsAllocateNothing)
{
    // The fake keeps the trace in memory: its room is taken beforehand.
    std::string& trace = fake::state.appendFiles["trace.txt"];
    trace.reserve(4 << 20);
    uint32_t existing = 0;
    char last = 0;
    SessionTrace.File = OsOpenAppendFile("trace.txt", &existing, &last);
    TraceHooks = &kSessionTraceHooks;
    SendTenThousandCommands();
    EXPECT_EQ(0, allocations.load());
    EXPECT_NE(std::string::npos, trace.find("\"OUVRE,/home/user/project/_OV_GO.OVW /RE 9999\" => key=\"RET\""));
    ResetSessionTraceForTests();
    EngineState.Started = 0;
}
