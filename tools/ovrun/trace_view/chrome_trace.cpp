// Chrome's Trace Event JSON of a trace's runs.
#include "exports.h"

#include <cmath>

#include "json_text.h"

namespace traceview {

namespace {

constexpr int kEngineThread = 1;
constexpr int kSettingsThread = 2;

std::string Microseconds(double milliseconds) { return std::to_string(std::llround(milliseconds * 1000)); }

std::string ReplyArguments(const TraceEvent& event)
{
    std::string reply;
    for (const auto& item : event.Reply)
        reply += (reply.empty() ? "" : " ") + (item.first.empty() ? item.second : item.first + "=" + item.second);
    std::string out = "{\"line\":" + std::to_string(event.Line) + ",\"command\":" + JsonTraceText(event.Text) +
                      ",\"reply\":" + JsonTraceText(event.Answered ? reply : "none: the engine never returned");
    if (!event.Key.empty()) out += ",\"key\":" + JsonTraceText(event.Key);
    return out + "}";
}

std::string Metadata(const char* what, int pid, int tid, const std::string& name)
{
    return "{\"ph\":\"M\",\"name\":\"" + std::string(what) + "\",\"pid\":" + std::to_string(pid) +
           ",\"tid\":" + std::to_string(tid) + ",\"args\":{\"name\":" + name + "}}";
}

} // namespace

std::string ChromeTraceJson(const std::vector<RunView>& runs)
{
    std::vector<std::string> events;
    for (size_t index = 0; index < runs.size(); ++index) {
        const RunView& run = runs[index];
        const int pid = static_cast<int>(index + 1);
        const std::string common = ",\"pid\":" + std::to_string(pid) + ",\"tid\":";
        events.push_back(Metadata("process_name", pid, 0,
                                  JsonTraceText("run " + std::to_string(pid) + ": " + run.Launcher + " " + run.Date)));
        events.push_back(Metadata("thread_name", pid, kEngineThread, "\"Launcher to engine\""));
        events.push_back(Metadata("thread_name", pid, kSettingsThread, "\"Editor (settings)\""));
        double clock = 0; // milliseconds
        for (const TraceEvent& event : run.Events) {
            const std::string ts = ",\"ts\":" + Microseconds(clock);
            if (event.Kind == EventKind::Call || event.Kind == EventKind::Start) {
                const double duration = event.Milliseconds > 0 ? event.Milliseconds : 0;
                events.push_back("{\"ph\":\"X\",\"name\":" + JsonTraceText(CommandWord(event.Text)) +
                                 ",\"cat\":\"engine\"" + ts + ",\"dur\":" + Microseconds(duration) + common +
                                 std::to_string(kEngineThread) + ",\"args\":" + ReplyArguments(event) + "}");
                clock += duration;
            } else if (event.Kind == EventKind::Write) {
                events.push_back("{\"ph\":\"i\",\"s\":\"t\",\"name\":" + JsonTraceText(event.Text) +
                                 ",\"cat\":\"settings\"" + ts + common + std::to_string(kSettingsThread) +
                                 ",\"args\":{\"line\":" + std::to_string(event.Line) + "}}");
            }
        }
        if (run.HasReport) {
            std::string line = CompilerStyleLine(run.Report);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            events.push_back("{\"ph\":\"i\",\"s\":\"p\",\"name\":\"error handoff\",\"cat\":\"handoff\",\"ts\":" +
                             Microseconds(clock) + common + std::to_string(kSettingsThread) +
                             ",\"args\":{\"report\":" + JsonString(line) + "}}");
        }
    }
    std::string out = "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[";
    for (size_t index = 0; index < events.size(); ++index)
        out += (index > 0 ? ",\n" : "\n") + events[index];
    return out + "\n]}\n";
}

} // namespace traceview
