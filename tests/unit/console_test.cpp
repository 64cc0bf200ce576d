// The interactive console: the set-up commands, each pass's commands, the
// typed command run or refused, the values the next pass shows, the key
// codes, and the drive and directory made current before each pass.
#include <cstring>
#include <deque>

#include "common/launch_context.h"
#include "common/settings.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "modes/modes.h"
#include "test_support.h"
#include "text_and_bytes.h"

using fake::Reply;
using fake::state;

namespace {

const char kRead[] = "RECU,COMMANDE";
const char kClose[] = "FERM";
const char kRefused[] = "INFO,Fonction interdite";

class ConsoleTest : public FakeTest {
  protected:
    void SetUp() override
    {
        FakeTest::SetUp();
        std::strcpy(SettingsFileName, "Orvane.ini");
        std::strcpy(LaunchContext.ExecutableDirectory, Path({"", "opt", "ov"}).c_str());
        std::strcpy(LaunchContext.CurrentDirectory, Path({"", "work", "t"}).c_str());
    }

    // The three set-up commands' replies: nothing.
    void ScriptSetUp() { state.replies.insert(state.replies.end(), 3, Reply()); }
    // One pass: the four display commands reply nothing, then "ECRA,SAIS".
    void ScriptPass(const Reply& input)
    {
        state.replies.insert(state.replies.end(), 4, Reply());
        state.replies.push_back(input);
    }
    // An allowed line: both reads give it, "FERM", then the line's own reply.
    void ScriptAllowed(const std::string& line, const Reply& result)
    {
        state.replies.insert(state.replies.end(), {Reply::Text(0, line), Reply::Text(0, line), Reply(), result});
    }
    // A refused line: the read carries a key and the line; the message and
    // "FERM" reply nothing.
    void ScriptRefused(const std::string& line)
    {
        state.replies.insert(state.replies.end(), {Reply::KeyAndText("RET", 0, line), Reply(), Reply()});
    }

    static std::vector<std::string> SetUpCommands(const char* nation = "NATION,5")
    {
        return {"BIBLI,DISQUE," + Path({"", "opt", "ov", "ORVANE55.OVL"}), "PROJ,TITRE.OVP", nation};
    }
    static std::vector<std::string> PassCommands(const std::string& command, const std::string& text,
                                                 const std::string& key)
    {
        return {"Ouvre,ORVN-TST.OVW", "AFFI,COMMANDE,=" + command, "Affi,OVCHAINE,=" + text, "AFFI,OVTOUCHE,=" + key,
                "ECRA,SAIS"};
    }

    static std::vector<std::string> Trace() { return CommandTrace(); }

    std::vector<std::string> Run()
    {
        int16_t type = 0;
        RunConsole(ErrorWindowName, ErrorObjectName, &type);
        EXPECT_TRUE(state.replies.empty()) << "replies left unused";
        return Trace();
    }
};

// Joins command lists in order.
std::vector<std::string> Then(std::vector<std::string> first, const std::vector<std::string>& next)
{
    first.insert(first.end(), next.begin(), next.end());
    return first;
}

TEST_F(ConsoleTest, SetUpThenOnePassLeftWithEscape)
{
    for (uint16_t english : {0, 1}) {
        SCOPED_TRACE(english ? "English" : "French");
        fake::Reset();
        SetUp();
        LaunchContext.English = english;
        ScriptSetUp();
        ScriptPass(Reply::Key("ESC"));
        EXPECT_EQ(
            Then(Then(SetUpCommands(english ? "NATION,3" : "NATION,5"), PassCommands("", "", "")), {kClose, kStop}),
            Run());
        EXPECT_EQ(0, EngineState.Started);
    }
}

TEST_F(ConsoleTest, RuntimeErrorHandsOffWithoutClosing)
{
    // "*F@" has the code of "*E*": the console decides by the code alone.
    for (const char* key : {"*E*", "*F@"}) {
        SCOPED_TRACE(key);
        fake::Reset();
        SetUp();
        ScriptSetUp();
        ScriptPass(Reply::Key(key));
        EXPECT_EQ(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kQuestionFrench, kStop}), Run());
    }
}

