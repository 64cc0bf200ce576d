// A trace's runs as a Mermaid sequence diagram.
#include "exports.h"

#include <cctype>
#include <cstring>

namespace traceview {

namespace {

// A message longer than this is cut: the diagram is for reading.
constexpr size_t kLongestMessage = 80;

// UTF-8 text that Mermaid shows as it is: every character it could read as
// syntax (; # % < > & : " and the like) as an entity code, #59; for ';'.
std::string MermaidText(std::string text)
{
    if (text.size() > kLongestMessage) {
        size_t cut = kLongestMessage;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text = text.substr(0, cut) + "\xE2\x80\xA6";
    }
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || std::isalnum(byte) || std::strchr(" ,./*=()'+-_?!$[]\\", c) != nullptr)
            out += c;
        else
            out += "#" + std::to_string(byte) + ";";
    }
    return out;
}

std::string MermaidTraceText(const std::string& bytes) { return MermaidText(DisplayText(bytes)); }

std::string ReplyText(const TraceEvent& event)
{
    if (!event.Answered) return "no answer: the engine never returned";
    std::string reply;
    for (const auto& item : event.Reply)
        reply += (reply.empty() ? "" : " ") + (item.first.empty() ? item.second : item.first + "=" + item.second);
    return reply;
}

void AddEvent(const TraceEvent& event, const std::string& indent, std::string* out)
{
    if (event.Kind == EventKind::Call || event.Kind == EventKind::Start) {
        *out += indent + "Launcher->>Engine: " + MermaidTraceText(event.Text) + "\n";
        *out += indent + "Engine-->>Launcher: " + MermaidTraceText(ReplyText(event)) + "\n";
    } else if (event.Kind == EventKind::Write) {
        *out += indent + "Launcher->>Editor: " + MermaidTraceText(event.Text) + "\n";
    } else if (event.Text == "stop" || event.Text == "the launcher ends") {
        *out += indent + "Note over Launcher: " + MermaidTraceText(event.Text) + "\n";
    }
}

} // namespace

std::string MermaidDiagram(const std::vector<RunView>& runs)
{
    size_t folded = 0, loops = 0;
    for (const RunView& run : runs)
        for (const Fold& fold : run.Folds) {
            folded += fold.Count() - fold.Period;
            ++loops;
        }
    std::string out = "sequenceDiagram\n";
    out += "    %% " + CountText(folded) + " calls folded into " + CountText(loops) +
           " loops: each loop shows its first turn\n";
    out += "    participant Editor as Editor (settings)\n    participant Launcher\n    participant Engine\n";
    for (size_t index = 0; index < runs.size(); ++index) {
        const RunView& run = runs[index];
        out += "    Note over Editor,Engine: run " + std::to_string(index + 1) + ", " + MermaidTraceText(run.Launcher) +
               "\n";
        size_t next = 0;
        for (const Fold& fold : run.Folds) {
            for (; next < fold.First; ++next)
                AddEvent(run.Events[next], "    ", &out);
            out += "    loop " +
                   MermaidText(DisplayText(FoldLabel(run.Events, fold)) + " \xC3\x97 " + CountText(fold.Repetitions)) +
                   "\n";
            for (size_t turn = fold.First; turn < fold.First + fold.Period; ++turn)
                AddEvent(run.Events[turn], "        ", &out);
            out += "    end\n";
            next = fold.First + fold.Count();
        }
        for (; next < run.Events.size(); ++next)
            AddEvent(run.Events[next], "    ", &out);
        if (run.HasReport) {
            std::string line = CompilerStyleLine(run.Report);
            line.pop_back();
            out += "    Note over Editor: error handed to the editor: " + MermaidText(line) + "\n";
        }
    }
    return out;
}

} // namespace traceview
