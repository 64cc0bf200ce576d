// The session trace: with the TRACE key set the engine sees the same traffic
// and the settings get the same writes as without it; a reply as traced,
// read back by the stand-in's script parser and written over the request,
// gives the launcher the same decoded reply; an unopenable trace file is told
// once after the first command.
#include <cstring>
#include <functional>
#include <random>

#include "../../standin/low_memory.h"
#include "../../standin/reply.h"
#include "../../standin/script.h"
#include "common/settings.h"
#include "common/text.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "engine/session_trace.h"
#include "engine/trace_line.h"
#include "launcher/launcher.h"
#include "test_support.h"

using fake::Reply;
using fake::state;

namespace {

const std::string kTracePath = Path({"", "tmp", "session.trace"});

// Everything the engine and the settings files saw, in order.
struct Traffic {
    std::vector<std::vector<unsigned char>> requests;
    std::vector<std::vector<unsigned char>> blocks;
    std::vector<std::string> writes;
    std::vector<std::string> orvaneIni;
    std::vector<std::string> winIni;
    bool operator==(const Traffic& other) const
    {
        return requests == other.requests && blocks == other.blocks && writes == other.writes &&
               orvaneIni == other.orvaneIni && winIni == other.winIni;
    }
};

Traffic Observed()
{
    Traffic traffic{state.requests, state.blocks, {}, {}, fake::ProfileLines("win.ini")};
    // The environment's address differs from run to run.
    for (auto& request : traffic.requests)
        if (std::memcmp(request.data(), "ENVI,", 5) == 0) request.resize(5);
    // The TRACE key itself is the one difference allowed.
    for (const auto& line : fake::ProfileLines("Orvane.ini"))
        if (line.compare(0, 9, "OVTST552/") != 0) traffic.orvaneIni.push_back(line);
    for (const auto& line : state.log)
        if (line.compare(0, 6, "Write ") == 0 || line.compare(0, 7, "Delete ") == 0) traffic.writes.push_back(line);
    return traffic;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (const auto& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

class TraceTest : public FakeTest {
  protected:
    // One scenario, run with tracing off and then on.
    struct Scenario {
        const char* name;
        std::function<void()> arrange;
    };

    Traffic Run(const Scenario& scenario, bool traced)
    {
        fake::Reset();
        scenario.arrange();
        if (traced) fake::SetProfile("Orvane.ini", "OVTST552", "TRACE", kTracePath);
        RunLauncher();
        return Observed();
    }
};

} // namespace

TEST_F(TraceTest, TracingChangesNoCommandNoWriteAndNoOrder)
{
    const std::string tooLong(300, 'x');
    static const char kDescription[] = "12,FEN,OBJ.PRO,Division par z\xE9ro";
    const uint32_t description = standin::StoreLowText(kDescription);
    ASSERT_NE(0u, description);
    const Scenario scenarios[] = {
        {"window test with an error report",
         [&] {
             EditorRequest("F");
             Reply dftocs = Reply::Text(5, "");
             dftocs.pointerValue = description;
             dftocs.pointerInt = 12;
             state.replies = {Reply::Key("RET"), Reply::Key("*M*"),   Reply::Text(1, "1"),
                              Reply::Key("*E*"), Reply::Text(0, "O"), dftocs};
         }},
        {"project test, a failed settings write",
         [&] {
             EditorRequest("P");
             state.unwritableFiles.insert("orvane.ini");
             state.replies = {Reply::Key("RET"), Reply::Key("*E*"), Reply::Text(0, "O"), Reply::Text(0, "3,W,O,M")};
         }},
        {"refused start, then a too-long directory",
         [&] {
             EditorRequest("F", "/work/" + tooLong);
             state.initResults = {0, 1};
         }},
        {"stand-alone console",
         [&] {
             state.modulePath = Path({"", "opt", "orvane", "OVTST552.EXE"});
             state.replies = {Reply::Key("RET"), Reply::KeyAndText("RET", 0, "DATE"), Reply::Key("ESC")};
         }},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        const Traffic untraced = Run(scenario, false);
        const Traffic traced = Run(scenario, true);
        EXPECT_FALSE(state.appendFiles[kTracePath].empty());
        EXPECT_FALSE(untraced.requests.empty());
        EXPECT_EQ(untraced.requests, traced.requests);
        EXPECT_EQ(untraced.blocks, traced.blocks);
        EXPECT_EQ(untraced.writes, traced.writes);
        EXPECT_EQ(untraced.orvaneIni, traced.orvaneIni);
        EXPECT_EQ(untraced.winIni, traced.winIni);
    }
}

TEST_F(TraceTest, TraceIsAScriptOfTheSession)
{
    static const char kDescription[] = "12,FEN,\"OBJ\".PRO,Division par z\xE9ro";
    const uint32_t description = standin::StoreLowText(kDescription);
    EditorRequest("F");
    fake::SetProfile("Orvane.ini", "OVTST552", "TRACE", kTracePath);
    Reply dftocs = Reply::Text(5, "");
    dftocs.pointerValue = description;
    dftocs.pointerInt = 7;
    state.replies = {Reply(), Reply::Key("*E*"), Reply::Text(0, "O"), dftocs};
    RunLauncher();
    const auto lines = Lines(state.appendFiles[kTracePath]);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(HasLine(lines, "# [TEST] PARAM2=\"F\""));
    EXPECT_TRUE(HasLine(lines, "# start-up block 4B414C4D4952"));
    EXPECT_TRUE(HasLine(lines, "@start => accept  # 0.2 ms"));
    EXPECT_TRUE(
        HasLine(lines, "\"ENVI,\"* => none  # 0.2 ms, sent \"ENVI," + std::to_string(state.environmentAddress)));
    EXPECT_TRUE(HasLine(lines, "\"OUVRE," + Path({"", "work", "test", "_OV_GO.OVW /RE\" => key=\"*E*\"  # 0.2 ms"})));
    EXPECT_TRUE(HasLine(lines, "\"OUINON,Voulez-vous \\xEAtre positionn\\xE9 sur le source?\" => kind=0 text=\"O\""));
    EXPECT_TRUE(HasLine(lines, "\"DFTOCS\" => kind=5 text=\"\" pointer=\"12,FEN,\\\"OBJ\\\".PRO,Division par "
                               "z\\xE9ro\" pointerint=7  # 0.2 ms"));
    EXPECT_TRUE(HasLine(lines, "# write Orvane.ini [TEST] NLIGNE=\"12\": done"));
    EXPECT_TRUE(HasLine(lines, "# delete WIN.INI [Orvane55] LIGNEDECOMMANDE: done"));
    EXPECT_EQ("# the launcher ends", lines.back());
}

// Every reply the launcher can meet, traced, then replayed by the stand-in's
// own parser and writer over a fresh request: the launcher decodes the same.
TEST_F(TraceTest, TracedRepliesReplayToTheSameDecodedReply)
{
    std::vector<std::function<void(unsigned char*)>> edits = {
        [](unsigned char* r) { r[0] = 0x00; },
        [](unsigned char* r) { r[0] = 0x80, std::memcpy(r + 2, "A\"$", 3); },
        [](unsigned char* r) { r[0] = 0xC0, std::memcpy(r + 5, "0123456789", 10), r[15] = 0xFF; },
        [](unsigned char* r) { r[0] = 0x11, r[47] = 250, std::strcpy(reinterpret_cast<char*>(r + 48), "42\\"); },
        [](unsigned char* r) { r[0] = 0x31, r[47] = 1, std::strcpy(reinterpret_cast<char*>(r + 48), "1234"); },
        [](unsigned char* r) { r[0] = 0x0B; },
        [](unsigned char* r) { r[0] = 0x18, r[47] = 2, std::memcpy(r + 48, "12;tail\0", 8); },
        [](unsigned char* r) {
            r[0] = 0x18, r[47] = 3,
            std::memcpy(r + 48,
                        "1\0"
                        "2,xyz\0",
                        8);
        },
        [](unsigned char* r) { r[0] = 0x18, r[47] = 230, std::memset(r + 48, '7', 207); },
        [](unsigned char* r) { r[0] = 0x18, r[47] = 4, std::memset(r + 48, 'z', 207), std::memcpy(r + 48, "-5", 2); },
        [](unsigned char* r) { r[0] = 0x15, r[5] = 0x44, r[6] = 0x33, r[9] = 0xFE; },
        [](unsigned char* r) { r[0] = 0x15, std::memset(r + 5, 0, 4), r[9] = 3; },
    };
    std::mt19937 random(552);
    for (int i = 0; i < 400; ++i)
        edits.push_back([seed = random()](unsigned char* r) {
            std::mt19937 bytes(seed);
            for (size_t at = 0; at < kCommandRecordSize; ++at)
                r[at] = static_cast<unsigned char>(bytes() % 4 == 0 ? 0 : bytes());
        });
    for (size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE("reply " + std::to_string(i));
        fake::Reset();
        state.appendFiles[kTracePath];
        uint32_t existing = 0;
        char last = 0;
        SessionTrace.File = OsOpenAppendFile(kTracePath.c_str(), &existing, &last);
        TraceHooks = &kSessionTraceHooks;
        EngineState.Started = 1;
        ResolveEntryPoints(OsLoadLibrary("OV553KRN.DLL"));
        Reply reply;
        reply.edit = edits[i];
        state.replies = {reply};
        const CommandResultRecord before = CommandResult;
        SendCommand("X,%d", 7);
        const CommandResultRecord traced = CommandResult;

        const std::string line = state.appendFiles[kTracePath];
        const standin::Script script = standin::ParseScript(line, nullptr);
        ASSERT_TRUE(script.Faults.empty()) << script.Faults[0] << "\n" << line;
        ASSERT_EQ(1u, script.Lines.size()) << line;
        ASSERT_TRUE(standin::Matches(script.Lines[0], "X,7")) << line;
        // The same command again, untraced, answered by the stand-in's reply
        // writer from the traced line: the launcher must decode the same.
        const standin::Reply answer = script.Lines[0].Answer;
        bool written = false;
        Reply replayed;
        replayed.edit = [&](unsigned char* record) { written = standin::WriteReply(answer, record); };
        state.replies = {replayed};
        TraceHooks = nullptr;
        CommandResult = before;
        SendCommand("X,%d", 7);
        ASSERT_TRUE(written);
        EXPECT_STREQ(traced.KeyName, CommandResult.KeyName) << line;
        EXPECT_EQ(traced.IntResult, CommandResult.IntResult) << line;
        EXPECT_EQ(traced.LongResult, CommandResult.LongResult) << line;
        EXPECT_EQ(0, std::memcmp(&traced.FloatResult, &CommandResult.FloatResult, sizeof(float))) << line;
        EXPECT_EQ(0, std::memcmp(&traced.DoubleResult, &CommandResult.DoubleResult, sizeof(double))) << line;
        EXPECT_STREQ(traced.TextResult, CommandResult.TextResult) << line;
        EXPECT_EQ(traced.PointerResult, CommandResult.PointerResult) << line;
        EXPECT_STREQ(traced.ExtraText, CommandResult.ExtraText) << line;
        EXPECT_EQ(traced.ExtraValue, CommandResult.ExtraValue) << line;
    }
}

TEST_F(TraceTest, UnopenableTraceIsToldOnceAfterTheFirstCommandInTheUsersLanguage)
{
    for (const bool english : {false, true}) {
        SCOPED_TRACE(english ? "English" : "French");
        fake::Reset();
        EditorRequest("F");
        if (english) fake::SetProfile("Orvane.ini", "Orvane55", "LANGUAGE", "US");
        // A relative name is taken in the Windows directory.
        fake::SetProfile("Orvane.ini", "OVTST552", "TRACE", "t.txt");
        const std::string path = state.windowsDirectory + kPathSeparator + "t.txt";
        state.unopenableFiles.insert(path);
        RunLauncher();
        ASSERT_GE(Commands().size(), 3u);
        EXPECT_EQ(0u, Commands()[0].find("ENVI,"));
        EXPECT_EQ(english ? "INFO,Can not open the trace file " + path + "; the test goes on without a trace."
                          : "INFO,Impossible d'ouvrir le fichier de trace " + path + " ; le test continue sans trace.",
                  Commands()[1]);
        EXPECT_EQ("OUVRE,", Commands()[2].substr(0, 6));
        EXPECT_EQ(1u, fake::LogLines("OpenAppendFile").size());
    }
}

TEST_F(TraceTest, ALaterRunAppendsAfterASeparator)
{
    EditorRequest("X");
    fake::SetProfile("Orvane.ini", "OVTST552", "TRACE", kTracePath);
    RunLauncher();
    const std::string first = state.appendFiles[kTracePath];
    ResetProcessStateForTests();
    RunLauncher();
    const std::string both = state.appendFiles[kTracePath];
    ASSERT_EQ(first, both.substr(0, first.size()));
    EXPECT_EQ("# ======== the next run ========\n# OVTST552 ", both.substr(first.size(), 44));
    EXPECT_EQ("# the launcher ends", Lines(both).back());

    // A run whose engine never returned ended in the middle of a line: the
    // next run still begins on a line of its own.
    const std::string cut = first + "\"ECRAN,SAISIE\" =>";
    state.appendFiles[kTracePath] = cut;
    ResetProcessStateForTests();
    RunLauncher();
    EXPECT_EQ(cut + "\n# ======== the next run ========\n# OVTST552 ",
              state.appendFiles[kTracePath].substr(0, cut.size() + 45));
}

TEST_F(TraceTest, AFieldThatWouldNotFitIsCutAndMarked)
{
    uint32_t existing = 0;
    char last = 0;
    SessionTrace.File = OsOpenAppendFile(kTracePath.c_str(), &existing, &last);
    TraceHooks = &kSessionTraceHooks;
    // Every byte escaped to four: far beyond one line.
    for (const size_t size : {kTraceLineSize / 4 - 40, kTraceLineSize / 4, kTraceLineSize}) {
        SCOPED_TRACE(size);
        state.appendFiles[kTracePath].clear();
        const std::string value(size, '\x01');
        TraceHooks->SettingWritten("Orvane.ini", "TEST", "MESSAGE", value.c_str(), 1);
        const std::string& line = state.appendFiles[kTracePath];
        EXPECT_LE(line.size(), kTraceLineSize);
        ASSERT_EQ('\n', line.back());
        const bool cut = line.find(" [cut]") != std::string::npos;
        EXPECT_EQ(size * 4 > kTraceLineSize - 64, cut) << line.size();
        EXPECT_EQ(cut ? "\" [cut]\n" : "\": done\n", line.substr(line.size() - 8));
    }
}

TEST_F(TraceTest, ASectionsDeletionIsRecordedWithoutAKey)
{
    uint32_t existing = 0;
    char last = 0;
    SessionTrace.File = OsOpenAppendFile(kTracePath.c_str(), &existing, &last);
    TraceHooks = &kSessionTraceHooks;
    CopyText(SettingsFileName, "Orvane.ini");
    fake::SetProfile("Orvane.ini", "OLD", "K", "v");
    EXPECT_NE(0, WriteSetting("OLD", nullptr, nullptr));
    EXPECT_FALSE(fake::HasProfile("Orvane.ini", "OLD", "K"));
    EXPECT_EQ("# delete Orvane.ini [OLD]: done\n", state.appendFiles[kTracePath]);
}

TEST_F(TraceTest, LibraryThatCannotBeUsedIsTheTracesLastWord)
{
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "an entry point missing" : "no library");
        fake::Reset();
        EditorRequest("F");
        fake::SetProfile("Orvane.ini", "OVTST552", "TRACE", kTracePath);
        state.libraryPresent = present;
        state.missingEntryPoints = {"FinInstance"};
        EXPECT_TRUE(RunLauncher().endedByExit);
        EXPECT_EQ(present ? "# entry point FinInstance missing" : "# OV553KRN.DLL could not be loaded",
                  Lines(state.appendFiles[kTracePath]).back());
    }
}
