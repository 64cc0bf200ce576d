// The window test, the project test and the one message for a key they do
// not handle: the exact commands of every path through the two loops, where
// the key is cleared and where a stale one is read, and the stop that ends
// every path.
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

const char kAltF4French[] = "INFO,Vous quittez le test par [Alt]+[F4].\nCette combinaison de touche effectue la "
                            "fermeture de la fen\xEAtre, sans ex\xE9"
                            "cuter de code.\nCe fonctionnement n'est actif que pendant le test.";
const char kAltF4English[] = "INFO,Do you want to stop the test using [Alt]+[F4].\nThis choice of key close the "
                             "window, whitout execute the close code.\nThis is only for test.";
const char kScreen[] = "ECRAN,SAISIE";
const char kWindows[] = "FENETRE";

std::string MenuFrench(const std::string& key) { return "info,Option de menu sans code (OVTouche = \"" + key + "\")."; }
std::string MenuEnglish(const std::string& key)
{
    return "info,Menu option without code (OVTouche = \"" + key + "\").";
}
std::string KeyMessage(const std::string& key) { return "INFO,OVTouche=" + key; }

// A reply that carries no key: KeyName keeps whatever it held.
Reply NoKey() { return Reply(); }
// The reply to a message: its key must not be taken for the screen's.
Reply Shown() { return Reply::Key("RET"); }
// The reply to "FENETRE": an integer result and no key.
Reply Windows(int count) { return Reply::Text(1, std::to_string(count)); }

typedef void (*ModeEntry)(char*, char*, int16_t*);

class LoopsTest : public FakeTest {
  protected:
    void SetUp() override
    {
        FakeTest::SetUp();
        std::strcpy(SettingsFileName, "Orvane.ini");
        std::strcpy(LaunchContext.CurrentDirectory, Directory().c_str());
    }

    static std::string Directory() { return Path({"", "work", "t"}); }
    static std::string Open() { return "OUVRE," + Directory() + kPathSeparator + "_OV_GO.OVW /RE"; }
    static std::string Program() { return "PROGRAMME," + Directory() + kPathSeparator + "_OV_GOP /RE"; }

    static std::vector<std::string> Trace() { return CommandTrace(); }

    std::vector<std::string> Run(ModeEntry mode, const std::vector<Reply>& replies)
    {
        state.replies.assign(replies.begin(), replies.end());
        int16_t type = 0;
        mode(ErrorWindowName, ErrorObjectName, &type);
        EXPECT_TRUE(state.replies.empty()) << "replies left unused";
        return Trace();
    }

    // Starts the engine as the dispatcher's first command would, so that a
    // key set afterwards is stale for the mode, and forgets the start.
    static void StartEngineWithStaleKey(const char* key)
    {
        ASSERT_EQ(1, EnsureEngineStarted());
        std::strcpy(CommandResult.KeyName, key);
        state.log.clear();
    }
};

struct LoopCase {
    const char* label;
    std::vector<Reply> replies;
    std::vector<std::string> commands; // after the first command
};

