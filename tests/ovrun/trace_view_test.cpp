// Reading a trace for `ovrun trace view`, folding its loops, and the texts
// its page, Trace Event JSON and Mermaid diagram carry: a trace is
// untrusted, and nothing in it may become markup or syntax.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exports.h"
#include "json_text.h"
#include "trace_model.h"

using namespace traceview;

namespace {

const std::string kHeader = "# OVTST552 5.5, Linux 64-bit\n# run of 2026-12-09 17:17:57\n"
                            "# [TEST] LIGNEDECOMMANDE=\"/x/ovtst552\"\n# [TEST] COMMANDE=\"EDITEUR\"\n"
                            "# [TEST] REPEXE=\"/x\"\n# [TEST] REPCOURANT=\"/p\"\n# [TEST] PARAM1=\"\"\n"
                            "# [TEST] PARAM2=\"F\"\n# [Orvane55] LANGUAGE=\"FRENCH\"\n# end of the settings read\n";

std::vector<RunView> Read(const std::string& body)
{
    std::vector<RunView> runs;
    std::string error;
    EXPECT_TRUE(ReadTraceView(kHeader + body, &runs, &error)) << error;
    return runs;
}

// Events of calls: "A" is a call sending A whose screen ends on key K.
std::vector<TraceEvent> Calls(const std::string& letters)
{
    std::vector<TraceEvent> events;
    for (const char letter : letters) {
        TraceEvent event;
        event.Kind = letter == 'w' ? EventKind::Write : EventKind::Call;
        event.Text = std::string(1, letter);
        event.Key = letter == 'e' ? "*E*" : "RET";
        events.push_back(event);
    }
    return events;
}

} // namespace

TEST(TraceView, ReadsRepliesTimesAndTheHandoff)
{
    const std::vector<RunView> runs =
        Read("@start => accept  # 0.3 ms\n"
             "\"ENVI,\"* => none  # 0.0 ms, sent \"ENVI,1234\"\n"
             "\"ECRAN,SAISIE\" => key=\"*E*\" kind=8 text=\"a  # 9.9 ms \\\"q\\\"\\xE9\"  # 12.5 ms\n"
             "\"OUINON,Q?\" => kind=0 text=\"O\"  # 0.1 ms\n"
             "# stop\n"
             "# write Orvane.ini [TEST] CR=\"*E*\": done\n"
             "# write Orvane.ini [TEST] MESSAGE=\"Division\\xF5par z\\xE9ro\": done\n"
             "# write Orvane.ini [TEST] NOMOBJET=\"BTN.PRO\": failed\n"
             "\"FENETRE\" =>");
    ASSERT_EQ(runs.size(), 1u);
    const RunView& run = runs[0];
    EXPECT_EQ(run.Launcher, "OVTST552 5.5, Linux 64-bit");
    EXPECT_EQ(run.Header.size(), 7u);
    EXPECT_NE(run.Problem, ""); // a run that never ended is shown, with why a replay refuses it
    ASSERT_EQ(run.Events.size(), 16u);
    EXPECT_EQ(run.Events[3].Kind, EventKind::Read);
    EXPECT_EQ(run.Events[3].Line, 6);
    EXPECT_EQ(run.Events[3].Text, "read [TEST] REPCOURANT=\"/p\"");
    const auto events = std::vector<TraceEvent>(run.Events.begin() + 7, run.Events.end());
    const TraceEvent& start = events[0];
    EXPECT_EQ(start.Kind, EventKind::Start);
    EXPECT_EQ(start.Milliseconds, 0.3);
    EXPECT_EQ(events[1].Text, "ENVI,1234");
    const TraceEvent& screen = events[2];
    EXPECT_EQ(screen.Key, "*E*");
    EXPECT_EQ(screen.Milliseconds, 12.5);
    ASSERT_EQ(screen.Reply.size(), 3u);
    EXPECT_EQ(screen.Reply[2].second, "a  # 9.9 ms \"q\"\xE9");
    EXPECT_TRUE(screen.Handoff && events[3].Handoff && events[5].Handoff);
    EXPECT_EQ(events[4].Owner, Lane::Launcher);
    EXPECT_EQ(events[5].Owner, Lane::Editor);
    EXPECT_TRUE(events[7].Failed);
    EXPECT_FALSE(events[8].Answered);
    EXPECT_TRUE(run.HasReport);
    EXPECT_EQ(run.Report.Values[kMessage], "Division\xF5par z\xE9ro");
}

