// Reading a session trace for a replay, moving it into a scratch folder, and
// comparing a replay with it.
#include "replay_trace.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace replay {

const char* const kRequestKeys[kRequestKeyCount] = {"LIGNEDECOMMANDE", "COMMANDE", "REPEXE",
                                                    "REPCOURANT",      "PARAM1",   "PARAM2"};

namespace {

const char kRunSeparator[] = "# ======== the next run ========";
const char kHeaderStart[] = "# OVTST552 ";
const char kDatePrefix[] = "# run of ";
const char kHeaderEnd[] = "# end of the settings read";
const char kRunEnd[] = "# the launcher ends";
const char kLoadedPrefix[] = "# loaded ";
const char kCutMark[] = " [cut]";
const char kFailedWrite[] = ": failed";

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::string LineName(int number) { return "line " + std::to_string(number); }

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "# PREFIX" followed by one quoted value and nothing else.
bool QuotedAfter(const std::string& line, const std::string& prefix, std::string* value)
{
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    size_t at = prefix.size();
    return at < line.size() && line[at] == '"' && Unquote(line, &at, value) && at == line.size();
}

// Why a header value cannot go into a settings file as it stands, or empty.
// A value read from a settings file never holds a line break, a control
// byte, blanks at its ends or the quotes around it: one that does was made
// by hand, and could change the rebuilt file's structure.
std::string Refusal(const std::string& value)
{
    for (unsigned char c : value) {
        if (c == '\r' || c == '\n') return "holds a line break";
        if (c == 0) return "holds a NUL";
        if ((c < 32 && c != '\t') || c == 127) return "holds a control byte";
    }
    if (!value.empty() &&
        (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' || value.back() == '\t'))
        return "begins or ends with a blank, which a settings file does not keep";
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return "is in double quotes, which a settings file takes off";
    return "";
}

// Reads the header at the start of run->Lines into run->Request; returns
// the index of the first line after it, or 0 with run->Problem set.
size_t ReadHeader(TraceRun* run)
{
    const std::vector<TraceLine>& lines = run->Lines;
    TraceRequest& request = run->Request;
    auto cut = [&](size_t index) {
        run->Problem = "cut before its header ended (" +
                       (index < lines.size() ? LineName(lines[index].Number) : std::string("at the end")) + ")";
        return size_t(0);
    };
    // A line that is not what the header holds next: the last line of a run
    // cut short, or a damaged one.
    auto damaged = [&](size_t index, const std::string& expected) {
        if (index + 1 == lines.size()) return cut(index);
        run->Problem = LineName(lines[index].Number) + ": the header is damaged (expected " + expected + ")";
        return size_t(0);
    };
    if (lines.empty()) return cut(0);
    const std::string& first = lines[0].Text;
    if (!StartsWith(first, kHeaderStart)) {
        run->Problem = LineName(lines[0].Number) + ": no header of the launcher (not a session trace)";
        return 0;
    }
    if (first.find(", Windows ") != std::string::npos)
        request.Separator = '\\';
    else if (first.find(", Linux ") != std::string::npos)
        request.Separator = '/';
    else
        return damaged(0, "the target, Linux or Windows");
    size_t index = 1;
    if (index >= lines.size()) return cut(index);
    if (!StartsWith(lines[index].Text, kDatePrefix)) return damaged(index, "the date of the run");
    ++index;

    auto readValue = [&](const std::string& section, const std::string& key, std::string* value) {
        if (index >= lines.size()) return cut(index) != 0;
        const std::string prefix = "# [" + section + "] " + key + "=";
        if (!QuotedAfter(lines[index].Text, prefix, value)) return damaged(index, prefix + "\"...\"") != 0;
        const std::string refusal = Refusal(*value);
        if (!refusal.empty()) {
            run->Problem =
                LineName(lines[index].Number) + ": the header's [" + section + "] " + key + " " + refusal + ": refused";
            return false;
        }
        ++index;
        return true;
    };
    for (int key = 0; key < kRequestKeyCount; ++key)
        if (!readValue("TEST", kRequestKeys[key], &request.Values[key])) return 0;
    if (!readValue("Orvane55", "LANGUAGE", &request.Language)) return 0;

    // Then the components that were set, and the end of the header. A trace
    // of a launcher that did not record them goes straight on to the run.
    int nextComponent = 0;
    for (;;) {
        if (index >= lines.size()) return cut(index);
        const std::string& text = lines[index].Text;
        if (text == kHeaderEnd) return index + 1;
        const std::string prefix = "# [COMPOSANTE] COMPOSANTE_";
        if (!StartsWith(text, "# [COMPOSANTE]")) {
            if (index + 1 == lines.size()) return cut(index);
            run->Problem = "an older trace: its header does not list the installed components ([COMPOSANTE]) "
                           "that the start-up block depends on";
            return 0;
        }
        const int component = text.size() > prefix.size() ? text[prefix.size()] - '0' : -1;
        if (component < nextComponent || component >= kComponentKeyCount)
            return damaged(index, "the components in order, COMPOSANTE_0 to COMPOSANTE_9");
        if (!readValue("COMPOSANTE", "COMPOSANTE_" + std::to_string(component), &request.Components[component]))
            return 0;
        nextComponent = component + 1;
    }
}

// What in the run after its header makes it useless as a test.
void CheckBody(TraceRun* run, size_t body)
{
    const std::vector<TraceLine>& lines = run->Lines;
    for (size_t i = body; i < lines.size(); ++i) {
        const std::string& text = lines[i].Text;
        const std::string where = LineName(lines[i].Number);
        if (EndsWith(text, kCutMark)) {
            run->Problem = where + " was cut when it was recorded";
            return;
        }
        if ((StartsWith(text, "# write ") || StartsWith(text, "# delete ")) && EndsWith(text, kFailedWrite)) {
            run->Problem = where + ": a settings write failed in the recorded run";
            return;
        }
        if ((StartsWith(text, "# ") && EndsWith(text, " could not be loaded")) ||
            (StartsWith(text, "# entry point ") && EndsWith(text, " missing"))) {
            run->Problem = where + ": the engine library did not load in the recorded run";
            return;
        }
        std::string path;
        if (run->Request.LibraryPath.empty() && QuotedAfter(text, kLoadedPrefix, &path))
            run->Request.LibraryPath = path;
    }
    size_t last = lines.size();
    while (last > body && lines[last - 1].Text.empty())
        --last;
    if (last == body || lines[last - 1].Text != kRunEnd) {
        run->Problem = "the recorded run never ended (its engine never returned, or the launcher was ended)";
        return;
    }
    if (run->Request.LibraryPath.empty() || Refusal(run->Request.LibraryPath) != "")
        run->Problem = "the recorded run names no engine library it loaded";
}

bool IsSeparator(char c, const Relocation& relocation) { return c == '/' || c == relocation.FromSeparator; }

// A byte that may stand inside a path name: a directory found right after
// one is part of a longer name, not a directory of its own.
bool IsPathByte(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) || byte >= 0x80 || std::strchr("._-~/\\:", c) != nullptr;
}

std::string WithoutTrailingSeparators(std::string path, char separator)
{
    while (!path.empty() && (path.back() == separator || path.back() == '/'))
        path.pop_back();
    return path;
}

bool EndsWithSeparator(const std::string& path, char separator)
{
    return !path.empty() && (path.back() == separator || path.back() == '/');
}

// The events of a run that a replay must repeat: everything after its header
// but blank lines, with what differs from run to run masked.
std::vector<TraceLine> Events(const std::vector<TraceLine>& lines)
{
    std::vector<TraceLine> events;
    bool inHeader = !lines.empty() && StartsWith(lines[0].Text, kHeaderStart);
    for (const TraceLine& line : lines) {
        if (inHeader) {
            if (line.Text == kHeaderEnd) inHeader = false;
            continue;
        }
        if (line.Text.empty()) continue;
        std::string text = line.Text;
        if (StartsWith(text, kLoadedPrefix)) text = "# loaded <path>";
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

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
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

// A value as a read gives it back: blanks at its ends and one pair of quotes
// around it dropped.
std::string AsRead(const std::string& value)
{
    std::string text = Trimmed(value);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return text;
}

// The value of key in the first section of that name, as a read gives it;
// false when there is none. Enough for the files a replay leaves: the
// launcher's own writes to a file that ovrun wrote.
bool SettingValue(const std::string& bytes, const std::string& section, const std::string& key, std::string* value)
{
    bool inSection = false, sectionSeen = false;
    for (const TraceLine& line : SplitLines(bytes)) {
        const std::string text = Trimmed(line.Text);
        if (!text.empty() && text[0] == '[') {
            if (inSection) return false;
            const size_t close = text.find(']');
            inSection =
                !sectionSeen && close != std::string::npos && SameName(Trimmed(text.substr(1, close - 1)), section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        const size_t equals = text.find('=');
        if (!inSection || equals == std::string::npos || !SameName(Trimmed(text.substr(0, equals)), key)) continue;
        *value = AsRead(text.substr(equals + 1));
        return true;
    }
    return false;
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

std::vector<TraceLine> SplitLines(const std::string& bytes)
{
    std::vector<TraceLine> lines;
    size_t start = 0;
    int number = 1;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) end = bytes.size();
        if (end > start && bytes[end - 1] == '\r') --end;
        lines.push_back({number++, bytes.substr(start, end - start)});
        start = next;
    }
    return lines;
}

TraceFile ReadTrace(const std::string& bytes)
{
    TraceFile file;
    if (bytes.size() > kLargestTrace) {
        file.Problem = "larger than " + std::to_string(kLargestTrace >> 20) + " MiB";
        return file;
    }
    if (bytes.find('\0') != std::string::npos) {
        file.Problem = "holds NUL bytes: not a text file";
        return file;
    }
    std::vector<TraceRun> runs(1);
    for (TraceLine& line : SplitLines(bytes)) {
        if (line.Text == kRunSeparator) {
            runs.emplace_back();
            continue;
        }
        // A run whose last line never got its end, followed by another run
        // appended by a launcher that did not begin it on a line of its own.
        if (EndsWith(line.Text, kRunSeparator)) {
            line.Text.resize(line.Text.size() - (sizeof kRunSeparator - 1));
            runs.back().Lines.push_back(line);
            runs.emplace_back();
            continue;
        }
        runs.back().Lines.push_back(std::move(line));
    }
    for (TraceRun& run : runs) {
        const size_t body = ReadHeader(&run);
        if (body != 0) CheckBody(&run, body);
    }
    if (runs.size() == 1 && runs[0].Lines.empty()) {
        file.Problem = "empty";
        return file;
    }
    file.Runs = std::move(runs);
    return file;
}

std::string Quote(const std::string& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char byte : bytes) {
        if (byte < 32 || byte >= 127) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            if (byte == '"' || byte == '\\' || byte == '$') out += '\\';
            out += static_cast<char>(byte);
        }
    }
    return out + "\"";
}

bool Unquote(const std::string& line, size_t* at, std::string* text)
{
    if (*at >= line.size() || line[*at] != '"') return false;
    std::string out;
    size_t i = *at + 1;
    while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
            *text = std::move(out);
            *at = i;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= line.size()) return false;
        const char escape = line[i++];
        if (escape == 'x') {
            // One or two hex digits, as the stand-in reads them.
            int value = i < line.size() ? HexDigit(line[i]) : -1;
            if (value < 0) return false;
            ++i;
            if (i < line.size() && HexDigit(line[i]) >= 0) value = value * 16 + HexDigit(line[i++]);
            out += static_cast<char>(value);
            continue;
        }
        // Each named escape, then its byte ("0" is followed by the array's NUL).
        static const char kNamed[] = "n\nr\rt\t0";
        const char* named = escape != '\0' ? std::strchr(kNamed, escape) : nullptr;
        out += named != nullptr && (named - kNamed) % 2 == 0 ? named[1] : escape;
    }
    return false;
}

Relocation MakeRelocation(const TraceRequest& request, const ReplayFolders& folders)
{
    Relocation relocation;
    relocation.FromSeparator = request.Separator;
    relocation.ToSeparator = folders.Separator;
    const std::string& library = request.LibraryPath;
    const size_t slash = library.find_last_of(request.Separator == '\\' ? "\\/" : "/");
    const std::string programs =
        slash == std::string::npos ? "" : WithoutTrailingSeparators(library.substr(0, slash), request.Separator);
    const std::string test = WithoutTrailingSeparators(request.Values[kCurrentDirectory], request.Separator);
    const std::string exe = WithoutTrailingSeparators(request.Values[kExecutableDirectory], request.Separator);
    auto add = [&](const std::string& from, const std::string& to) {
        if (from.empty()) return;
        for (const auto& entry : relocation.Directories)
            if (entry.first == from) return;
        relocation.Directories.emplace_back(from, to);
    };
    add(programs, folders.Programs);
    add(test, folders.Test);
    add(exe, folders.Exe);
    std::stable_sort(relocation.Directories.begin(), relocation.Directories.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    return relocation;
}

std::string RelocateText(const std::string& text, const Relocation& relocation)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        bool moved = false;
        if (i == 0 || !IsPathByte(text[i - 1])) {
            for (const auto& entry : relocation.Directories) {
                const std::string& from = entry.first;
                if (text.compare(i, from.size(), from) != 0) continue;
                const size_t after = i + from.size();
                if (after < text.size() && !IsSeparator(text[after], relocation)) continue;
                out += entry.second;
                i = after;
                if (i < text.size()) {
                    out += relocation.ToSeparator;
                    ++i;
                }
                moved = true;
                break;
            }
        }
        if (!moved) out += text[i++];
    }
    return out;
}

