// Scripts: which line answers which call, and what happens off the script.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "standin_harness.h"
#include "text_and_bytes.h"

using namespace standin_test;

namespace {

int32_t Start()
{
    Record record{};
    Block block = WellFormedBlock();
    return Engine().OV4InitInstance(record.data(), block.data());
}

std::string KeyOf(const Record& record) { return std::string(reinterpret_cast<const char*>(record.data() + 2), 3); }

} // namespace

TEST(Script, ExactAndPrefixPatterns)
{
    Workspace workspace;
    setenv("STANDIN_TEST_DIR", "/tmp/w", 1);
    workspace.UseScript("# a comment line\n"
                        "\n"
                        "ENVI,* =>                     # any address\n"
                        "OUVRE,${STANDIN_TEST_DIR}/_OV_GO.OVW /RE => key=RET\n"
                        "   \"INFO,OVTouche=*M*\" => key=\"*M*\"\n"
                        "\"info,z\\xE9\"* => key=AF4\n"
                        "* => key=\"*E*\"\r\n");
    ASSERT_EQ(1, Start());
    EXPECT_EQ(0, Call("ENVI,12345")[0]);
    EXPECT_EQ("RET", KeyOf(Call("OUVRE,/tmp/w/_OV_GO.OVW /RE")));
    EXPECT_EQ("*M*", KeyOf(Call("INFO,OVTouche=*M*")));
    EXPECT_EQ("AF4", KeyOf(Call("info,z\xE9ro")));
    EXPECT_EQ("*E*", KeyOf(Call("anything at all")));
    EXPECT_TRUE(workspace.Lines("mismatch").empty());
    EXPECT_TRUE(workspace.Lines("script").empty());
}

TEST(Script, MismatchConsumesNothingAndEndsTheScreen)
{
    Workspace workspace;
    workspace.UseScript("OUVRE,* => key=RET\nECRAN,SAISIE => key=\"*M*\"\nFENETRE => kind=1 text=\"0\"\n");
    ASSERT_EQ(1, Start());
    // A prefix matches at the start of the command only.
    EXPECT_EQ("ESC", KeyOf(Call("XOUVRE,a")));
    EXPECT_EQ("RET", KeyOf(Call("OUVRE,a")));
    EXPECT_EQ("ESC", KeyOf(Call("ECRAN,SAISI")));
    EXPECT_EQ("ESC", KeyOf(Call("ECRAN,SAISIE ")));
    EXPECT_EQ("*M*", KeyOf(Call("ECRAN,SAISIE")));
    EXPECT_EQ(0x11, Call("FENETRE")[0]);
    Record after = Call("FERM");
    EXPECT_EQ(0x80, after[0]);
    EXPECT_EQ("ESC", KeyOf(after));
    EXPECT_EQ(
        (std::vector<std::string>{"mismatch line=1 expected=\"OUVRE,\"*", "mismatch line=2 expected=\"ECRAN,SAISIE\"",
                                  "mismatch line=2 expected=\"ECRAN,SAISIE\""}),
        workspace.Lines("mismatch"));
    const std::vector<std::string> lines = workspace.Transcript();
    ASSERT_LE(3u, lines.size());
    EXPECT_EQ((std::vector<std::string>{"call \"FERM\"", "script exhausted", "reply flags=0x80 key=\"ESC\""}),
              std::vector<std::string>(lines.end() - 3, lines.end()));
}

TEST(Script, StartLinesAreConsumedOnlyByStarts)
{
    Workspace workspace;
    workspace.UseScript("@start => refuse\n"
                        "@start => result=2\n"
                        "ENVI,* => key=RET\n"
                        "@start => refuse\n"
                        "FERM => key=ESC\n");
    EXPECT_EQ(0, Start());
    EXPECT_EQ(2, Start());
    EXPECT_EQ("RET", KeyOf(Call("ENVI,1")));
    // A command where a start is expected does not match it.
    EXPECT_EQ("ESC", KeyOf(Call("FERM")));
    EXPECT_EQ(std::vector<std::string>{"mismatch line=4 expected=@start"}, workspace.Lines("mismatch"));
    Record record{};
    Engine().FinInstance(record.data());
    EXPECT_EQ(0, Start());
    // With no start line next, a start is accepted and consumes nothing.
    EXPECT_EQ(1, Start());
    Engine().FinInstance(record.data());
    EXPECT_EQ(1, Start());
    EXPECT_EQ(0x80, Call("FERM")[0]);
    EXPECT_TRUE(workspace.Lines("script").empty());
    EXPECT_EQ((std::vector<std::string>{"start result=0", "start result=2", "start result=0", "start result=1",
                                        "start result=1"}),
              workspace.Lines("start result"));
}