TEST_F(ConsoleTest, HandoffInTheEditorStopsTheEngineOnce)
{
    std::strcpy(LaunchContext.EditorMarker, "EDITEUR");
    ScriptSetUp();
    ScriptPass(Reply::Key("*E*"));
    state.replies.insert(state.replies.end(), {Reply::Text(0, "O"), Reply::Text(0, "3,F,O.PRO,m")});
    EXPECT_EQ(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kQuestionFrench, "DFTOCS", kStop}), Run());
    EXPECT_EQ("O.PRO", fake::Profile("Orvane.ini", "TEST", "NOMOBJET"));
    EXPECT_STREQ("F", ErrorWindowName);
}

TEST_F(ConsoleTest, AllowedLineRunsTrimmedAsTypedAndItsReplyIsShownNext)
{
    ScriptSetUp();
    ScriptPass(Reply::Key("RET"));
    ScriptAllowed("  Dir x  ", Reply::KeyAndText("XYZ", 0, "result"));
    ScriptPass(Reply::Key("ESC"));
    EXPECT_EQ(Then(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kRead, kRead, kClose, "Dir x"}),
                   Then(PassCommands("Dir x", "result", "XYZ"), {kClose, kStop})),
              Run());
}

TEST_F(ConsoleTest, LinesWithAForbiddenPrefixAreRefused)
{
    struct Case {
        const char* typed;
        const char* shown; // the next pass's command: trimmed and upper-cased
    } cases[] = {
        {"bibli,disque,x", "BIBLI,DISQUE,X"}, {"Test", "TEST"}, {"  wInDoW  ", "WINDOW"}, {"OPTIONS", "OPTIONS"},
        {"utilitaire", "UTILITAIRE"},         {"BIBL", "BIBL"}, {"util\xE9", "UTIL\xE9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        fake::Reset();
        SetUp();
        ScriptSetUp();
        ScriptPass(Reply::Key("RET"));
        ScriptRefused(c.typed);
        ScriptPass(Reply::Key("ESC"));
        // The read's key and text are cleared: the next pass shows neither.
        EXPECT_EQ(Then(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kRead, kRefused, kClose}),
                       Then(PassCommands(c.shown, "", ""), {kClose, kStop})),
                  Run());
    }
}

TEST_F(ConsoleTest, OtherLinesRunAsTyped)
{
    struct Case {
        const char* typed;
        const char* run;
    } cases[] = {
        {"TES", "TES"},     {"tes", "tes"},     {"TEXT", "TEXT"},     {"BIB", "BIB"},
        {"XBIBL", "XBIBL"}, {"B IBL", "B IBL"}, {"OPT,x", "OPT,x"},   {"\tBIBL", "\tBIBL"},
        {"", ""},           {"   ", ""},        {"A%dB%s", "A%dB%s"}, {" INFO,x ", "INFO,x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.typed + "]");
        fake::Reset();
        SetUp();
        ScriptSetUp();
        ScriptPass(Reply::Key("RET"));
        // The line's reply carries nothing: the next pass shows the key of
        // the input and the line as the second read left it.
        ScriptAllowed(c.typed, Reply());
        ScriptPass(Reply::Key("ESC"));
        EXPECT_EQ(Then(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kRead, kRead, kClose, c.run}),
                       Then(PassCommands(c.run, c.run, "RET"), {kClose, kStop})),
                  Run());
    }
}

TEST_F(ConsoleTest, OtherKeysStartANewPassWithTheSameValues)
{
    ScriptSetUp();
    ScriptPass(Reply()); // no key at all
    ScriptPass(Reply::Key("RET"));
    ScriptAllowed("abc", Reply::KeyAndText("K1", 0, "r1"));
    const char* keys[] = {"AF4", "*M*", "esc", "ret", "*e*", "E"};
    for (const char* key : keys)
        ScriptPass(Reply::Key(std::string(key) + std::string(3 - std::strlen(key), '\0')));
    ScriptPass(Reply::Key("ESC"));

    std::vector<std::string> expected = Then(SetUpCommands(), PassCommands("", "", ""));
    expected = Then(expected, PassCommands("", "", ""));
    expected = Then(expected, {kRead, kRead, kClose, "abc"});
    for (size_t i = 0; i <= sizeof keys / sizeof keys[0]; ++i)
        expected = Then(expected, PassCommands("abc", "r1", "K1"));
    expected = Then(expected, {kClose, kStop});
    EXPECT_EQ(expected, Run());
}