std::string RelocateLine(const std::string& line, const Relocation& relocation)
{
    std::string out;
    size_t i = 0;
    while (i < line.size()) {
        std::string text;
        size_t after = i;
        if (line[i] == '"' && Unquote(line, &after, &text)) {
            // set[N]="..." gives the record's bytes as they are.
            const bool raw = out.size() >= 2 && out.compare(out.size() - 2, 2, "]=") == 0;
            out += raw ? line.substr(i, after - i) : Quote(RelocateText(text, relocation));
            i = after;
        } else {
            out += line[i++];
        }
    }
    return out;
}

std::string RebuiltSettings(const TraceRequest& request, const ReplayFolders& folders, const Relocation& relocation,
                            const std::string& tracePath)
{
    std::string values[kRequestKeyCount];
    for (int key = 0; key < kRequestKeyCount; ++key)
        values[key] = request.Values[key];
    values[kCommandLine] = RelocateText(values[kCommandLine], relocation);
    // The directories become the scratch folder's, whatever they were, and
    // keep a trailing separator where they had one.
    auto moved = [&](int key, const std::string& root) {
        const std::string& recorded = request.Values[key];
        if (recorded.empty()) return recorded;
        const std::string bare = WithoutTrailingSeparators(recorded, request.Separator);
        std::string directory = bare.empty() ? root : RelocateText(bare, relocation);
        if (EndsWithSeparator(recorded, request.Separator)) directory += folders.Separator;
        return directory;
    };
    values[kExecutableDirectory] = moved(kExecutableDirectory, folders.Exe);
    values[kCurrentDirectory] = moved(kCurrentDirectory, folders.Test);
    std::string file = "[TEST]\r\n";
    for (int key = 0; key < kRequestKeyCount; ++key)
        file += std::string(kRequestKeys[key]) + "=" + values[key] + "\r\n";
    if (!request.Language.empty()) file += "[Orvane55]\r\nLANGUAGE=" + request.Language + "\r\n";
    bool componentSection = false;
    for (int component = 0; component < kComponentKeyCount; ++component) {
        if (request.Components[component].empty()) continue;
        if (!componentSection) file += "[COMPOSANTE]\r\n";
        componentSection = true;
        file += "COMPOSANTE_" + std::to_string(component) + "=" + request.Components[component] + "\r\n";
    }
    return file + "[OVTST552]\r\nTRACE=" + tracePath + "\r\n";
}

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

Divergence CheckSettings(const std::vector<TraceLine>& recorded, const std::string& settingsFile,
                         const std::string& winIni)
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
        const std::string& bytes = SameName(write.File, "WIN.INI") ? winIni : settingsFile;
        std::string value;
        const bool found = SettingValue(bytes, write.Section, write.Key, &value);
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
