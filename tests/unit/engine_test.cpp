// The engine's lifetime: loading, the entry-point lookup, starts accepted and
// refused, stops, and the start-up block's memory.
#include <cstring>

#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "engine/startup_block.h"
#include "test_support.h"

using fake::Reply;
using fake::state;

class EngineTest : public FakeTest {
  protected:
    std::vector<std::string> EngineEvents()
    {
        std::vector<std::string> events;
        for (const auto& line : state.log)
            if (line.compare(0, 4, "Read") != 0) events.push_back(line);
        return events;
    }
};

TEST_F(EngineTest, FirstCommandLoadsStartsAndResetsBeforeItIsSent)
{
    std::strcpy(CommandResult.KeyName, "OLD");
    std::strcpy(CommandResult.TextResult, "stale");
    CommandResult.IntResult = 9;
    state.replies = {Reply()}; // a reply that sets nothing
    SendCommand("ENVI,%lu", 1234ul);
    EXPECT_EQ((std::vector<std::string>{
                  "LoadLibrary OV553KRN.DLL", "GetProcAddress AffTexteLongC", "GetProcAddress OV4InitInstance",
                  "GetProcAddress FinInstance", "GetProcAddress OVCALLC", "GlobalAlloc 66 880", "GlobalLock",
                  "OV4InitInstance block -> 1", "GlobalHandle", "GlobalUnlock", "GlobalFree", "OVCALLC ENVI,1234"}),
              EngineEvents());
    ASSERT_EQ(1u, state.initRecords.size());
    EXPECT_EQ(std::vector<unsigned char>(kCommandRecordSize, 0), state.initRecords[0]);
    EXPECT_STREQ("", CommandResult.KeyName);
    EXPECT_STREQ("", CommandResult.TextResult);
    EXPECT_EQ(0, CommandResult.IntResult);
    EXPECT_EQ(1, EngineState.Started);
    EXPECT_EQ(0, state.liveGlobalBlocks);
}

TEST_F(EngineTest, LaterCommandsNeitherLoadNorStart)
{
    SendCommand("A");
    state.log.clear();
    SendCommand("B");
    SendCommand("C");
    EXPECT_EQ((std::vector<std::string>{"OVCALLC B", "OVCALLC C"}), EngineEvents());
}

TEST_F(EngineTest, StopBeforeAnyCommandOrTwiceCallsNothing)
{
    StopEngine();
    EXPECT_TRUE(state.log.empty());
    SendCommand("A");
    state.log.clear();
    StopEngine();
    StopEngine();
    EXPECT_EQ((std::vector<std::string>{"FinInstance", "FreeLibrary"}), state.log);
    EXPECT_EQ(0, state.libraryReferences);
    EXPECT_EQ(nullptr, EngineState.Library);
    // The addresses outlive the stop.
    EXPECT_NE(nullptr, EngineState.OVCALLC);
}

TEST_F(EngineTest, FinInstanceReceivesTheRecordAsTheLastCommandLeftIt)
{
    state.replies = {Reply::Key("RET")};
    SendCommand("XYZ");
    StopEngine();
    EXPECT_EQ(0x80, CommandRecord.Bytes[0]);
    EXPECT_EQ('R', CommandRecord.Bytes[2]);
}

TEST_F(EngineTest, RefusedStartDropsTheCommandAndTheNextCommandTriesAgain)
{
    state.initResults = {0, 1};
    std::strcpy(CommandResult.KeyName, "XYZ");
    SendCommand("FIRST");
    EXPECT_TRUE(Commands().empty());
    EXPECT_STREQ("XYZ", CommandResult.KeyName);
    EXPECT_EQ(0, EngineState.Started);
    EXPECT_NE(nullptr, EngineState.Library);

    const size_t logged = state.log.size();
    StopEngine(); // nothing to stop: the refused library stays loaded
    EXPECT_EQ(logged, state.log.size());

    state.replies = {Reply()};
    SendCommand("SECOND");
    EXPECT_EQ((std::vector<std::string>{"SECOND"}), Commands());
    EXPECT_EQ(2u, fake::LogLines("LoadLibrary").size());
    EXPECT_EQ(2u, state.blocks.size());
    EXPECT_EQ(2, state.libraryReferences); // the platform counts both loads
    EXPECT_STREQ("", CommandResult.KeyName);
}

TEST_F(EngineTest, CommandAfterStopStartsAFreshInstance)
{
    state.replies = {Reply::KeyAndText("RET", 1, "5"), Reply()};
    SendCommand("A");
    EXPECT_EQ(5, CommandResult.IntResult);
    StopEngine();
    SendCommand("B");
    EXPECT_EQ(2u, fake::LogLines("OV4InitInstance").size());
    EXPECT_STREQ("", CommandResult.KeyName);
    EXPECT_EQ(0, CommandResult.IntResult);
}

TEST_F(EngineTest, LibraryWithoutTheFirstNameFillsNothingAndEndsTheRun)
{
    state.missingEntryPoints = {"AffTexteLongC"};
    try {
        SendCommand("A");
        FAIL() << "the run should have ended";
    } catch (const fake::ProcessExit& exit) {
        EXPECT_EQ(0, exit.status);
    }
    EXPECT_EQ(nullptr, EngineState.AffTexteLongC);
    EXPECT_EQ(nullptr, EngineState.OV4InitInstance);
    EXPECT_EQ(nullptr, EngineState.FinInstance);
    EXPECT_EQ(nullptr, EngineState.OVCALLC);
    EXPECT_EQ((std::vector<std::string>{"LoadLibrary OV553KRN.DLL", "GetProcAddress AffTexteLongC", "FreeLibrary",
                                        "MessageBox ERROR: APPELOV: Init failed type=0", "ExitProcess 0"}),
              EngineEvents());
}

TEST_F(EngineTest, LibraryWithoutTheCommandEntryIsNeverCalledInto)
{
    state.missingEntryPoints = {"OVCALLC"};
    EXPECT_THROW(SendCommand("A"), fake::ProcessExit);
    EXPECT_NE(nullptr, EngineState.FinInstance); // found before the missing row
    EXPECT_EQ(nullptr, EngineState.OVCALLC);
    EXPECT_TRUE(fake::LogLines("OV4InitInstance").empty());
    EXPECT_EQ(0, state.libraryReferences);
    EXPECT_EQ(1u, fake::LogLines("MessageBox").size());
}

TEST_F(EngineTest, StartupBlockMemoryFailuresGiveANullBlock)
{
    state.globalAllocFails = true;
    SendCommand("A");
    EXPECT_EQ(1u, fake::LogLines("OV4InitInstance null").size());
    StopEngine();

    state.globalAllocFails = false;
    state.globalLockFails = true;
    SendCommand("B");
    EXPECT_EQ(2u, fake::LogLines("OV4InitInstance null").size());
    EXPECT_EQ(0, state.liveGlobalBlocks); // the unlockable handle was freed
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), Commands());
}

TEST_F(EngineTest, GlobalBlockStaysWhileAnotherLockHoldsIt)
{
    void* address = AllocGlobalBlock(16, kGhnd);
    ASSERT_NE(nullptr, address);
    OsGlobalLock(OsGlobalHandle(address));
    FreeGlobalBlock(address);
    EXPECT_EQ(1, state.liveGlobalBlocks);
    FreeGlobalBlock(address);
    EXPECT_EQ(0, state.liveGlobalBlocks);
    state.log.clear();
    FreeGlobalBlock(nullptr);
    EXPECT_TRUE(state.log.empty());
}
