// Reading a session trace into the runs that `ovrun trace view` draws.
#include "trace_model.h"

#include <cstdlib>
#include <cstring>

#include "common/hex_digits.h"

namespace traceview {

using replay::StartsWith;

namespace {

const char kTimeMark[] = "  # ";
const char kRuntimeErrorKey[] = "*E*";

// "# [SECTION] KEY="VALUE"": a setting the launcher read before its first command.
bool ReadHeaderValue(const std::string& text, std::pair<std::string, std::string>* entry)
{
    if (!StartsWith(text, "# [")) return false;
    const size_t equals = text.find("=\"");
    if (equals == std::string::npos || text.find("] ") > equals) return false;
    size_t at = equals + 1;
    std::string value;
    if (!replay::Unquote(text, &at, &value) || at != text.size()) return false;
    *entry = {text.substr(2, equals - 2), value};
    return true;
}

// The reply items from text[at] on, up to the time, then the time:
// "key="RET" kind=0 text="O"  # 0.1 ms, sent "ENVI,123"".
void ReadReply(const std::string& text, size_t at, TraceEvent* event, std::string* sent)
{
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        if (text[at] == '#') break;
        size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '=')
            ++end;
        std::string name = text.substr(at, end - at), value;
        at = end;
        // A bare word ("none", "accept") is an item with a value and no name.
        if (at >= text.size() || text[at] != '=') {
            event->Reply.emplace_back("", std::move(name));
            continue;
        }
        ++at;
        if (at >= text.size() || text[at] != '"' || !replay::Unquote(text, &at, &value)) {
            end = text.find(' ', at);
            if (end == std::string::npos) end = text.size();
            value = text.substr(at, end - at);
            at = end;
        }
        if (name == "key") event->Key = value;
        event->Reply.emplace_back(std::move(name), std::move(value));
    }
    const size_t time = at >= 2 ? text.find(kTimeMark, at - 2) : std::string::npos;
    if (time == std::string::npos) return;
    const char* number = text.c_str() + time + std::strlen(kTimeMark);
    if (*number < '0' || *number > '9') return;
    char* after = nullptr;
    const double milliseconds = std::strtod(number, &after);
    if (after == number || std::strncmp(after, " ms", 3) != 0) return;
    event->Milliseconds = milliseconds;
    size_t quote = static_cast<size_t>(after - text.c_str()) + 3;
    if (text.compare(quote, 7, ", sent ") == 0) {
        quote += 7;
        replay::Unquote(text, &quote, sent);
    }
}

TraceEvent ReadEvent(const replay::TraceLine& line)
{
    const std::string& text = line.Text;
    TraceEvent event;
    event.Line = line.Number;
    size_t at = 0;
    std::string command;
    if (replay::Unquote(text, &at, &command)) {
        event.Kind = EventKind::Call;
        event.Owner = Lane::Engine;
        event.Text = command;
        if (at < text.size() && text[at] == '*') ++at;
        if (text.compare(at, 3, " =>") != 0) {
            event.Kind = EventKind::Unknown;
            event.Owner = Lane::Launcher;
            event.Text = text;
            return event;
        }
        event.Answered = at + 3 < text.size();
        std::string sent;
        ReadReply(text, at + 3, &event, &sent);
        if (!sent.empty()) event.Text = sent;
    } else if (StartsWith(text, "@start =>")) {
        event.Kind = EventKind::Start;
        event.Owner = Lane::Engine;
        event.Text = "start";
        event.Answered = text.size() > 9;
        std::string sent;
        ReadReply(text, 9, &event, &sent);
    } else if (StartsWith(text, "# write ") || StartsWith(text, "# delete ")) {
        event.Kind = EventKind::Write;
        event.Owner = Lane::Editor;
        event.Text = text.substr(2);
        const size_t end = text.rfind(": ");
        event.Failed = end != std::string::npos && text.compare(end, std::string::npos, ": failed") == 0;
    } else {
        event.Kind = StartsWith(text, "# ") ? EventKind::Note : EventKind::Unknown;
        event.Text = StartsWith(text, "# ") ? text.substr(2) : text;
    }
    return event;
}

// A write of the error report: "# write Orvane.ini [TEST] KEY="VALUE": done".
void TakeReportWrite(const replay::TraceLine& line, TraceEvent* event, RunView* run)
{
    const std::string prefix = std::string("# write ") + kSettingsFileName + " [" + kTestSection + "] ";
    if (!StartsWith(line.Text, prefix.c_str())) return;
    const size_t equals = line.Text.find('=', prefix.size());
    if (equals == std::string::npos) return;
    const std::string key = line.Text.substr(prefix.size(), equals - prefix.size());
    for (int index = 0; index < kReportKeyCount; ++index) {
        if (key != kReportKeys[index]) continue;
        size_t at = equals + 1;
        replay::Unquote(line.Text, &at, &run->Report.Values[index]);
        event->Handoff = true;
    }
}

