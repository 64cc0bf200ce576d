// Comparing a replay with the recorded run: its events, and the settings
// the replay left.
#include "comparison.h"

#include <algorithm>
#include <cctype>

namespace replay {

namespace {

// The events of a run that a replay must repeat: everything after its header
// but blank lines, with what differs from run to run masked.
std::vector<TraceLine> Events(const std::vector<TraceLine>& lines)
{
    std::vector<TraceLine> events;
    bool inHeader = !lines.empty() && StartsWith(lines[0].Text, kTraceHeaderStart);
    for (const TraceLine& line : lines) {
        if (inHeader) {
            if (line.Text == kTraceHeaderEnd) inHeader = false;
            continue;
        }
        if (line.Text.empty()) continue;
        std::string text = line.Text;
        if (StartsWith(text, kTraceLoadedPrefix)) text = "# loaded <path>";
        const size_t sent = text.find(", sent \"ENVI,");
        if (sent != std::string::npos) text = text.substr(0, sent) + ", sent \"ENVI,<address>\"";
        // "  # 12.3 ms" after a reply or a start goes, and ", " after it.
        const size_t time = text.find("  # ");
        if (time != std::string::npos) {
            size_t at = time + 4;
            while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '.'))
                ++at;
            if (at > time + 4 && text.compare(at, 3, " ms") == 0) {
                at += 3;
                if (text.compare(at, 2, ", ") == 0) at += 2;
                text.erase(at == text.size() ? time : time + 4, at - time - (at == text.size() ? 0 : 4));
            }
        }
        events.push_back({line.Number, text});
    }
    return events;
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

// A value written as a read gives it back: blanks at its ends and one pair
// of quotes around it dropped.
std::string AsRead(const std::string& value)
{
    std::string text = Trimmed(value);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return text;
}

struct RecordedWrite {
    int Line = 0;
    std::string File;
    std::string Section;
    std::string Key;
    bool Deleted = false;
    std::string Value;
};

// "# write FILE [SECTION] KEY="VALUE": done" and "# delete FILE [SECTION] KEY: done".
bool ParseWrite(const TraceLine& line, RecordedWrite* write)
{
    const std::string& text = line.Text;
    write->Deleted = StartsWith(text, "# delete ");
    if (!write->Deleted && !StartsWith(text, "# write ")) return false;
    if (!EndsWith(text, ": done")) return false;
    size_t at = write->Deleted ? 9 : 8;
    const size_t open = text.find(" [", at);
    if (open == std::string::npos) return false;
    write->File = text.substr(at, open - at);
    const size_t close = text.find("] ", open);
    if (close == std::string::npos) return false;
    write->Section = text.substr(open + 2, close - open - 2);
    at = close + 2;
    const size_t end = text.size() - 6;
    if (write->Deleted) {
        write->Key = text.substr(at, end - at);
    } else {
        const size_t equals = text.find("=\"", at);
        if (equals == std::string::npos || equals > end) return false;
        write->Key = text.substr(at, equals - at);
        size_t quote = equals + 1;
        if (!Unquote(text, &quote, &write->Value) || quote != end) return false;
    }
    write->Line = line.Number;
    return !write->Key.empty();
}

} // namespace

std::vector<TraceLine> ComparedEvents(const std::vector<TraceLine>& lines) { return Events(lines); }

Divergence CompareRuns(const std::vector<TraceLine>& recorded, const std::vector<TraceLine>& replayed,
                       const std::string& replayEnd)
{
    const std::vector<TraceLine> expected = Events(recorded);
    const std::vector<TraceLine> got = Events(replayed);
    Divergence divergence;
    const size_t common = std::min(expected.size(), got.size());
    for (size_t i = 0; i < common; ++i) {
        if (expected[i].Text == got[i].Text) continue;
        divergence = {true, expected[i].Number, expected[i].Text, got[i].Text};
        return divergence;
    }
    if (expected.size() > common)
        divergence = {true, expected[common].Number, expected[common].Text,
                      "nothing: the replay ended (" + replayEnd + ")"};
    else if (got.size() > common)
        divergence = {true, recorded.empty() ? 0 : recorded.back().Number, "the end of the run", got[common].Text};
    return divergence;
}

Divergence CheckSettings(const std::vector<TraceLine>& recorded, const std::string& settingsPath,
                         const std::string& winIniPath, const SettingReader& read)
{
    // The last write of each key is what the file must hold.
    std::vector<RecordedWrite> last;
    for (const TraceLine& line : recorded) {
        RecordedWrite write;
        if (!ParseWrite(line, &write)) continue;
        auto same = [&](const RecordedWrite& other) {
            return SameName(other.File, write.File) && SameName(other.Section, write.Section) &&
                   SameName(other.Key, write.Key);
        };
        last.erase(std::remove_if(last.begin(), last.end(), same), last.end());
        last.push_back(write);
    }
    std::sort(last.begin(), last.end(), [](const auto& a, const auto& b) { return a.Line < b.Line; });
    Divergence divergence;
    for (const RecordedWrite& write : last) {
        const std::string& path = SameName(write.File, "WIN.INI") ? winIniPath : settingsPath;
        std::string value;
        const bool found = read(path, write.Section, write.Key, &value);
        const std::string place = write.File + " [" + write.Section + "] " + write.Key;
        const std::string expected = write.Deleted ? place + " absent" : place + "=" + Quote(AsRead(write.Value));
        if (write.Deleted ? !found : found && value == AsRead(write.Value)) continue;
        const std::string got = found ? place + "=" + Quote(value) : place + " absent";
        divergence = {true, write.Line, "the settings to hold " + expected, got};
        return divergence;
    }
    return divergence;
}

} // namespace replay
