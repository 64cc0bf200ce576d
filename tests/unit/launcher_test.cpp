// The entry procedure: start-up order, the request read into the launch
// context, the dispatch on the mode letter, the settings writes and the exit
// sequence.
#include <cstring>

#include "common/launch_context.h"
#include "common/settings.h"
#include "engine/command_channel.h"
#include "launcher/launcher.h"
#include "test_support.h"

using fake::state;

TEST_F(FakeTest, RegistrationFailureBeepsAndTouchesNothingElse)
{
    EditorRequest("F");
    state.registerClassFails = true;
    Outcome outcome = RunLauncher();
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_FALSE(outcome.endedByExit);
    ASSERT_EQ(2u, state.log.size());
    EXPECT_EQ(0u, state.log[0].find("RegisterClass"));
    EXPECT_EQ("MessageBeep 0", state.log[1]);
    EXPECT_EQ("EDITEUR", fake::Profile("Orvane.ini", "TEST", "COMMANDE"));
}

TEST_F(FakeTest, EditorRunWithoutModeFollowsTheExactStartAndExitOrder)
{
    EditorRequest("X");
    Outcome outcome = RunLauncher();
    EXPECT_EQ(0, outcome.exitCode);
    const std::string environment = "ENVI," + std::to_string(state.environmentAddress);
    const std::vector<std::string> expected = {
        "RegisterClass style=3 extra=0,0 icon=none cursor=arrow brush=white menu=TEST class=TEST",
        "Read Orvane.ini OVTST552 TRACE 520",
        "Read Orvane.ini TEST LIGNEDECOMMANDE 300",
        "Write win.ini Orvane55 LIGNEDECOMMANDE=OVTST552.EXE /TEST",
        "CreateWindow ex=0 TEST TEST style=2147483648 -10,-10 10x10",
        "Read Orvane.ini Orvane55 LANGUAGE 10",
        "GetEnvironmentStrings",
        "LoadLibrary OV553KRN.DLL",
        "GetProcAddress AffTexteLongC",
        "GetProcAddress OV4InitInstance",
        "GetProcAddress FinInstance",
        "GetProcAddress OVCALLC",
        "GlobalAlloc 66 880",
        "GlobalLock",
        "OV4InitInstance block -> 1",
        "GlobalHandle",
        "GlobalUnlock",
        "GlobalFree",
        "OVCALLC " + environment,
        "Read Orvane.ini TEST COMMANDE 300",
        "Read Orvane.ini TEST REPEXE 260",
        "Read Orvane.ini TEST REPCOURANT 260",
        "Read Orvane.ini TEST PARAM1 300",
        "Read Orvane.ini TEST PARAM2 300",
        "FinInstance",
        "FreeLibrary",
        "Delete Orvane.ini TEST COMMANDE",
        "DestroyWindow",
        "Delete win.ini Orvane55 LIGNEDECOMMANDE",
        "FreeEnvironmentStrings",
    };
    // The component reads of the start-up block are not part of this order.
    std::vector<std::string> log;
    for (const auto& line : state.log)
        if (line.find(" COMPOSANTE ") == std::string::npos) log.push_back(line);
    EXPECT_EQ(expected, log);
    EXPECT_EQ(0, state.liveWindows);
    EXPECT_EQ(0, state.liveGlobalBlocks);
    // Every request key but COMMANDE stays for the editor.
    EXPECT_EQ((std::vector<std::string>{"TEST/LIGNEDECOMMANDE=OVTST552.EXE /TEST",
                                        "TEST/REPEXE=" + Path({"", "opt", "orvane"}), "TEST/REPCOURANT=/work/test",
                                        "TEST/PARAM1=", "TEST/PARAM2=X"}),
              fake::ProfileLines("Orvane.ini"));
}