TEST(Script, FaultyScriptIsReportedAndAnswersEscape)
{
    const struct {
        const char* Text;
        const char* Fault;
    } cases[] = {
        {"X => kyy=1", "script fault \"line 1: unknown item kyy\""},
        {"\n\nX => key=ABCD", "script fault \"line 3: key ABCD is longer than 3 characters\""},
        {"X key=ESC", "script fault \"line 1: no => on the line\""},
        {"X => kind=16", "script fault \"line 1: kind=16 is outside 0 to 15\""},
        {"X => text=\"abc", "script fault \"line 1: a quoted text has no closing quote\""},
        {"X => text=\"\\q\"", "script fault \"line 1: unknown escape \\\\q\""},
        {"${STANDIN_TEST_UNSET} => none", "script fault \"line 1: ${STANDIN_TEST_UNSET} is not set\""},
        {"@start => maybe", "script fault \"line 1: a start line takes accept, refuse or result=N, not maybe\""},
        {"X => set[254]=\"ab\"", "script fault \"line 1: set[254] writes past the record's 255 bytes\""},
        {"X => number=3", "script fault \"line 1: number needs kind\""},
        {"X => pointer=abc", "script fault \"line 1: pointer takes a quoted text or null\""},
    };
    unsetenv("STANDIN_TEST_UNSET");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        Workspace workspace;
        workspace.UseScript(std::string(c.Text) + "\nENVI,* => key=RET\n");
        ASSERT_EQ(1, Start());
        // Nothing of a faulty script is used, not even its good lines.
        EXPECT_EQ("ESC", KeyOf(Call("ENVI,1")));
        EXPECT_EQ(std::vector<std::string>{c.Fault}, workspace.Lines("script fault"));
    }
}

TEST(Script, DeparturesAreToldOnStandardErrorInTheTranscriptsWords)
{
    Workspace workspace;
    workspace.UseScript("ENVI,* => key=RET\nOUVRE,* => key=RET\n");
    WriteFile(workspace.Path("empty"), "");
    const auto run = [] {
        Start();
        Call("ENVI,1");
        Call("FERM");
        Call("OUVRE,a");
        Call("ECRAN,SAISIE");
        Call("FENETRE");
    };
    ASSERT_EQ(0, RunInChild(run, workspace.Path("empty"), "", workspace.Path("stderr")));
    // The end of the script is told once, at the first command past it.
    EXPECT_EQ("OV553KRN stand-in: mismatch line=2 expected=\"OUVRE,\"* at call \"FERM\"\n"
              "OV553KRN stand-in: script exhausted at call \"ECRAN,SAISIE\"\n",
              ReadFile(workspace.Path("stderr")));
    EXPECT_EQ(2u, workspace.Lines("script exhausted").size());

    workspace.UseScript("X => kyy=1\nY => key=ABCD\n", "faulty.txt");
    ASSERT_EQ(0, RunInChild(run, workspace.Path("empty"), "", workspace.Path("stderr")));
    EXPECT_EQ("OV553KRN stand-in: script fault \"line 1: unknown item kyy\" in " + workspace.Path("faulty.txt") +
                  "\nOV553KRN stand-in: script fault \"line 2: key ABCD is longer than 3 characters\" in " +
                  workspace.Path("faulty.txt") + "\n",
              ReadFile(workspace.Path("stderr")));
}

