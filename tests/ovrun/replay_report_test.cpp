// What a replay's report shows whatever the bytes it is given, and how the
// scratch folder keeps the recorded directories' lengths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relocation.h"
#include "replay_report.h"
#include "scratch_layout.h"
#include "trace.h"

using namespace replay;

TEST(ReplayReport, ReadableTextKeepsValidUtf8AndEscapesEveryOtherByte)
{
    const struct {
        std::string Bytes, Shown;
    } cases[] = {
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"}, // two and four bytes
        {"caf\xE9", "caf\\xE9"},                                          // Latin-1
        {"\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80",
         "\\xC0\\xAF|\\xED\\xA0\\x80|\\xF4\\x90\\x80\\x80"},         // overlong, surrogate, past U+10FFFF
        {"\xE2\x82", "\\xE2\\x82"},                                  // cut short at the end
        {"a\x01\tb\n\x7F", "a\\x01\\x09b\\x0A\\x7F"},                // controls XML refuses or a line cannot hold
        {"\xEF\xBF\xBE\xEF\xBF\xBD", "\\xEF\\xBF\\xBE\xEF\xBF\xBD"}, // U+FFFE is no XML character, U+FFFD is
    };
    for (const auto& entry : cases)
        EXPECT_EQ(entry.Shown, ReadableText(entry.Bytes)) << entry.Bytes;
}

TEST(ReplayReport, FailuresCarryTheirFileAndLineInEveryForm)
{
    std::vector<TraceResult> results(3, TraceResult("t.txt"));
    results[0].Name = "a,b:c%<\xE9>.txt";
    results[0].Ran = true;
    results[0].Line = 7;
    results[0].Message = "line 7: expected \"A&B\" got 50%";
    results[1].Ran = results[1].Passed = true;
    EXPECT_EQ("FAIL a,b:c%<\\xE9>.txt: line 7: expected \"A&B\" got 50%\n"
              "::error file=a%2Cb%3Ac%25<\\xE9>.txt,line=7,title=ovrun replay::a,b:c%25<\\xE9>.txt:7: expected "
              "\"A&B\" got 50%25\n"
              "PASS t.txt\n"
              "1 passed, 1 failed, 1 not run (interrupted)\n",
              ConsoleReport(results, true));
    EXPECT_EQ(std::string::npos, ConsoleReport(results, false).find("::error"));

    const std::string xml = JunitXml(results, 1.5);
    EXPECT_NE(std::string::npos, xml.find("tests=\"3\" failures=\"1\" skipped=\"1\" time=\"1.500\""));
    EXPECT_NE(std::string::npos,
              xml.find("file=\"a,b:c%&lt;\\xE9&gt;.txt\" line=\"7\" time=\"0.000\">\n      <failure message=\"line 7: "
                       "expected &quot;A&amp;B&quot; got 50%\">a,b:c%&lt;\\xE9&gt;.txt:7: expected &quot;A&amp;B&quot; "
                       "got 50%</failure>"))
        << xml;
    EXPECT_NE(std::string::npos, xml.find("<skipped message=\"not run: interrupted\"/>"));
    // A line named after the message's lead is not said twice either.
    results[0].Line = 6;
    results[0].Message = "run 2: not replayable: line 6: the header is damaged";
    EXPECT_NE(std::string::npos, ConsoleReport(results, true)
                                     .find("::a,b:c%25<\\xE9>.txt:6: run 2: not replayable: the "
                                           "header is damaged\n"));
    EXPECT_EQ(12, LineNamed("cut before its header ended (line 12)"));
    EXPECT_EQ(0, LineNamed("the recorded run never ended"));
}

namespace {

TraceRequest RecordedIn(const std::string& test, const std::string& exe, const std::string& programs)
{
    TraceRequest request;
    request.Values[kCurrentDirectory] = test + "/";
    request.Values[kExecutableDirectory] = exe;
    request.LibraryPath = programs + "/OV553KRN.DLL";
    return request;
}

} // namespace

TEST(ReplayLayout, EachDirectoryKeepsTheRecordedLengthWhereOneFits)
{
    const std::string folder = "/tmp/ovrun-abc123";
    const std::string test(60, 't'), programs = "/" + std::string(450, 'p');
    const ReplayFolders folders = LayOutFolders(folder, RecordedIn(test, "/e", programs), '/', 4000);
    EXPECT_EQ(test.size(), folders.Test.size());
    EXPECT_EQ(0u, folders.Test.find(folder + "/test-"));
    // Past the longest name a folder holds, the padding goes on in another.
    EXPECT_EQ(programs.size(), folders.Programs.size());
    EXPECT_EQ(folders.Programs.find('/', folder.size() + 1), folder.size() + 201);
    // Shorter than any path under the folder: a name of its own.
    EXPECT_EQ(folder + "/exe", folders.Exe);
    // Where the system takes no path that long.
    EXPECT_EQ(folder + "/programs", LayOutFolders(folder, RecordedIn(test, "/e", programs), '/', 400).Programs);
    // Just one byte longer than the folder and a separator: the role's first letter.
    EXPECT_EQ(folder + "/e-", LayOutFolders(folder, RecordedIn(test, folder + "/xy", programs), '/', 4000).Exe);
}

TEST(ReplayLayout, CommandsThatCrossTheEnginesLimitOnceMovedAreRefused)
{
    const TraceRequest request = RecordedIn("/work/p", "/work/e", "/work/bin");
    ReplayFolders folders;
    folders.Test = "/tmp/ovrun-abc123/test";
    folders.Exe = "/tmp/ovrun-abc123/exe";
    folders.Programs = "/tmp/ovrun-abc123/programs";
    const Relocation moved = MakeRelocation(request, folders);
    const Relocation back = Reversed(moved);
    EXPECT_EQ("\"OUVRE,/work/p/_OV_GO.OVW\" => \"/work/bin\"",
              RelocateLine(RelocateLine("\"OUVRE,/work/p/_OV_GO.OVW\" => \"/work/bin\"", moved), back));

    const std::string sent = "\"OUVRE,/work/p/" + std::string(230, 'x') + "\" => key=\"ESC\"";
    TraceRun run;
    run.Lines = {{10, "@start => accept"}, {11, sent}};
    int line = 0;
    EXPECT_NE(std::string::npos, CommandLengthProblem(run, moved, &line).find("would be 259 characters"));
    EXPECT_EQ(11, line);
    run.Lines[1] = {11, "# a command of 300 characters, longer than 254, not sent"};
    EXPECT_NE(std::string::npos, CommandLengthProblem(run, moved, &line).find("was not sent"));
    // Directories of the recorded lengths: every command keeps its own.
    run.Lines.push_back({12, sent});
    EXPECT_EQ("", CommandLengthProblem(run, MakeRelocation(request, LayOutFolders("/t", request, '/', 4000)), &line));
}