TEST_F(FakeTest, ModeLetterChoosesTheTest)
{
    struct Case {
        const char* mode;
        const char* firstCommandPrefix; // nullptr: no mode runs
    } cases[] = {{"F", "OUVRE,"}, {"FENETRE", "OUVRE,"}, {"P", "PROGRAMME,"}, {"I", "BIBLI,DISQUE,"}, {"f", nullptr},
                 {"p", nullptr},  {"i", nullptr},        {"Q", nullptr},      {"", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("PARAM2=") + c.mode);
        fake::Reset();
        EditorRequest(c.mode);
        RunLauncher();
        auto after = CommandsAfterEnvironment();
        if (c.firstCommandPrefix == nullptr) {
            EXPECT_TRUE(after.empty());
            EXPECT_EQ(1u, fake::LogLines("FinInstance").size()); // stopped before the exit sequence
        } else {
            ASSERT_FALSE(after.empty());
            EXPECT_EQ(0u, after[0].find(c.firstCommandPrefix)) << after[0];
        }
        EXPECT_FALSE(fake::HasProfile("Orvane.ini", "TEST", "COMMANDE"));
    }
}

TEST_F(FakeTest, OnlyTheExactEditorMarkerTakesTheEditorPath)
{
    const char* values[] = {"EDITEUR", "editeur", "EDITEURS", "EDITEU", nullptr};
    for (const char* value : values) {
        SCOPED_TRACE(value ? value : "(missing)");
        fake::Reset();
        EditorRequest("F");
        if (value)
            fake::SetProfile("Orvane.ini", "TEST", "COMMANDE", value);
        else
            fake::RemoveProfile("Orvane.ini", "TEST", "COMMANDE");
        RunLauncher();
        auto after = CommandsAfterEnvironment();
        ASSERT_FALSE(after.empty());
        const bool editor = value != nullptr && std::strcmp(value, "EDITEUR") == 0;
        EXPECT_EQ(editor ? "OUVRE," : "BIBLI,DISQUE,", after[0].substr(0, editor ? 6 : 13));
        EXPECT_STREQ(editor ? "EDITEUR" : "", LaunchContext.EditorMarker);
        // The editor path alone reads the request's other keys.
        EXPECT_EQ(editor ? 1u : 0u, fake::LogLines("Read Orvane.ini TEST REPEXE").size());
    }
}