TEST(Script, StrictEndsTheProcessAtTheFirstDeparture)
{
    const struct {
        const char* Script;
        const char* Told;
        size_t Calls; // calls in the transcript
    } cases[] = {
        {"ENVI,* => key=RET\nOUVRE,* => key=RET\n", "mismatch line=2 expected=\"OUVRE,\"*", 2},
        {"ENVI,* => key=RET\nFERM => key=RET\n", "script exhausted", 3},
        {"ENVI,* => key=RET\nFERM => kyy=1\n", "script fault \"line 2: unknown item kyy\"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Script);
        Workspace workspace;
        workspace.UseScript(c.Script);
        setenv("OV_STANDIN_STRICT", "1", 1);
        WriteFile(workspace.Path("empty"), "");
        const int status = RunInChild(
            [] {
                Start();
                Call("ENVI,1");
                Call("FERM");
                Call("OUVRE,a");
            },
            workspace.Path("empty"), "", workspace.Path("stderr"));
        unsetenv("OV_STANDIN_STRICT");
        EXPECT_EQ(4, status);
        const std::vector<std::string> lines = workspace.Transcript();
        ASSERT_LE(2u, lines.size());
        EXPECT_EQ(c.Told, lines[lines.size() - 2]);
        EXPECT_EQ("strict exit=4", lines.back());
        EXPECT_EQ(c.Calls, workspace.Lines("call").size());
        EXPECT_EQ(0u, ReadFile(workspace.Path("stderr")).find(std::string("OV553KRN stand-in: ") + c.Told));
    }
}

TEST(Script, MissingScriptFileIsReported)
{
    Workspace workspace;
    setenv("OV_STANDIN_SCRIPT", workspace.Path("absent.txt").c_str(), 1);
    ASSERT_EQ(1, Start());
    EXPECT_EQ("ESC", KeyOf(Call("ENVI,1")));
    EXPECT_EQ(std::vector<std::string>{"script fault \"cannot read " + workspace.Path("absent.txt") + "\""},
              workspace.Lines("script fault"));
}

TEST(Script, PlaceSurvivesUnloadingTheLibrary)
{
    Workspace workspace;
    workspace.UseScript("ENVI,* => key=RET\nDFTOCS => pointer=\"kept\"\nFERM => key=\"*E*\"\n");
    void* handle = LoadLibraryHandle();
    auto init = reinterpret_cast<int32_t (*)(void*, void*)>(dlsym(handle, "OV4InitInstance"));
    auto call = reinterpret_cast<int32_t (*)(void*)>(dlsym(handle, "OVCALLC"));
    auto stop = reinterpret_cast<int32_t (*)(void*)>(dlsym(handle, "FinInstance"));
    Record record = Request("ENVI,1");
    Block block = WellFormedBlock();
    ASSERT_EQ(1, init(record.data(), block.data()));
    call(record.data());
    record = Request("DFTOCS");
    call(record.data());
    const uint32_t address = Little32(record.data() + 5);
    stop(record.data());
    // The launcher frees the library at every stop and loads it at the next start.
    dlclose(handle);
    EXPECT_STREQ("kept", reinterpret_cast<const char*>(static_cast<uintptr_t>(address)));
    ASSERT_EQ(1, Start());
    EXPECT_EQ("*E*", KeyOf(Call("FERM")));
}

TEST(Script, CallBoundEndsTheProcess)
{
    Workspace workspace;
    workspace.UseScript("* => key=RET\n");
    setenv("OV_STANDIN_MAX_CALLS", "5", 1);
    WriteFile(workspace.Path("empty"), "");
    const int status = RunInChild(
        [] {
            Start(); // call 1
            for (int i = 0; i < 100; ++i)
                Call("ECRAN,SAISIE");
        },
        workspace.Path("empty"), "");
    EXPECT_EQ(3, status);
    EXPECT_EQ(4u, workspace.Lines("call").size());
    EXPECT_EQ("limit calls=5 exit=3", workspace.Transcript().back());
}

TEST(Script, DefaultCallBoundIsTenThousand)
{
    Workspace workspace;
    workspace.UseScript("");
    WriteFile(workspace.Path("empty"), "");
    const int status = RunInChild(
        [] {
            Start();
            for (int i = 0; i < 20000; ++i)
                Call("ECRAN,SAISIE");
        },
        workspace.Path("empty"), "");
    EXPECT_EQ(3, status);
    EXPECT_EQ(9999u, workspace.Lines("call").size());
    EXPECT_EQ("limit calls=10000 exit=3", workspace.Transcript().back());
}