TEST_F(LoopsTest, WindowStartFollowsEveryPath)
{
    const LoopCase cases[] = {
        {"OUVRE ends on ESC", {Reply::Key("ESC")}, {kStop}},
        {"OUVRE ends on a runtime error", {Reply::Key("*E*")}, {kQuestionFrench, kStop}},
        {"OUVRE ends on Alt+F4", {Reply::Key("AF4")}, {kAltF4French, kStop}},
        {"OUVRE without a key goes to the screen", {NoKey(), Reply::Key("ESC")}, {kScreen, kStop}},
        {"OUVRE's other key is not reported", {Reply::Key("*M*"), Reply::Key("ESC")}, {kScreen, kStop}},
        // The key is cleared before "ECRAN,SAISIE": XYZ is not read again.
        {"screen without a key ends", {Reply::Key("XYZ"), NoKey()}, {kScreen, kStop}},
        {"screen ends on a runtime error", {NoKey(), Reply::Key("*E*")}, {kScreen, kQuestionFrench, kStop}},
        {"screen ends on Alt+F4", {NoKey(), Reply::Key("AF4")}, {kScreen, kAltF4French, kStop}},
        {"menu key, two windows, ESC",
         {NoKey(), Reply::Key("*M*"), Shown(), Windows(2), Reply::Key("ESC")},
         {kScreen, MenuFrench("*M*"), kWindows, kScreen, kStop}},
        {"menu key, no window left",
         {NoKey(), Reply::Key("*M*"), Shown(), Windows(0)},
         {kScreen, MenuFrench("*M*"), kWindows, kStop}},
        {"menu key, negative count",
         {NoKey(), Reply::Key("*M*"), Shown(), Windows(-1)},
         {kScreen, MenuFrench("*M*"), kWindows, kStop}},
        {"lower-case menu key",
         {NoKey(), Reply::Key("*m*"), Shown(), Windows(0)},
         {kScreen, MenuFrench("*m*"), kWindows, kStop}},
        {"other key", {NoKey(), Reply::Key("XYZ"), Shown(), Windows(0)}, {kScreen, KeyMessage("XYZ"), kWindows, kStop}},
        {"second screen ends on a runtime error",
         {NoKey(), Reply::Key("*M*"), Shown(), Windows(2), Reply::Key("*E*")},
         {kScreen, MenuFrench("*M*"), kWindows, kScreen, kQuestionFrench, kStop}},
        {"second screen ends on Alt+F4",
         {NoKey(), Reply::Key("XYZ"), Shown(), Windows(1), Reply::Key("AF4")},
         {kScreen, KeyMessage("XYZ"), kWindows, kScreen, kAltF4French, kStop}},
        // Cleared before "FENETRE" and not again before "ECRAN,SAISIE".
        {"second screen without a key ends",
         {NoKey(), Reply::Key("XYZ"), Shown(), Windows(2), NoKey()},
         {kScreen, KeyMessage("XYZ"), kWindows, kScreen, kStop}},
        {"key of the FENETRE reply is tested",
         {NoKey(), Reply::Key("XYZ"), Shown(), Reply::KeyAndText("ABC", 1, "2"), NoKey(), Shown(), Windows(0)},
         {kScreen, KeyMessage("XYZ"), kWindows, kScreen, KeyMessage("ABC"), kWindows, kStop}},
        {"ESC of the FENETRE reply ends after the screen",
         {NoKey(), Reply::Key("XYZ"), Shown(), Reply::KeyAndText("ESC", 1, "2"), NoKey()},
         {kScreen, KeyMessage("XYZ"), kWindows, kScreen, kStop}},
        // The test's copy is emptied before "FENETRE": no handoff here.
        {"runtime error with the last window",
         {NoKey(), Reply::Key("XYZ"), Shown(), Reply::KeyAndText("*E*", 1, "0")},
         {kScreen, KeyMessage("XYZ"), kWindows, kStop}},
        // A name shorter than three characters ends with a NUL in the reply.
        {"three screens",
         {NoKey(), Reply::Key("*M*"), Shown(), Windows(1), Reply::Key(std::string("Q\0", 2)), Shown(), Windows(5),
          Reply::Key("ESC")},
         {kScreen, MenuFrench("*M*"), kWindows, kScreen, KeyMessage("Q"), kWindows, kScreen, kStop}},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.label);
        fake::Reset();
        SetUp();
        std::vector<std::string> expected = {Open()};
        expected.insert(expected.end(), c.commands.begin(), c.commands.end());
        EXPECT_EQ(expected, Run(RunWindowTest, c.replies));
        EXPECT_EQ(0, EngineState.Started);
    }
}