TEST_F(ConsoleTest, KeyOfTheLastDisplayReplyActsWhenTheInputCarriesNone)
{
    ScriptSetUp();
    state.replies.insert(state.replies.end(), {Reply(), Reply(), Reply(), Reply::Key("ESC"), Reply()});
    EXPECT_EQ(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kClose, kStop}), Run());
}

TEST_F(ConsoleTest, KeyLeftBeforeTheConsoleIsClearedFirst)
{
    // As after the dispatcher's first command: the engine runs and the key
    // of an earlier reply is still there.
    ASSERT_EQ(1, EnsureEngineStarted());
    std::strcpy(CommandResult.KeyName, "ESC");
    ScriptSetUp();
    ScriptPass(Reply());
    ScriptPass(Reply::Key("ESC"));
    EXPECT_EQ(Then(Then(Then(SetUpCommands(), PassCommands("", "", "")), PassCommands("", "", "")), {kClose, kStop}),
              Run());
}

TEST_F(ConsoleTest, TypedCommandsErrorKeyIsShownNotHandedOff)
{
    ScriptSetUp();
    ScriptPass(Reply::Key("RET"));
    ScriptAllowed("x", Reply::KeyAndText("*E*", 0, "err"));
    ScriptPass(Reply::Key("ESC"));
    EXPECT_EQ(Then(Then(Then(SetUpCommands(), PassCommands("", "", "")), {kRead, kRead, kClose, "x"}),
                   Then(PassCommands("x", "err", "*E*"), {kClose, kStop})),
              Run());
}

TEST_F(ConsoleTest, RefusalAfterARunLineClearsTheShownResult)
{
    ScriptSetUp();
    ScriptPass(Reply::Key("RET"));
    ScriptAllowed("go", Reply::KeyAndText("K1", 0, "r1"));
    ScriptPass(Reply::Key("RET"));
    ScriptRefused("test");
    ScriptPass(Reply::Key("ESC"));
    std::vector<std::string> expected = Then(SetUpCommands(), PassCommands("", "", ""));
    expected = Then(expected, {kRead, kRead, kClose, "go"});
    expected = Then(expected, PassCommands("go", "r1", "K1"));
    expected = Then(expected, {kRead, kRefused, kClose});
    expected = Then(expected, PassCommands("TEST", "", ""));
    expected = Then(expected, {kClose, kStop});
    EXPECT_EQ(expected, Run());
}

TEST_F(ConsoleTest, EachPassMakesTheDirectoryCurrentFirst)
{
    std::strcpy(LaunchContext.CurrentDirectory, "c:\\work");
    ScriptSetUp();
    ScriptPass(Reply::Key("AF4"));
    ScriptPass(Reply::Key("ESC"));
    Run();
    std::vector<std::string> events;
    for (const auto& line : state.log)
        if (line.compare(0, 6, "Change") == 0 || line == "OVCALLC Ouvre,ORVN-TST.OVW" || line == "OVCALLC NATION,5")
            events.push_back(line);
    EXPECT_EQ((std::vector<std::string>{"OVCALLC NATION,5", "ChangeDrive 3", "ChangeDirectory C:\\WORK",
                                        "OVCALLC Ouvre,ORVN-TST.OVW", "ChangeDrive 3", "ChangeDirectory C:\\WORK",
                                        "OVCALLC Ouvre,ORVN-TST.OVW"}),
              events);
}

TEST_F(ConsoleTest, WithoutAnEngineTheConsoleEndsAsOnEscape)
{
    state.initResults = std::deque<int32_t>(100, 0);
    int16_t type = 0;
    RunConsole(ErrorWindowName, ErrorObjectName, &type);
    EXPECT_TRUE(Commands().empty());
    // Three set-up commands, one pass of five, then "FERM": each tried once.
    EXPECT_EQ(9u, fake::LogLines("OV4InitInstance").size());
    EXPECT_EQ(1u, fake::LogLines("ChangeDirectory").size());
    EXPECT_TRUE(fake::LogLines("FinInstance").empty());
}

