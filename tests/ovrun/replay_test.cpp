// Reading traces for a replay, moving them, rebuilding their settings and
// comparing runs: the rules that decide whether a replay passes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "comparison.h"
#include "host.h"
#include "rebuilt_settings.h"
#include "relocation.h"
#include "replay.h"
#include "scratch_directory.h"
#include "trace.h"

using namespace replay;

namespace {

std::string Header(const char* target, const std::string& directory, const std::string& components = "")
{
    return std::string("# OVTST552 5.5, ") + target +
           " 32-bit\n# run of 2026-12-09 17:17:57\n"
           "# [TEST] LIGNEDECOMMANDE=\"" +
           directory + "\\\\OVTST552.EXE\"\n# [TEST] COMMANDE=\"EDITEUR\"\n# [TEST] REPEXE=\"" + directory +
           "\"\n# [TEST] REPCOURANT=\"C:\\\\Projets\\\\Clients\\\\\"\n# [TEST] PARAM1=\"\"\n# [TEST] PARAM2=\"F\"\n"
           "# [Orvane55] LANGUAGE=\"UK\"\n" +
           components + "# end of the settings read\n";
}

const std::string kWindowsBody = "# write WIN.INI [Orvane55] LIGNEDECOMMANDE=\"C:\\\\Orvane\\\\OVTST552.EXE\": done\n"
                                 "# loaded \"C:\\\\Orvane\\\\OV553KRN.DLL\"\n"
                                 "@start => accept  # 0.3 ms\n"
                                 "\"ENVI,\"* => none  # 0.0 ms, sent \"ENVI,1234\"\n"
                                 "\"OUVRE,C:\\\\Projets\\\\Clients\\\\_OV_GO.OVW /RE\" => key=\"ESC\"  # 1.5 ms\n"
                                 "# stop\n"
                                 "# delete Orvane.ini [TEST] COMMANDE: done\n"
                                 "# delete WIN.INI [Orvane55] LIGNEDECOMMANDE: done\n"
                                 "# the launcher ends\n";

const std::string kWindowsRun = Header("Windows", "C:\\\\Orvane") + kWindowsBody;

ReplayFolders LinuxFolders()
{
    ReplayFolders folders;
    folders.Programs = "/tmp/r/programs";
    folders.Test = "/tmp/r/test";
    folders.Exe = "/tmp/r/exe";
    folders.Separator = '/';
    return folders;
}

std::vector<TraceLine> Lines(const std::string& text) { return SplitLines(text); }

} // namespace

TEST(ReplayTrace, ReadsEachRunAndTheRequestItsHeaderRecords)
{
    // A first run cut short, glued to the separator by an older launcher, then a whole run.
    const std::string components = "# [COMPOSANTE] COMPOSANTE_3=\"TAB,Tableur,2\"\n";
    const TraceFile file =
        ReadTrace(Header("Windows", "C:\\\\Orvane") + "\"ECRAN,SAISIE\" =>" + "# ======== the next run ========\n" +
                  Header("Windows", "C:\\\\Orvane", components) + kWindowsBody);
    ASSERT_EQ("", file.Problem);
    ASSERT_EQ(2u, file.Runs.size());
    EXPECT_NE(std::string::npos, file.Runs[0].Problem.find("never ended"));
    const TraceRun& run = file.Runs[1];
    EXPECT_EQ("", run.Problem);
    EXPECT_EQ(12, run.Lines[0].Number);
    EXPECT_EQ('\\', run.Request.Separator);
    EXPECT_EQ("C:\\Projets\\Clients\\", run.Request.Values[kCurrentDirectory]);
    EXPECT_EQ("UK", run.Request.Language);
    EXPECT_EQ("TAB,Tableur,2", run.Request.Components[3]);
    EXPECT_EQ("C:\\Orvane\\OV553KRN.DLL", run.Request.LibraryPath);
}

