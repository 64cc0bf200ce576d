// ovrun's command line: the forms it takes, the ones it refuses, and the
// request values they give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arguments.h"

namespace {

struct Parsed {
    bool Ok;
    RunOptions Options;
    std::string Error;
};

Parsed Parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "ovrun");
    Parsed parsed;
    parsed.Options.Json = true; // must be reset by the parse
    parsed.Ok = ParseArguments(static_cast<int>(arguments.size()), arguments.data(), &parsed.Options, &parsed.Error);
    return parsed;
}

TEST(Arguments, EachTestWithItsOptionsInAnyOrder)
{
    Parsed window = Parse({"window", "proj", "--program"});
    ASSERT_TRUE(window.Ok) << window.Error;
    EXPECT_EQ(window.Options.Kind, TestKind::Window);
    EXPECT_EQ(window.Options.Directory, "proj");
    EXPECT_TRUE(window.Options.AsProgram);
    EXPECT_FALSE(window.Options.Json);
    EXPECT_EQ(window.Options.Launcher, "");
    EXPECT_EQ(window.Options.TimeoutSeconds, 0);
    EXPECT_EQ(window.Options.WaitSeconds, 5);

    Parsed project = Parse(
        {"--json", "project", "--launcher", "/opt/l", "C:\\w", "--exe-dir=D:\\exe", "--timeout=1000000", "--wait=0"});
    ASSERT_TRUE(project.Ok) << project.Error;
    EXPECT_EQ(project.Options.Kind, TestKind::Project);
    EXPECT_EQ(project.Options.Directory, "C:\\w");
    EXPECT_TRUE(project.Options.Json);
    EXPECT_FALSE(project.Options.AsProgram);
    EXPECT_EQ(project.Options.Launcher, "/opt/l");
    EXPECT_EQ(project.Options.ExecutableDirectory, "D:\\exe");
    EXPECT_EQ(project.Options.TimeoutSeconds, 1000000);
    EXPECT_EQ(project.Options.WaitSeconds, 0);

    Parsed console = Parse({"console"});
    ASSERT_TRUE(console.Ok) << console.Error;
    EXPECT_EQ(console.Options.Kind, TestKind::Console);
    EXPECT_EQ(console.Options.Directory, "");

    // After "--" a directory may begin with a dash.
    Parsed dashed = Parse({"console", "--", "-odd"});
    ASSERT_TRUE(dashed.Ok) << dashed.Error;
    EXPECT_EQ(dashed.Options.Directory, "-odd");

    // A lone "-" is a directory, not an option.
    Parsed dash = Parse({"window", "-"});
    ASSERT_TRUE(dash.Ok) << dash.Error;
    EXPECT_EQ(dash.Options.Directory, "-");
}

TEST(Arguments, HelpAndVersionStopTheParse)
{
    Parsed help = Parse({"--help", "bogus", "--nonsense"});
    ASSERT_TRUE(help.Ok);
    EXPECT_TRUE(help.Options.Help);
    EXPECT_TRUE(Parse({"window", "-h"}).Options.Help);
    Parsed version = Parse({"--version", "bogus"});
    ASSERT_TRUE(version.Ok);
    EXPECT_TRUE(version.Options.Version);
    EXPECT_FALSE(version.Options.Help);
}