TEST_F(ConsoleTest, LibraryCommandTooLongIsReplacedByTheNoticeAndTheConsoleGoesOn)
{
    struct Case {
        size_t directory;
        const char* notice; // null: the command fits and is sent
    } cases[] = {
        {228, nullptr},
        {229, "INFO,Commande trop longue pour le moteur (255 caract\xE8res, 254 au plus)."},
        // The path is first cut to its 264-byte buffer.
        {259, "INFO,Commande trop longue pour le moteur (276 caract\xE8res, 254 au plus)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory);
        fake::Reset();
        SetUp();
        const std::string directory(c.directory, 'd');
        std::strcpy(LaunchContext.ExecutableDirectory, directory.c_str());
        ScriptSetUp();
        ScriptPass(Reply::Key("ESC"));
        std::vector<std::string> expected = SetUpCommands();
        expected[0] = c.notice ? c.notice : "BIBLI,DISQUE," + directory + kPathSeparator + "ORVANE55.OVL";
        EXPECT_EQ(Then(Then(expected, PassCommands("", "", "")), {kClose, kStop}), Run());
        if (c.notice == nullptr) {
            EXPECT_EQ(254u, expected[0].size());
        }
    }

    // In English, and the notice's reply is not taken for the input's key.
    fake::Reset();
    SetUp();
    LaunchContext.English = 1;
    std::strcpy(LaunchContext.ExecutableDirectory, std::string(229, 'd').c_str());
    state.replies = {Reply::Key("ESC"), Reply(), Reply()};
    ScriptPass(Reply::Key("ESC"));
    std::vector<std::string> expected = SetUpCommands("NATION,3");
    expected[0] = "INFO,Command too long for the engine (255 characters, 254 at most).";
    EXPECT_EQ(Then(Then(expected, PassCommands("", "", "")), {kClose, kStop}), Run());
}

TEST_F(ConsoleTest, StandAloneLauncherRunsTheConsoleInItsOwnDirectory)
{
    state.modulePath = Path({"", "opt", "orvane", "OVTST552.EXE"});
    state.replies = {Reply(), Reply(), Reply(), Reply()}; // "ENVI" and the set-up
    ScriptPass(Reply::Key("RET"));
    ScriptAllowed("ECRAN,SAISIE", Reply::KeyAndText("ESC", 0, "ok"));
    ScriptPass(Reply::Key("ESC"));
    EXPECT_EQ(0, RunLauncher().exitCode);
    std::string directory = Path({"", "opt", "orvane"});
    EXPECT_EQ(
        Then(Then(Then({"BIBLI,DISQUE," + Path({"", "opt", "orvane", "ORVANE55.OVL"}), "PROJ,TITRE.OVP", "NATION,5"},
                       PassCommands("", "", "")),
                  {kRead, kRead, kClose, "ECRAN,SAISIE"}),
             Then(PassCommands("ECRAN,SAISIE", "ok", "ESC"), {kClose})),
        CommandsAfterEnvironment());
    EXPECT_EQ(1u, fake::LogLines("FinInstance").size());
    EXPECT_EQ(2u, fake::LogLines("ChangeDirectory " + UpperAscii(directory)).size());
}

// --- Key codes -----------------------------------------------------------

TEST(KeyCodeTest, NamesOfOneToThreeCharacters)
{
    struct Case {
        const char* name;
        uint16_t code;
    } cases[] = {
        {"*E*", 59631}, {"ESC", 11471}, {"RET", 30715}, {"A", 3},    {"9", 38},      {"+-", 41},    {"", 0},
        {"ABCD", 0},    {"ESCA", 0},    {" + ", 39},    {"  *", 39}, {"Z", 28},      {"0", 29},     {"***", 60879},
        {"esc", 0},     {"e", 0},       {"*e*", 59358}, {"a9", 38},  {"*F@", 59631}, {"AF4", 4908}, {"*M*", 59943},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.code, ComputeKeyCode(c.name));
    }
    // Two names, one code: the multiplier is 39, not 40.
    EXPECT_EQ(ComputeKeyCode("*A"), ComputeKeyCode("+ A"));
    EXPECT_EQ(ComputeKeyCode(" + "), ComputeKeyCode("  *"));
}