void ReadRun(const replay::TraceRun& trace, RunView* run)
{
    const std::vector<replay::TraceLine>& lines = trace.Lines;
    size_t index = 0;
    if (index < lines.size() && StartsWith(lines[index].Text, kTraceHeaderStart))
        run->Launcher = lines[index++].Text.substr(2);
    if (index < lines.size() && StartsWith(lines[index].Text, kTraceDatePrefix))
        run->Date = lines[index++].Text.substr(std::strlen(kTraceDatePrefix));
    std::pair<std::string, std::string> entry;
    while (index < lines.size() && ReadHeaderValue(lines[index].Text, &entry)) {
        TraceEvent read;
        read.Kind = EventKind::Read;
        read.Owner = Lane::Editor;
        read.Line = lines[index++].Number;
        read.Text = "read " + entry.first + "=\"" + entry.second + "\"";
        run->Events.push_back(std::move(read));
        run->Header.push_back(std::move(entry));
    }
    if (index < lines.size() && lines[index].Text == kTraceHeaderEnd) ++index;
    bool afterError = false;
    for (; index < lines.size(); ++index) {
        if (lines[index].Text.empty()) continue;
        TraceEvent event = ReadEvent(lines[index]);
        if (event.Kind == EventKind::Call) {
            const std::string word = CommandWord(event.Text);
            event.Handoff = event.Key == kRuntimeErrorKey || (afterError && (word == "OUINON" || word == "DFTOCS"));
            afterError = afterError || event.Key == kRuntimeErrorKey;
        }
        if (event.Kind == EventKind::Write) TakeReportWrite(lines[index], &event, run);
        run->Events.push_back(std::move(event));
    }
    run->HasReport = IsRuntimeError(run->Report);
    run->Folds = FindFolds(run->Events);
    run->Problem = trace.Problem;
}

} // namespace

std::string CommandWord(const std::string& command) { return command.substr(0, command.find(',')); }

std::string DisplayText(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool unassigned = byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        if (byte < 32 || byte == 127 || unassigned) {
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        } else {
            out += Utf8FromWindows1252(std::string_view(&c, 1), false);
        }
    }
    return out;
}

std::vector<Fold> FindFolds(const std::vector<TraceEvent>& events)
{
    // Calls are alike when they send the same text and their screens end on
    // the same key; anything else between calls ends a loop.
    auto alike = [&](size_t a, size_t b) {
        const TraceEvent& x = events[a];
        const TraceEvent& y = events[b];
        return x.Kind == EventKind::Call && y.Kind == EventKind::Call && x.Answered && y.Answered && x.Text == y.Text &&
               x.Key == y.Key;
    };
    std::vector<Fold> folds;
    size_t first = 0;
    while (first < events.size()) {
        Fold best;
        for (size_t period = 1; period <= kLongestLoop && first + period <= events.size(); ++period) {
            size_t length = 0; // events after the first turn that repeat it
            while (first + period + length < events.size() && alike(first + length, first + period + length))
                ++length;
            const size_t repetitions = 1 + length / period;
            if (repetitions >= kFoldRepetitions && period * repetitions > best.Count())
                best = {first, period, repetitions};
        }
        if (best.Period == 0) {
            ++first;
            continue;
        }
        folds.push_back(best);
        first += best.Count();
    }
    return folds;
}

std::string FoldLabel(const std::vector<TraceEvent>& events, const Fold& fold)
{
    std::string label;
    for (size_t i = fold.First; i < fold.First + fold.Period; ++i)
        label += (label.empty() ? "" : " / ") + events[i].Text;
    return label;
}

std::string CountText(size_t count)
{
    std::string digits = std::to_string(count);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

bool ReadTraceView(const std::string& bytes, std::vector<RunView>* runs, std::string* error)
{
    const replay::TraceFile trace = replay::ReadTrace(bytes);
    if (!trace.Problem.empty()) {
        *error = trace.Problem;
        return false;
    }
    runs->clear();
    bool anyHeader = false;
    for (const replay::TraceRun& run : trace.Runs) {
        runs->emplace_back();
        ReadRun(run, &runs->back());
        anyHeader = anyHeader || !runs->back().Launcher.empty();
    }
    if (!anyHeader) {
        *error = "no run begins with the launcher's header (not a session trace)";
        return false;
    }
    return true;
}

} // namespace traceview