// For the same replies the program start of the window test and the project
// test send the same commands.
TEST_F(LoopsTest, ProgramStartAndProjectTestFollowEveryPath)
{
    const LoopCase cases[] = {
        {"ends on ESC", {Reply::Key("ESC")}, {kStop}},
        {"ends without a key", {NoKey()}, {kStop}},
        {"ends on a runtime error", {Reply::Key("*E*")}, {kQuestionFrench, kStop}},
        {"ends on Alt+F4", {Reply::Key("AF4")}, {kAltF4French, kStop}},
        {"menu key, two windows, ESC",
         {Reply::Key("*M*"), Shown(), Windows(2), Reply::Key("ESC")},
         {MenuFrench("*M*"), kWindows, kScreen, kStop}},
        {"other key, no window left", {Reply::Key("XYZ"), Shown(), Windows(0)}, {KeyMessage("XYZ"), kWindows, kStop}},
        {"other key, negative count", {Reply::Key("XYZ"), Shown(), Windows(-1)}, {KeyMessage("XYZ"), kWindows, kStop}},
        {"lower-case menu key, then a runtime error",
         {Reply::Key("*m*"), Shown(), Windows(2), Reply::Key("*E*")},
         {MenuFrench("*m*"), kWindows, kScreen, kQuestionFrench, kStop}},
        {"other key, then Alt+F4",
         {Reply::Key("XYZ"), Shown(), Windows(2), Reply::Key("AF4")},
         {KeyMessage("XYZ"), kWindows, kScreen, kAltF4French, kStop}},
        {"second screen without a key ends",
         {Reply::Key("XYZ"), Shown(), Windows(2), NoKey()},
         {KeyMessage("XYZ"), kWindows, kScreen, kStop}},
        {"key of the FENETRE reply is tested",
         {Reply::Key("XYZ"), Shown(), Reply::KeyAndText("ABC", 1, "2"), NoKey(), Shown(), Windows(0)},
         {KeyMessage("XYZ"), kWindows, kScreen, KeyMessage("ABC"), kWindows, kStop}},
        {"runtime error with the last window",
         {Reply::Key("XYZ"), Shown(), Reply::KeyAndText("*E*", 1, "0")},
         {KeyMessage("XYZ"), kWindows, kStop}},
    };
    for (const LoopCase& c : cases) {
        std::vector<std::string> expected = {Program()};
        expected.insert(expected.end(), c.commands.begin(), c.commands.end());
        {
            SCOPED_TRACE(std::string("program start: ") + c.label);
            fake::Reset();
            SetUp();
            LaunchContext.RunAsProgram = 1;
            EXPECT_EQ(expected, Run(RunWindowTest, c.replies));
            EXPECT_EQ(0, EngineState.Started);
        }
        {
            SCOPED_TRACE(std::string("project test: ") + c.label);
            fake::Reset();
            SetUp();
            EXPECT_EQ(expected, Run(RunProjectTest, c.replies));
            EXPECT_EQ(0, EngineState.Started);
        }
    }
}