TEST(Arguments, WrongUsageIsRefusedWithAReason)
{
    const struct {
        std::vector<const char*> Arguments;
        const char* Reason;
    } cases[] = {
        {{}, "no test named"},
        {{"--json"}, "no test named"},
        {{"Window", "d"}, "unknown test 'Window'"},
        {{"window"}, "the window test needs a directory"},
        {{"project", "--json"}, "the project test needs a directory"},
        {{"window", ""}, "the directory is empty"},
        {{"window", "a", "b"}, "unexpected argument 'b'"},
        {{"console", "a", "b"}, "unexpected argument 'b'"},
        {{"project", "d", "--program"}, "--program applies to the window test only"},
        {{"console", "--program"}, "--program applies to the window test only"},
        {{"window", "d", "--launcher"}, "--launcher needs a value"},
        {{"window", "d", "--launcher="}, "--launcher needs a value"},
        {{"window", "d", "--exe-dir", ""}, "--exe-dir needs a value"},
        {{"window", "d", "--launch", "x"}, "unknown option '--launch'"},
        {{"window", "d", "--launcherx"}, "unknown option '--launcherx'"},
        {{"window", "d", "-p"}, "unknown option '-p'"},
        {{"window", "d", "--timeout"}, "--timeout needs a value"},
        {{"window", "d", "--timeout", "0"}, "--timeout takes whole seconds, 1 to 1000000, not '0'"},
        {{"window", "d", "--timeout", "1000001"}, "--timeout takes whole seconds"},
        {{"window", "d", "--timeout=2.5"}, "--timeout takes whole seconds"},
        {{"window", "d", "--timeout", "-1"}, "--timeout takes whole seconds"},
        {{"window", "d", "--wait"}, "--wait takes whole seconds, 0 to 1000000, not ''"},
        {{"window", "d", "--wait", "1000001"}, "--wait takes whole seconds"},
    };
    for (const auto& row : cases) {
        Parsed parsed = Parse(row.Arguments);
        std::string label;
        for (const char* argument : row.Arguments)
            label += std::string(" [") + argument + "]";
        EXPECT_FALSE(parsed.Ok) << label;
        EXPECT_EQ(parsed.Error.rfind(row.Reason, 0), 0u) << label << " gave: " << parsed.Error;
    }
}

TEST(Arguments, RequestValuesOfEachTest)
{
    RunOptions options;
    options.Kind = TestKind::Window;
    EXPECT_STREQ(ModeLetter(options.Kind), "F");
    EXPECT_STREQ(ProgramFlag(options), "");
    options.AsProgram = true;
    EXPECT_STREQ(ProgramFlag(options), "P");

    options = RunOptions();
    options.Kind = TestKind::Project;
    EXPECT_STREQ(ModeLetter(options.Kind), "P");
    EXPECT_STREQ(ProgramFlag(options), "P");

    options.Kind = TestKind::Console;
    EXPECT_STREQ(ModeLetter(options.Kind), "I");
    EXPECT_STREQ(ProgramFlag(options), "");
}

TEST(Arguments, LauncherCommandLineIsQuotedOnlyWithBlanks)
{
    EXPECT_EQ(LauncherCommandLine("/opt/orvane/ovtst552"), "/opt/orvane/ovtst552");
    EXPECT_EQ(LauncherCommandLine("C:\\Program Files\\Orvane\\OVTST552.EXE"),
              "\"C:\\Program Files\\Orvane\\OVTST552.EXE\"");
    EXPECT_EQ(LauncherCommandLine("/a\tb/l"), "\"/a\tb/l\"");
}

TEST(Arguments, TrailingSeparatorsGoButTheRootStays)
{
    const struct {
        const char* Path;
        bool Backslash;
        const char* Expected;
    } cases[] = {
        {"/tmp/proj", false, "/tmp/proj"},
        {"/tmp/proj//", false, "/tmp/proj"},
        {"/", false, "/"},
        {"///", false, "/"},
        {"C:\\proj\\", false, "C:\\proj\\"}, // a backslash is a name byte on Linux
        {"C:\\proj\\", true, "C:\\proj"},
        {"C:\\proj/\\", true, "C:\\proj"},
        {"C:\\", true, "C:\\"},
        {"C:", true, "C:"},
        {"\\\\server\\share\\", true, "\\\\server\\share"},
        {"", true, ""},
    };
    for (const auto& row : cases)
        EXPECT_EQ(WithoutTrailingSeparators(row.Path, row.Backslash), row.Expected)
            << row.Path << (row.Backslash ? " (Windows)" : " (Linux)");
}

} // namespace
