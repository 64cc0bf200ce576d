// The page of a replay run.
#include "replay_page.h"

#include <algorithm>
#include <cstdio>

#include "file_bytes.h"
#include "json_text.h"
#include "page_data.h"

namespace traceview {

namespace {

// The report's wording: "not replayable: ..." or "run 2: not replayable: ...".
bool NotReplayable(const std::string& message)
{
    static const std::string kWords = "not replayable: ";
    const size_t run = message.compare(0, 4, "run ") == 0 ? message.find(": ") : std::string::npos;
    const size_t at = run == std::string::npos ? 0 : run + 2;
    return message.compare(at, kWords.size(), kWords) == 0;
}

const char* Status(const ReplayedTrace& trace)
{
    if (!trace.Ran) return "not run";
    if (trace.Passed) return "passed";
    return NotReplayable(trace.Message) ? "not replayable" : "failed";
}

// The text of the line numbered number, from a run's lines.
const std::string& LineText(const std::vector<replay::TraceLine>& lines, int number)
{
    static const std::string kNone;
    if (lines.empty() || number < lines.front().Number) return kNone;
    const size_t index = static_cast<size_t>(number - lines.front().Number);
    return index < lines.size() ? lines[index].Text : kNone;
}

// Both runs' events in pairs, as recorded (not masked), up to the first
// difference and a few after it: [recorded line, text, replayed line, text].
std::string PairsJson(const ReplayedRun& run, size_t* diverged)
{
    const std::vector<replay::TraceLine> recorded = replay::ComparedEvents(run.Recorded);
    const std::vector<replay::TraceLine> replayed = replay::ComparedEvents(run.Replayed);
    const size_t common = std::min(recorded.size(), replayed.size());
    size_t first = 0;
    while (first < common && recorded[first].Text == replayed[first].Text)
        ++first;
    *diverged = first;
    const size_t end = std::min(first + 1 + kContextAfterDifference, std::max(recorded.size(), replayed.size()));
    std::string out = "[";
    auto side = [&](const std::vector<replay::TraceLine>& events, const std::vector<replay::TraceLine>& lines, size_t k,
                    const std::string& missing) {
        if (k >= events.size()) return "0," + JsonTraceText(k == first ? missing : "");
        return std::to_string(events[k].Number) + "," + JsonTraceText(LineText(lines, events[k].Number));
    };
    for (size_t k = 0; k < end; ++k)
        out += std::string(k > 0 ? ",\n[" : "[") + side(recorded, run.Recorded, k, run.Difference.Expected) + "," +
               side(replayed, run.Replayed, k, run.Difference.Got) + "]";
    return out + "]";
}

std::string RunJson(const ReplayedRun& run)
{
    std::string out = "{\"run\":" + std::to_string(run.Number) + ",\"moved\":[";
    for (size_t index = 0; index < run.Moved.Directories.size(); ++index) {
        const auto& moved = run.Moved.Directories[index];
        out +=
            std::string(index > 0 ? ",[" : "[") + JsonTraceText(moved.first) + "," + JsonTraceText(moved.second) + "]";
    }
    out += "]";
    if (run.Difference.Found) {
        out += ",\"divergence\":{\"line\":" + std::to_string(run.Difference.Line) +
               ",\"expected\":" + JsonTraceText(run.Difference.Expected) +
               ",\"got\":" + JsonTraceText(run.Difference.Got) + "}";
        if (run.Aligned) {
            size_t diverged = 0;
            const std::string pairs = PairsJson(run, &diverged);
            out += ",\"pairs\":" + pairs + ",\"diverged\":" + std::to_string(diverged);
        }
    }
    return out + "}";
}

// The trace's own runs, when it can still be read.
std::string ViewJson(const std::string& path)
{
    std::string bytes, error;
    std::vector<RunView> runs;
    if (!ReadFileBytes(path, &bytes, replay::kLargestTrace) || !ReadTraceView(bytes, &runs, &error)) return "null";
    return RunsJson(runs);
}

} // namespace

std::string ReplayPage(const std::vector<ReplayedTrace>& traces)
{
    size_t passed = 0, failed = 0, refused = 0, notRun = 0;
    std::string list;
    for (const ReplayedTrace& trace : traces) {
        const std::string status = Status(trace);
        passed += status == "passed";
        failed += status == "failed";
        refused += status == "not replayable";
        notRun += status == "not run";
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", trace.Seconds);
        std::string runs;
        for (const ReplayedRun& run : trace.Runs)
            runs += (runs.empty() ? "" : ",\n") + RunJson(run);
        list += std::string(list.empty() ? "\n" : ",\n") + "{\"name\":" + JsonTraceText(trace.Name) + ",\"status\":\"" +
                status + "\",\"reason\":" + JsonTraceText(trace.Message) + ",\"seconds\":" + seconds + ",\"runs\":[" +
                runs + "],\"view\":" + ViewJson(trace.Name) + "}";
    }
    const std::string counts = "{\"passed\":" + std::to_string(passed) + ",\"failed\":" + std::to_string(failed) +
                               ",\"refused\":" + std::to_string(refused) + ",\"notRun\":" + std::to_string(notRun) +
                               "}";
    return PageHtml("Replay", "{\"page\":\"replay\",\"counts\":" + counts + ",\"traces\":[" + list + "]}");
}

} // namespace traceview