TEST(ReplayTrace, SaysWhyATraceCannotBeReplayed)
{
    const std::string header = Header("Linux", "/opt");
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const struct {
        std::string Trace;
        const char* Reason;
    } cases[] = {
        {"", "empty"},
        {std::string("# OVTST552\0x", 12), "NUL"},
        {"hello\n", "no header of the launcher"},
        {header.substr(0, 200), "cut before its header ended"},
        {replace(kWindowsRun, "# end of the settings read\n", ""), "an older trace"},
        {replace(kWindowsRun, "PARAM1=\"\"", "PARAM1=\"x\\x0A[OVTST552]\""), "PARAM1 holds a line break: refused"},
        {replace(kWindowsRun, "PARAM1=\"\"", "PARAM1=\"\\x00\""), "holds a NUL"},
        {replace(kWindowsRun, "PARAM1=\"\"", "PARAM1=\" F\""), "begins or ends with a blank"},
        {replace(kWindowsRun, "PARAM1=\"\"", "PARAM1=\"\\\"F\\\"\""), "in double quotes"},
        {replace(kWindowsRun, "COMMANDE: done", "COMMANDE: failed"), "a settings write failed"},
        {replace(kWindowsRun, "# loaded \"C:\\\\Orvane\\\\OV553KRN.DLL\"", "# OV553KRN.DLL could not be loaded"),
         "did not load"},
        {replace(kWindowsRun, "1.5 ms", "1.5 ms [cut]"), "was cut when it was recorded"},
        {replace(kWindowsRun, "# the launcher ends\n", ""), "never ended"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Trace);
        const TraceFile file = ReadTrace(entry.Trace);
        const std::string problem = file.Problem.empty() ? file.Runs.at(0).Problem : file.Problem;
        EXPECT_NE(std::string::npos, problem.find(entry.Reason)) << problem;
    }
}

TEST(ReplayTrace, MovesTheRecordedDirectoriesAndTheirSeparators)
{
    TraceRequest request;
    request.Separator = '\\';
    request.Values[kCurrentDirectory] = "C:\\Projets\\Clients\\";
    request.Values[kExecutableDirectory] = "C:\\Orvane";
    request.LibraryPath = "C:\\Orvane\\bin\\OV553KRN.DLL";
    const Relocation relocation = MakeRelocation(request, LinuxFolders());
    // The longest directory first; a name that only begins like one stays.
    EXPECT_EQ("BIBLI,DISQUE,/tmp/r/exe/ORVANE55.OVL",
              RelocateText("BIBLI,DISQUE,C:\\Orvane\\ORVANE55.OVL", relocation));
    EXPECT_EQ("/tmp/r/programs/OVTST552.EXE", RelocateText("C:\\Orvane\\bin\\OVTST552.EXE", relocation));
    EXPECT_EQ("OUVRE,C:\\Orvane2\\x", RelocateText("OUVRE,C:\\Orvane2\\x", relocation));
    EXPECT_EQ("OUVRE,D:\\C:\\Orvane\\x", RelocateText("OUVRE,D:\\C:\\Orvane\\x", relocation));
    EXPECT_EQ("/tmp/r/test", RelocateText("C:\\Projets\\Clients", relocation));
    // Quoted texts are moved and quoted again; the raw bytes of set[N]= stay.
    EXPECT_EQ("\"OUVRE,/tmp/r/test/_OV_GO.OVW /RE\" => text=\"/tmp/r/exe\" set[5]=\"C:\\\\Orvane\\x01\"",
              RelocateLine("\"OUVRE,C:\\\\Projets\\\\Clients\\\\_OV_GO.OVW /RE\" => text=\"C:\\\\Orvane\" "
                           "set[5]=\"C:\\\\Orvane\\x01\"",
                           relocation));
    EXPECT_EQ("# loaded \"/tmp/r/programs/OV553KRN.DLL\"",
              RelocateLine("# loaded \"C:\\\\Orvane\\\\bin\\\\OV553KRN.DLL\"", relocation));
}

TEST(ReplayTrace, HostileShapesCostTheirSizeAndKeepTheFileLines)
{
    // Millions of blank lines after the header hold no line each, and what
    // follows keeps its number in the file; blank lines inside a header still
    // damage it where they stand.
    const size_t blanks = 3000000;
    const TraceFile file = ReadTrace(Header("Windows", "C:\\\\Orvane") + std::string(blanks, '\n') + kWindowsBody);
    ASSERT_EQ("", file.Problem);
    const TraceRun& run = file.Runs.at(0);
    EXPECT_EQ("", run.Problem);
    EXPECT_EQ(19u, run.Lines.size());
    EXPECT_EQ(static_cast<int>(10 + blanks + 1), run.Lines[10].Number);
    const std::string header = Header("Linux", "/opt");
    const std::string gap =
        header.substr(0, header.find("# [TEST] REPEXE")) + "\n" + header.substr(header.find("# [TEST] REPEXE"));
    EXPECT_EQ("line 5: the header is damaged (expected # [TEST] REPEXE=\"...\")",
              ReadTrace(gap + std::string(blanks, '\n') + kWindowsBody).Runs.at(0).Problem);

    // A line of escaped quotes never closed is left as it is, in one pass.
    TraceRequest request;
    request.Values[kCurrentDirectory] = "/home/p";
    const Relocation relocation = MakeRelocation(request, LinuxFolders());
    std::string quotes;
    for (int i = 0; i < 200000; ++i)
        quotes += "\\\"";
    EXPECT_EQ("# \"/tmp/r/test/a\" \"" + quotes, RelocateLine("# \"/home/p/a\" \"" + quotes, relocation));
}