TEST(TraceView, RefusesWhatIsNoTrace)
{
    std::vector<RunView> runs;
    std::string error;
    for (const std::string& bytes : {std::string(), std::string("hello\nworld\n"), kHeader + std::string(1, '\0')}) {
        error.clear();
        EXPECT_FALSE(ReadTraceView(bytes, &runs, &error)) << bytes;
        EXPECT_NE(error, "");
    }
}

TEST(TraceView, FoldsLongLoopsOnly)
{
    struct Case {
        const char* Calls;
        std::vector<size_t> Expected; // first, period, repetitions of each fold
    } cases[] = {
        {"xaaaay", {1, 1, 4}},                        // one call four times
        {"xaaay", {}},                                // three times is not a loop to fold
        {"abababab", {0, 2, 4}},                      // two calls a turn
        {"aaaaaaaaa", {0, 1, 9}},                     // the shortest turn that covers the most
        {"abcabcabcabcab", {0, 3, 4}},                // a turn cut short stays outside
        {"abababwabababab", {7, 2, 4}},               // a settings write ends a loop
        {"aaaaeaaaa", {0, 1, 4, 5, 1, 4}},            // so does a screen that ends otherwise
        {"abcdefghiabcdefghiabcdefghiabcdefghi", {}}, // nine calls a turn: too long to be one loop
    };
    for (const Case& c : cases) {
        std::vector<TraceEvent> events = Calls(c.Calls);
        if (std::string(c.Calls) == "aaaaeaaaa") events[4].Text = "a";
        std::vector<size_t> found;
        for (const Fold& fold : FindFolds(events))
            found.insert(found.end(), {fold.First, fold.Period, fold.Repetitions});
        EXPECT_EQ(found, c.Expected) << c.Calls;
    }
    std::vector<TraceEvent> loop = Calls("abababab");
    loop[0].Text = "FENETRE";
    loop[1].Text = "ECRAN,SAISIE";
    EXPECT_EQ(FoldLabel(loop, {0, 2, 4}), "FENETRE / ECRAN,SAISIE");
    EXPECT_EQ(CountText(8997), "8,997");
    EXPECT_EQ(CountText(1234567), "1,234,567");
}

TEST(TraceView, TextsStayTextInJsonAndMermaid)
{
    EXPECT_EQ(JsonString("</script><b a=\"&\">\\\n\xE2\x80\xA8\xE2\x80\xA9"),
              "\"\\u003C/script\\u003E\\u003Cb a=\\\"\\u0026\\\"\\u003E\\\\\\u000A\\u2028\\u2029\"");
    EXPECT_EQ(DisplayText("z\xE9ro\x80\x81\x0D\x7F"), "z\xC3\xA9ro\xE2\x82\xAC\\x81\\x0D\\x7F");

    const std::vector<RunView> runs =
        Read("\"info,<b>;%%#x\" => kind=0 text=\"x" + std::string(100, '\xE9') + "\"  # 1.0 ms\n# the launcher ends\n");
    const std::string diagram = MermaidDiagram(runs);
    EXPECT_EQ(diagram.rfind("sequenceDiagram\n", 0), 0u);
    EXPECT_NE(diagram.find("Launcher->>Engine: info,#60;b#62;#59;#37;#37;#35;x\n"), std::string::npos) << diagram;
    // Cut to 80 bytes, back to the start of the character the cut falls in.
    std::string cut = "kind=0 text=x";
    for (int i = 0; i < 33; ++i)
        cut += "\xC3\xA9";
    EXPECT_NE(diagram.find(cut + "\xE2\x80\xA6\n"), std::string::npos) << diagram;
}

TEST(TraceView, TraceEventsFollowEachOtherInTime)
{
    const std::vector<RunView> runs = Read("@start => accept  # 0.5 ms\n\"A\" => none  # 2.0 ms\n"
                                           "# write Orvane.ini [TEST] CR=\"*E*\": done\n\"B\" => none  # 1.0 ms\n");
    const std::string json = ChromeTraceJson(runs);
    for (const char* event : {"\"name\":\"A\",\"cat\":\"engine\",\"ts\":500,\"dur\":2000,\"pid\":1,\"tid\":1",
                              "\"name\":\"B\",\"cat\":\"engine\",\"ts\":2500,\"dur\":1000,\"pid\":1,\"tid\":1",
                              "\"ph\":\"i\",\"s\":\"t\",\"name\":\"write Orvane.ini [TEST] CR=\\\"*E*\\\": done\"",
                              "\"ph\":\"i\",\"s\":\"p\",\"name\":\"error handoff\""})
        EXPECT_NE(json.find(event), std::string::npos) << event << "\n" << json;
}