TEST(KeyCodeTest, EveryCharacterHasTheValueOfItsGroup)
{
    for (int code = 1; code < 256; ++code) {
        const char c = static_cast<char>(code);
        int value = 0;
        if (c == '+') value = 1;
        if (c == '-') value = 2;
        if (c >= 'A' && c <= 'Z') value = 3 + (c - 'A');
        if (c >= '0' && c <= '9') value = 29 + (c - '0');
        if (c == '*') value = 39;
        SCOPED_TRACE(code);
        const char alone[] = {c, '\0'};
        const char last[] = {'A', 'A', c, '\0'};
        EXPECT_EQ(value, ComputeKeyCode(alone));
        EXPECT_EQ((3 * 39 + 3) * 39 + value, ComputeKeyCode(last));
    }
}

// --- The drive and directory ------------------------------------------------

class DriveTest : public FakeTest {};

TEST_F(DriveTest, DirectoryIsUpperCasedAndADriveLetterChangesTheDrive)
{
    struct Case {
        const char* path;
        std::vector<std::string> log;
    } cases[] = {
        {"a:\\data",
         {"SetErrorMode 1", "OpenFile A:. 16384", "SetErrorMode 0", "ChangeDrive 1", "ChangeDirectory A:\\DATA"}},
        {"B:", {"SetErrorMode 1", "OpenFile B:. 16384", "SetErrorMode 0", "ChangeDrive 2", "ChangeDirectory B:"}},
        {"c:\\x", {"ChangeDrive 3", "ChangeDirectory C:\\X"}},
        {"z:\\y\\", {"ChangeDrive 26", "ChangeDirectory Z:\\Y\\"}},
        {"/tmp/x", {"ChangeDirectory /TMP/X"}},
        {"data\\x", {"ChangeDirectory DATA\\X"}},
        {":x", {"ChangeDirectory :X"}},
        {"", {"ChangeDirectory "}},
        {"1:x", {"ChangeDirectory 1:X"}},
        {"\xE9:x", {"ChangeDirectory \xE9:X"}},
        {"d:\\a:b", {"ChangeDrive 4", "ChangeDirectory D:\\A:B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        fake::Reset();
        MakeDirectoryCurrent(c.path);
        EXPECT_EQ(c.log, state.log);
    }
}

TEST_F(DriveTest, ProbeFindsADiskAndLeavesTheErrorModeAtZero)
{
    state.errorMode = 0x8001;
    state.existingPaths = {"A:."};
    EXPECT_EQ(1, ProbeDrive('A'));
    EXPECT_EQ(0u, state.errorMode);
    EXPECT_EQ((std::vector<std::string>{"SetErrorMode 1", "OpenFile A:. 16384", "SetErrorMode 0", "CloseFile 7"}),
              state.log);

    state.errorMode = 2;
    state.log.clear();
    EXPECT_EQ(0, ProbeDrive('B'));
    EXPECT_EQ(0u, state.errorMode);
    EXPECT_EQ((std::vector<std::string>{"SetErrorMode 1", "OpenFile B:. 16384", "SetErrorMode 0"}), state.log);

    // Whether or not a disk is there, the drive and directory change after.
    state.log.clear();
    MakeDirectoryCurrent("a:\\data");
    EXPECT_EQ((std::vector<std::string>{"SetErrorMode 1", "OpenFile A:. 16384", "SetErrorMode 0", "CloseFile 7",
                                        "ChangeDrive 1", "ChangeDirectory A:\\DATA"}),
              state.log);
}

TEST_F(DriveTest, OverlongPathIsCutToItsBuffer)
{
    const std::string path = "c:" + std::string(400, 'p');
    MakeDirectoryCurrent(path.c_str());
    EXPECT_EQ((std::vector<std::string>{"ChangeDrive 3", "ChangeDirectory C:" + std::string(261, 'P')}), state.log);
}

} // namespace
