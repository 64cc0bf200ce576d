// Reading a session trace for a replay: its runs, each run's header, and
// what in a run makes it useless as a test; and the trace's quoting.
#include "trace.h"

#include <cstdio>
#include <cstring>

namespace replay {

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

namespace {

const char kFailedWrite[] = ": failed";

std::string LineName(int number) { return "line " + std::to_string(number); }

// The start of a header line that records section/key, as the launcher writes it.
std::string SettingLinePrefix(const std::string& section, const std::string& key)
{
    char prefix[128];
    std::snprintf(prefix, sizeof prefix, kTraceSettingFormat, section.c_str(), key.c_str());
    return prefix;
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
    if (!StartsWith(first, kTraceHeaderStart)) {
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
    if (!StartsWith(lines[index].Text, kTraceDatePrefix)) return damaged(index, "the date of the run");
    ++index;

    auto readValue = [&](const std::string& section, const std::string& key, std::string* value) {
        if (index >= lines.size()) return cut(index) != 0;
        const std::string prefix = SettingLinePrefix(section, key);
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
        if (!readValue(kTestSection, kRequestKeys[key], &request.Values[key])) return 0;
    if (!readValue(kProductSection, kLanguageKey, &request.Language)) return 0;

    // Then the components that were set, and the end of the header. A trace
    // of a launcher that did not record them goes straight on to the run.
    int nextComponent = 0;
    for (;;) {
        if (index >= lines.size()) return cut(index);
        const std::string& text = lines[index].Text;
        if (text == kTraceHeaderEnd) return index + 1;
        std::string prefix = SettingLinePrefix(kComponentSection, "COMPOSANTE_");
        prefix.pop_back(); // the '=' follows the key's number
        const std::string sectionPrefix = prefix.substr(0, prefix.find(']') + 1);
        if (!StartsWith(text, sectionPrefix.c_str())) {
            if (index + 1 == lines.size()) return cut(index);
            run->Problem = "an older trace: its header does not list the installed components ([COMPOSANTE]) "
                           "that the start-up block depends on";
            return 0;
        }
        const int component = text.size() > prefix.size() ? text[prefix.size()] - '0' : -1;
        if (component < nextComponent || component >= kComponentKeyCount)
            return damaged(index, "the components in order, COMPOSANTE_0 to COMPOSANTE_9");
        if (!readValue(kComponentSection, "COMPOSANTE_" + std::to_string(component), &request.Components[component]))
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
        if (EndsWith(text, kTraceCutMark)) {
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
        if (run->Request.LibraryPath.empty() && QuotedAfter(text, kTraceLoadedPrefix, &path))
            run->Request.LibraryPath = path;
    }
    size_t last = lines.size();
    while (last > body && lines[last - 1].Text.empty())
        --last;
    if (last == body || lines[last - 1].Text != kTraceRunEnd) {
        run->Problem = "the recorded run never ended (its engine never returned, or the launcher was ended)";
        return;
    }
    if (run->Request.LibraryPath.empty() || Refusal(run->Request.LibraryPath) != "")
        run->Problem = "the recorded run names no engine library it loaded";
}

} // namespace

namespace {

// Calls line(number, text, length) for each line of bytes, numbered from 1,
// without its line end (LF or CRLF).
template <typename LineFunction> void ForEachLine(const std::string& bytes, LineFunction line)
{
    size_t start = 0;
    int number = 1;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) end = bytes.size();
        if (end > start && bytes[end - 1] == '\r') --end;
        line(number++, bytes.data() + start, end - start);
        start = next;
    }
}

} // namespace

std::vector<TraceLine> SplitLines(const std::string& bytes)
{
    std::vector<TraceLine> lines;
    ForEachLine(bytes, [&](int number, const char* text, size_t length) {
        lines.push_back({number, std::string(text, length)});
    });
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
    // Each line is copied once, into its run. A blank line after a run's
    // header says nothing (the events skip it, and a script keeps its place
    // by the numbers), so only the header's are kept: a trace of millions of
    // blank lines costs no more than its text. A header is a few dozen lines;
    // past kHeaderLinesRead without its end, the rest of the run cannot
    // change what the header is found to be, and is not kept either.
    constexpr size_t kHeaderLinesRead = 64;
    std::vector<TraceRun> runs(1);
    bool headerEnded = false;
    ForEachLine(bytes, [&](int number, const char* text, size_t length) {
        const size_t separator = sizeof kTraceRunSeparator - 1;
        // A run whose last line never got its end, followed by another run
        // appended by a launcher that did not begin it on a line of its own.
        const bool endsRun =
            length >= separator && std::memcmp(text + length - separator, kTraceRunSeparator, separator) == 0;
        const size_t kept = endsRun ? length - separator : length;
        std::vector<TraceLine>& lines = runs.back().Lines;
        if (!(endsRun && kept == 0) && (headerEnded ? kept != 0 : lines.size() < kHeaderLinesRead)) {
            lines.push_back({number, std::string(text, kept)});
            if (lines.back().Text == kTraceHeaderEnd) headerEnded = true;
        }
        if (endsRun) {
            runs.emplace_back();
            headerEnded = false;
        }
    });
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
    std::string out = "\"";
    for (unsigned char byte : bytes) {
        char escaped[4];
        out.append(escaped, EscapeTraceByte(byte, escaped));
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
        char byte = 0;
        if (!ReadTraceEscape(line.data(), line.size(), &i, &byte)) return false;
        out += byte;
    }
    return false;
}

} // namespace replay