TEST(ReplayTrace, RebuildsTheSettingsFromTheHeader)
{
    const TraceFile file =
        ReadTrace(Header("Windows", "C:\\\\Orvane", "# [COMPOSANTE] COMPOSANTE_9=\"a,b,1\"\n") + kWindowsBody);
    const TraceRequest& request = file.Runs.at(0).Request;
    const ReplayFolders folders = LinuxFolders();
    EXPECT_EQ("[TEST]\r\nLIGNEDECOMMANDE=/tmp/r/programs/OVTST552.EXE\r\nCOMMANDE=EDITEUR\r\n"
              "REPEXE=/tmp/r/programs\r\nREPCOURANT=/tmp/r/test/\r\nPARAM1=\r\nPARAM2=F\r\n"
              "[Orvane55]\r\nLANGUAGE=UK\r\n[COMPOSANTE]\r\nCOMPOSANTE_9=a,b,1\r\n"
              "[OVTST552]\r\nTRACE=/tmp/r/replayed.txt\r\n",
              RebuiltSettings(request, folders, MakeRelocation(request, folders), "/tmp/r/replayed.txt"));
}

TEST(ReplayTrace, ComparesRunsUpToTheFirstDivergence)
{
    const std::vector<TraceLine> recorded = Lines(kWindowsRun);
    // Another date, times, address and library path are no divergence.
    std::string again = kWindowsRun;
    again.replace(again.find("17:17:57"), 8, "08:00:00");
    again.replace(again.find("0.3 ms"), 6, "12.9 ms");
    again.replace(again.find("ENVI,1234"), 9, "ENVI,98765");
    again.replace(again.find("C:\\\\Orvane\\\\OV553KRN"), 10, "D:\\\\X");
    EXPECT_FALSE(CompareRuns(recorded, Lines(again), "").Found);

    std::string other = kWindowsRun;
    other.replace(other.find("key=\"ESC\""), 9, "key=\"RET\"");
    Divergence divergence = CompareRuns(recorded, Lines(other), "");
    EXPECT_TRUE(divergence.Found);
    EXPECT_EQ(15, divergence.Line);
    EXPECT_EQ("\"OUVRE,C:\\\\Projets\\\\Clients\\\\_OV_GO.OVW /RE\" => key=\"ESC\"", divergence.Expected);
    EXPECT_EQ("\"OUVRE,C:\\\\Projets\\\\Clients\\\\_OV_GO.OVW /RE\" => key=\"RET\"", divergence.Got);
    const std::string beforeEnvi = kWindowsRun.substr(0, kWindowsRun.find("\"ENVI"));
    EXPECT_EQ("\"ENVI,\"* => none  # sent \"ENVI,<address>\"", CompareRuns(recorded, Lines(beforeEnvi), "").Expected);

    const std::string cut = kWindowsRun.substr(0, kWindowsRun.find("\"OUVRE")) + "\"OUVRE,x\" =>";
    divergence = CompareRuns(recorded, Lines(cut), "");
    EXPECT_EQ("\"OUVRE,x\" =>", divergence.Got);
    divergence = CompareRuns(Lines(cut), recorded, "");
    EXPECT_EQ("\"OUVRE,x\" =>", divergence.Expected);
    divergence = CompareRuns(recorded, Lines(kWindowsRun.substr(0, kWindowsRun.find("# stop"))), "timed out after 5 s");
    EXPECT_EQ("# stop", divergence.Expected);
    EXPECT_EQ("nothing: the replay ended (timed out after 5 s)", divergence.Got);
    divergence = CompareRuns(Lines(kWindowsRun.substr(0, kWindowsRun.find("# stop"))), recorded, "");
    EXPECT_EQ("the end of the run", divergence.Expected);
    EXPECT_EQ("# stop", divergence.Got);
}