TEST_F(LoopsTest, OnlyTheProgramStartClearsTheKeyBeforeItsFirstCommand)
{
    struct Case {
        const char* label;
        bool program; // RunAsProgram for the window test
        ModeEntry mode;
        const char* staleKey;
        std::vector<std::string> commands;
    } cases[] = {
        {"window start reads a stale error", false, RunWindowTest, "*E*", {Open(), kQuestionFrench, kStop}},
        {"window start reads a stale ESC", false, RunWindowTest, "ESC", {Open(), kStop}},
        {"program start clears the stale error", true, RunWindowTest, "*E*", {Program(), kStop}},
        {"project test reads a stale error", false, RunProjectTest, "*E*", {Program(), kQuestionFrench, kStop}},
        {"project test reads a stale key",
         false,
         RunProjectTest,
         "XYZ",
         {Program(), KeyMessage("XYZ"), kWindows, kStop}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fake::Reset();
        SetUp();
        LaunchContext.RunAsProgram = c.program ? 1 : 0;
        StartEngineWithStaleKey(c.staleKey);
        std::vector<Reply> replies = {NoKey()};
        if (c.staleKey == std::string("XYZ")) replies.insert(replies.end(), {Shown(), Windows(0)});
        EXPECT_EQ(c.commands, Run(c.mode, replies));
    }
}

TEST_F(LoopsTest, MessagesFollowTheLanguage)
{
    LaunchContext.English = 1;
    EXPECT_EQ((std::vector<std::string>{Open(), kAltF4English, kStop}), Run(RunWindowTest, {Reply::Key("AF4")}));

    fake::Reset();
    SetUp();
    LaunchContext.English = 1;
    EXPECT_EQ((std::vector<std::string>{Program(), MenuEnglish("*M*"), kWindows, kScreen, KeyMessage("XYZ"), kWindows,
                                        kScreen, kAltF4English, kStop}),
              Run(RunProjectTest,
                  {Reply::Key("*M*"), Shown(), Windows(1), Reply::Key("XYZ"), Shown(), Windows(1), Reply::Key("AF4")}));

    fake::Reset();
    SetUp();
    LaunchContext.English = 1;
    EXPECT_EQ((std::vector<std::string>{Program(), "OUINON,Do you want to edit source code?", kStop}),
              Run(RunProjectTest, {Reply::Key("*E*")}));
}

TEST_F(LoopsTest, UnhandledKeySendsExactlyOneMessage)
{
    struct Case {
        const char* key;
        uint16_t english;
        std::string command;
    } cases[] = {
        {"*M*", 0, MenuFrench("*M*")},  {"*m*", 0, MenuFrench("*m*")}, {"*M*", 1, MenuEnglish("*M*")},
        {"*m*", 1, MenuEnglish("*m*")}, {"XYZ", 0, KeyMessage("XYZ")}, {"XYZ", 1, KeyMessage("XYZ")},
        {"*M", 0, KeyMessage("*M")},    {"M*", 1, KeyMessage("M*")},   {"*N*", 0, KeyMessage("*N*")},
        {"", 0, KeyMessage("")},        {"%s", 1, KeyMessage("%s")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + (c.english ? " (English)" : " (French)"));
        fake::Reset();
        LaunchContext.English = c.english;
        ReportUnhandledKey(c.key);
        EXPECT_EQ(std::vector<std::string>{c.command}, Commands());
    }
}

TEST_F(LoopsTest, WithoutAnEngineTheTestsEndAtOnce)
{
    struct Case {
        const char* label;
        bool program;
        ModeEntry mode;
        size_t startAttempts; // one per command that tried to start the engine
    } cases[] = {
        {"window start", false, RunWindowTest, 2},
        {"program start", true, RunWindowTest, 1},
        {"project test", false, RunProjectTest, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fake::Reset();
        SetUp();
        LaunchContext.RunAsProgram = c.program ? 1 : 0;
        state.initResults = std::deque<int32_t>(100, 0);
        int16_t type = 0;
        c.mode(ErrorWindowName, ErrorObjectName, &type);
        EXPECT_TRUE(Commands().empty());
        EXPECT_EQ(c.startAttempts, fake::LogLines("OV4InitInstance").size());
        EXPECT_TRUE(fake::LogLines("FinInstance").empty());
    }
}

TEST_F(LoopsTest, FirstCommandOfTheLongestDirectoryFitsAndOneMoreIsRefused)
{
    const std::string notice = "INFO,Commande trop longue pour le moteur (255 caract\xE8res, 254 au plus).";
    struct Case {
        bool program;
        ModeEntry mode;
        size_t longest; // directory length that makes the first command 254 characters
    } cases[] = {{false, RunWindowTest, 233}, {true, RunWindowTest, 232}, {false, RunProjectTest, 232}};
    for (const Case& c : cases) {
        for (size_t length : {c.longest, c.longest + 1}) {
            SCOPED_TRACE(std::string(c.mode == RunProjectTest ? "project"
                                     : c.program              ? "program"
                                                              : "window") +
                         " " + std::to_string(length));
            fake::Reset();
            SetUp();
            LaunchContext.RunAsProgram = c.program ? 1 : 0;
            const std::string directory(length, 'd');
            std::strcpy(LaunchContext.CurrentDirectory, directory.c_str());
            int16_t type = 0;
            c.mode(ErrorWindowName, ErrorObjectName, &type);
            ASSERT_FALSE(Commands().empty());
            if (length == c.longest) {
                EXPECT_EQ(254u, Commands()[0].size());
                EXPECT_EQ(1u, Commands().size()); // the default reply is ESC
            } else {
                // The refused command leaves no key: the window start goes on
                // to its screen, the other two end.
                std::vector<std::string> expected = {notice};
                if (!c.program && c.mode == RunWindowTest) expected.push_back(kScreen);
                EXPECT_EQ(expected, Commands());
            }
            EXPECT_EQ(0, EngineState.Started);
        }
    }
}

TEST_F(LoopsTest, LauncherRunsTheWindowAndTheProjectTest)
{
    struct Case {
        const char* mode;
        const char* param1;
        std::string first;
        bool windowStart; // the first key is not reported; a screen follows
    } cases[] = {{"F", "", "OUVRE,/w/_OV_GO.OVW /RE", true},
                 {"F", "P", "PROGRAMME,/w/_OV_GOP /RE", false},
                 {"P", "", "PROGRAMME,/w/_OV_GOP /RE", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + "/" + c.param1);
        fake::Reset();
        EditorRequest(c.mode, Path({"", "w", ""}), c.param1);
        std::string first = c.first;
        for (char& ch : first)
            if (ch == '/') ch = kPathSeparator;
        // "ENVI", then the test: one menu key and no window left.
        state.replies = {NoKey()};
        std::vector<std::string> expected = {first};
        if (c.windowStart) {
            state.replies.push_back(NoKey());
            expected.push_back(kScreen);
        }
        state.replies.insert(state.replies.end(), {Reply::Key("*M*"), Shown(), Windows(0)});
        expected.insert(expected.end(), {MenuFrench("*M*"), kWindows});
        EXPECT_EQ(0, RunLauncher().exitCode);
        EXPECT_EQ(expected, CommandsAfterEnvironment());
        EXPECT_EQ(1u, fake::LogLines("FinInstance").size());
        EXPECT_FALSE(fake::HasProfile("Orvane.ini", "TEST", "COMMANDE"));
    }
}

} // namespace
