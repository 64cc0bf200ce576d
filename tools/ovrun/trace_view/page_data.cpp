// The runs of a trace as a page's JSON data, and the page around it.
#include "page_data.h"

#include "json_text.h"
#include "page_assets.h"
#include "replay_report.h"

namespace traceview {

namespace {

const char* KindName(EventKind kind)
{
    switch (kind) {
    case EventKind::Start:
        return "start";
    case EventKind::Call:
        return "call";
    case EventKind::Read:
        return "read";
    case EventKind::Write:
        return "write";
    case EventKind::Note:
        return "note";
    case EventKind::Unknown:
        break;
    }
    return "other";
}

const char* LaneName(Lane lane)
{
    switch (lane) {
    case Lane::Editor:
        return "editor";
    case Lane::Launcher:
        return "launcher";
    case Lane::Engine:
        break;
    }
    return "engine";
}

std::string PairsJson(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string out = "[";
    for (const auto& pair : pairs)
        out += (out.size() > 1 ? ",[" : "[") + JsonTraceText(pair.first) + "," + JsonTraceText(pair.second) + "]";
    return out + "]";
}

std::string EventJson(const TraceEvent& event)
{
    std::string out = "{\"n\":" + std::to_string(event.Line) + ",\"kind\":\"" + KindName(event.Kind) +
                      "\",\"lane\":\"" + LaneName(event.Owner) + "\",\"text\":" + JsonTraceText(event.Text);
    if (!event.Reply.empty()) out += ",\"reply\":" + PairsJson(event.Reply);
    if (!event.Key.empty()) out += ",\"key\":" + JsonTraceText(event.Key);
    if (event.Milliseconds >= 0) out += ",\"ms\":" + JsonNumber(event.Milliseconds);
    if (!event.Answered) out += ",\"unanswered\":true";
    if (event.Failed) out += ",\"failed\":true";
    if (event.Handoff) out += ",\"handoff\":true";
    return out + "}";
}

// The report as the editor reads it: each key decoded as ovrun prints it.
std::string HandoffJson(const ErrorReport& report)
{
    std::string keys = "[";
    for (int index = 0; index < kReportKeyCount; ++index)
        keys += std::string(index > 0 ? "," : "") + "[" + JsonString(kReportKeys[index]) + "," +
                JsonString(Utf8FromWindows1252(report.Values[index], index == kMessage)) + "]";
    std::string line = CompilerStyleLine(report);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return "{\"line\":" + JsonString(line) + ",\"keys\":" + keys + "]}";
}

std::string RunJson(const RunView& run)
{
    std::string out = "{\"launcher\":" + JsonTraceText(run.Launcher) + ",\"date\":" + JsonTraceText(run.Date) +
                      ",\"problem\":" + JsonTraceText(run.Problem) + ",\"header\":" + PairsJson(run.Header);
    if (run.HasReport) out += ",\"report\":" + HandoffJson(run.Report);
    out += ",\"folds\":[";
    for (size_t index = 0; index < run.Folds.size(); ++index) {
        const Fold& fold = run.Folds[index];
        out += std::string(index > 0 ? "," : "") + "[" + std::to_string(fold.First) + "," +
               std::to_string(fold.Period) + "," + std::to_string(fold.Repetitions) + "," +
               JsonTraceText(FoldLabel(run.Events, fold)) + "]";
    }
    out += "],\"events\":[";
    for (size_t index = 0; index < run.Events.size(); ++index)
        out += (index > 0 ? ",\n" : "\n") + EventJson(run.Events[index]);
    return out + "]}";
}

} // namespace

std::string RunsJson(const std::vector<RunView>& runs)
{
    std::string out = "[";
    for (size_t index = 0; index < runs.size(); ++index)
        out += (index > 0 ? ",\n" : "") + RunJson(runs[index]);
    return out + "]";
}

std::string PageHtml(const std::string& title, const std::string& dataJson)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
           "script-src 'unsafe-inline'; base-uri 'none'; form-action 'none'\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           replay::MarkupText(title) + "</title>\n<style>\n" + kPageStyle +
           "</style>\n</head>\n<body>\n<noscript>This page draws its content with a script: allow it to "
           "run.</noscript>\n"
           "<main id=\"page\"></main>\n<script type=\"application/json\" id=\"ov-data\">" +
           dataJson + "</script>\n<script>\n" + kPageScript + "</script>\n</body>\n</html>\n";
}

std::string TracePage(const std::string& name, const std::vector<RunView>& runs)
{
    return PageHtml("Session trace " + DisplayText(name),
                    "{\"page\":\"trace\",\"name\":" + JsonTraceText(name) + ",\"runs\":" + RunsJson(runs) + "}");
}

} // namespace traceview