TEST(ReplayTrace, ChecksTheSettingsTheReplayLeftAgainstTheLastWriteOfEachKey)
{
    const std::vector<TraceLine> recorded = Lines("# write Orvane.ini [TEST] NLIGNE=\"12\": done\n"
                                                  "# write Orvane.ini [TEST] MESSAGE=\"z\\xE9ro \": done\n"
                                                  "# write Orvane.ini [TEST] NLIGNE=\"13\": done\n"
                                                  "# delete Orvane.ini [TEST] COMMANDE: done\n"
                                                  "# delete WIN.INI [Orvane55] LIGNEDECOMMANDE: done\n");
    // The files the replay left, read as the launcher reads them.
    ScratchDirectory scratch("ovrun-replay-test");
    const std::string settings = scratch / "Orvane.ini", winIni = scratch / "win.ini";
    std::ofstream(winIni, std::ios::binary) << "[Orvane55]\r\n";
    auto check = [&](const std::string& settingsBytes) {
        std::ofstream(settings, std::ios::binary | std::ios::trunc) << settingsBytes;
        return CheckSettings(recorded, settings, winIni, ReadSetting);
    };
    EXPECT_FALSE(check("[test]\r\nnligne = 13\r\nMESSAGE=z\xE9ro\r\n").Found);
    Divergence divergence = check("[TEST]\r\nNLIGNE=12\r\nMESSAGE=z\xE9ro\r\n");
    EXPECT_EQ(3, divergence.Line);
    EXPECT_EQ("Orvane.ini [TEST] NLIGNE=\"12\"", divergence.Got);
    divergence = check("[TEST]\r\nNLIGNE=13\r\nMESSAGE=z\xE9ro\r\nCOMMANDE=EDITEUR\r\n");
    EXPECT_EQ(4, divergence.Line);
    EXPECT_EQ("the settings to hold Orvane.ini [TEST] COMMANDE absent", divergence.Expected);
    // An empty value is a value, not an absent key.
    divergence = check("[TEST]\r\nNLIGNE=13\r\nMESSAGE=\r\n");
    EXPECT_EQ(2, divergence.Line);
    EXPECT_EQ("Orvane.ini [TEST] MESSAGE=\"\"", divergence.Got);
}

TEST(ReplayTrace, QuotingGivesEveryByteBack)
{
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes += static_cast<char>(byte);
    const std::string quoted = Quote(bytes);
    size_t at = 0;
    std::string text;
    ASSERT_TRUE(Unquote(quoted, &at, &text));
    EXPECT_EQ(bytes, text);
    EXPECT_EQ(quoted.size(), at);
    at = 0;
    EXPECT_FALSE(Unquote("\"no end", &at, &text));
    EXPECT_EQ(0u, at);
    // The stand-in's escapes read back as it reads them; one it refuses is
    // refused here too, not taken for the letter.
    ASSERT_TRUE(Unquote("\"z\\xE9ro\\xA\\n\\0\\$\"", &at, &text));
    EXPECT_EQ(std::string("z\xE9ro\x0A\n\0$", 8), text);
    at = 0;
    EXPECT_FALSE(Unquote("\"a\\qb\"", &at, &text));
    EXPECT_FALSE(Unquote("\"a\\xG\"", &at, &text));
    EXPECT_EQ(0u, at);
}

TEST(ReplayArguments, TracesOptionsAndWrongUsage)
{
    ReplayOptions options;
    std::string error;
    const char* good[] = {"a.txt", "--jobs", "2", "--keep", "--junit=r.xml", "--", "--odd.txt"};
    ASSERT_TRUE(ParseReplayArguments(7, good, &options, &error)) << error;
    EXPECT_EQ((std::vector<std::string>{"a.txt", "--odd.txt"}), options.Traces);
    EXPECT_EQ(2u, options.Jobs);
    EXPECT_TRUE(options.Keep);
    EXPECT_EQ("r.xml", options.Junit);
    for (const std::vector<const char*>& bad :
         {std::vector<const char*>{}, {"--keep"}, {"a", "--jobs", "0"}, {"a", "--timeout"}, {"a", "--bogus"}}) {
        EXPECT_FALSE(ParseReplayArguments(static_cast<int>(bad.size()), bad.data(), &options, &error));
        EXPECT_FALSE(error.empty());
    }
}