TEST_F(FakeTest, LanguageIsEnglishOnlyForAnUpperCaseU)
{
    struct Case {
        const char* value;
        bool english;
    } cases[] = {{"US", true},  {"UK", true}, {"U", true},     {"FRENCH", false},
                 {"us", false}, {"", false},  {nullptr, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        fake::Reset();
        if (c.value) fake::SetProfile("Orvane.ini", "Orvane55", "LANGUAGE", c.value);
        RunLauncher(); // stand-alone: the console tells the engine the language
        EXPECT_EQ(c.english ? 1 : 0, LaunchContext.English);
        auto after = CommandsAfterEnvironment();
        ASSERT_GE(after.size(), 3u);
        EXPECT_EQ(c.english ? "NATION,3" : "NATION,5", after[2]);
    }
}

TEST_F(FakeTest, ProgramFlagComesFromAnUpperCaseP)
{
    struct Case {
        const char* param1;
        uint16_t runAsProgram;
    } cases[] = {{"P", 1}, {"PROGRAMME", 1}, {"p", 0}, {"F", 0}, {"", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.param1);
        fake::Reset();
        EditorRequest("F", "/w", c.param1);
        RunLauncher();
        EXPECT_EQ(c.runAsProgram, LaunchContext.RunAsProgram);
        auto after = CommandsAfterEnvironment();
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(c.runAsProgram ? "PROGRAMME,/w/_OV_GOP /RE" : "OUVRE,/w/_OV_GO.OVW /RE", after[0]);
    }
}

TEST_F(FakeTest, CurrentDirectoryLosesExactlyOneTrailingSeparator)
{
    const std::string s(1, kPathSeparator);
    struct Case {
        std::string stored, expected;
    } cases[] = {{s + "a" + s + "b" + s, s + "a" + s + "b"},
                 {s + "a" + s + "b" + s + s, s + "a" + s + "b" + s},
                 {s + "a", s + "a"},
                 {"", ""},
                 {s, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        fake::Reset();
        EditorRequest("X", c.stored);
        fake::SetProfile("Orvane.ini", "TEST", "REPEXE", s + "exe" + s);
        RunLauncher();
        EXPECT_EQ(c.expected, LaunchContext.CurrentDirectory);
        EXPECT_EQ(s + "exe" + s, LaunchContext.ExecutableDirectory); // REPEXE is kept as stored
    }
}

TEST_F(FakeTest, StandAloneRunUsesTheLauncherDirectoryAndTheConsole)
{
    fake::SetProfile("Orvane.ini", "TEST", "LIGNEDECOMMANDE", "old request");
    state.modulePath = Path({"", "opt", "orvane", "OVTST552.EXE"});
    RunLauncher();
    EXPECT_EQ(Path({"", "opt", "orvane"}), LaunchContext.ExecutableDirectory);
    EXPECT_STREQ(LaunchContext.ExecutableDirectory, LaunchContext.CurrentDirectory);
    EXPECT_STREQ("", LaunchContext.EditorMarker);
    EXPECT_EQ(0, LaunchContext.RunAsProgram);
    auto after = CommandsAfterEnvironment();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ("BIBLI,DISQUE," + Path({"", "opt", "orvane", "ORVANE55.OVL"}), after[0]);
    // Published from whatever the settings hold, and withdrawn at exit.
    EXPECT_EQ(1u, fake::LogLines("Write win.ini Orvane55 LIGNEDECOMMANDE=old request").size());
    EXPECT_EQ(1u, fake::LogLines("Delete win.ini Orvane55 LIGNEDECOMMANDE").size());
}

TEST_F(FakeTest, StandAloneRunUnderAnotherNameHasNoDirectories)
{
    RunLauncher();
    EXPECT_STREQ("", LaunchContext.ExecutableDirectory);
    EXPECT_STREQ("", LaunchContext.CurrentDirectory);
    auto after = CommandsAfterEnvironment();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(std::string("BIBLI,DISQUE,") + kPathSeparator + "ORVANE55.OVL", after[0]);
}

TEST_F(FakeTest, ModuleDirectoryDropsTheFileNameAndNeverTestsTheFirstByte)
{
    const std::string s(1, kPathSeparator);
    struct Case {
        std::string path, directory;
    } cases[] = {{"C:" + s + "ORVANE" + s + "OVTST552.EXE", "C:" + s + "ORVANE"},
                 {"C:" + s + "OVTST552.EXE", "C:"},
                 {s + "OVTST552.EXE", ""},
                 {"OVTST552.EXE", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        state.modulePath = c.path;
        char buffer[260];
        std::memset(buffer, 'x', sizeof buffer);
        int16_t length = ModuleDirectory("OVTST552.EXE", buffer, sizeof buffer);
        EXPECT_EQ(c.directory, buffer);
        EXPECT_EQ(static_cast<int16_t>(c.directory.size()), length);
    }
    state.modulePath.clear();
    char buffer[8] = "junk";
    EXPECT_EQ(0, ModuleDirectory("OVTST552.EXE", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST_F(FakeTest, LongCommandLineIsPublishedCutTo299Bytes)
{
    EditorRequest("X");
    fake::SetProfile("Orvane.ini", "TEST", "LIGNEDECOMMANDE", std::string(400, 'c'));
    RunLauncher();
    EXPECT_EQ(1u, fake::LogLines("Write win.ini Orvane55 LIGNEDECOMMANDE=" + std::string(299, 'c')).size());
    EXPECT_EQ(0u, fake::LogLines("Write win.ini Orvane55 LIGNEDECOMMANDE=" + std::string(300, 'c')).size());
}

TEST_F(FakeTest, EmptyCommandLineIsStillPublished)
{
    EditorRequest("X");
    fake::SetProfile("Orvane.ini", "TEST", "LIGNEDECOMMANDE", "");
    RunLauncher();
    EXPECT_EQ(1u, fake::LogLines("Write win.ini Orvane55 LIGNEDECOMMANDE=").size());
}

TEST_F(FakeTest, MissingLibraryEndsTheRunInsideTheFirstCommand)
{
    for (const char* language : {"FRENCH", "US"}) {
        SCOPED_TRACE(language);
        fake::Reset();
        EditorRequest("F");
        fake::SetProfile("Orvane.ini", "Orvane55", "LANGUAGE", language);
        state.libraryPresent = false;
        Outcome outcome = RunLauncher();
        EXPECT_TRUE(outcome.endedByExit);
        EXPECT_EQ(0, outcome.exitCode);
        EXPECT_EQ((std::vector<std::string>{"MessageBox ERROR: APPELOV: Init failed type=0"}),
                  fake::LogLines("MessageBox"));
        EXPECT_TRUE(Commands().empty());
        EXPECT_EQ("ExitProcess 0", state.log.back());
        // No exit sequence: the request and the published line stay.
        EXPECT_EQ("EDITEUR", fake::Profile("Orvane.ini", "TEST", "COMMANDE"));
        EXPECT_TRUE(fake::HasProfile("win.ini", "Orvane55", "LIGNEDECOMMANDE"));
        EXPECT_TRUE(fake::LogLines("DestroyWindow").empty());
    }
}

TEST_F(FakeTest, RefusedStartLetsTheRunGoOnAndRetriesOnTheNextCommand)
{
    EditorRequest("F");
    state.initResults = {0, 1};
    state.replies = {fake::Reply::Key("ESC")};
    Outcome outcome = RunLauncher();
    EXPECT_EQ(0, outcome.exitCode);
    // "ENVI" was dropped; "OUVRE" started the engine on the second try.
    ASSERT_FALSE(Commands().empty());
    EXPECT_EQ("OUVRE,/work/test/_OV_GO.OVW /RE", Commands()[0]);
    EXPECT_EQ(2u, fake::LogLines("LoadLibrary").size());
    EXPECT_EQ(2u, state.blocks.size());
}

TEST_F(FakeTest, WindowProcedureHandsEverythingToTheDefault)
{
    EXPECT_EQ(42, LauncherWindowProc(nullptr, 15, 1, 2));
    EXPECT_EQ((std::vector<std::string>{"DefWindowProc 15"}), state.log);
}

// --- Settings writes -------------------------------------------------------

class SettingsTest : public FakeTest {
  protected:
    void SetUp() override
    {
        FakeTest::SetUp();
        std::strcpy(SettingsFileName, "Orvane.ini");
    }
};

TEST_F(SettingsTest, EmptyOrNullValueDeletesTheKey)
{
    fake::SetProfile("Orvane.ini", "TEST", "A", "1");
    fake::SetProfile("Orvane.ini", "TEST", "B", "2");
    EXPECT_NE(0, WriteSetting("TEST", "A", ""));
    EXPECT_NE(0, WriteSetting("TEST", "B", nullptr));
    EXPECT_TRUE(fake::ProfileLines("Orvane.ini").empty());
    EXPECT_TRUE(Commands().empty());
}

TEST_F(SettingsTest, IntegerSettingsAreTheSigned16BitValue)
{
    struct Case {
        int32_t value;
        const char* text;
    } cases[] = {{0, "0"},          {12, "12"},    {-5, "-5"},        {32767, "32767"},
                 {32768, "-32768"}, {65535, "-1"}, {40000, "-25536"}, {65536 + 7, "7"}};
    for (const Case& c : cases) {
        EXPECT_NE(0, WriteIntegerSetting("TEST", "N", c.value));
        EXPECT_EQ(c.text, fake::Profile("Orvane.ini", "TEST", "N")) << c.value;
    }
}

TEST_F(SettingsTest, FailedWriteTellsTheUserInTheirLanguage)
{
    state.unwritableFiles.insert("orvane.ini");
    EXPECT_EQ(0, WriteSetting("TEST", "CR", "*E*"));
    LaunchContext.English = 1;
    EXPECT_EQ(0, WriteIntegerSetting("TEST", "NLIGNE", 3));
    EXPECT_EQ(
        (std::vector<std::string>{"INFO,Impossible d'\xE9"
                                  "crire dans ORVANE.INI.\nFichier prot\xE9g\xE9 ou d\xE9passant 64Ko",
                                  "INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko"}),
        Commands());
    // The message is an ordinary command: it started the engine.
    EXPECT_EQ(1u, fake::LogLines("LoadLibrary").size());
}
