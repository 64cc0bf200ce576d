// The replay's report: the console's lines, GitHub's annotations and JUnit.
#include "replay_report.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace replay {

namespace {

// The length of the valid UTF-8 character at text[at], or 0: no overlong
// form, no surrogate, nothing above U+10FFFF, and none of the characters
// XML forbids (controls but tab, line feed and carriage return, which a
// one-line message never needs either, and U+FFFE, U+FFFF).
size_t CharacterLength(const std::string& text, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x20 || lead == 0x7F) return 0;
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code == 0xFFFE || code == 0xFFFF) return 0;
    return length;
}

std::string Xml(const std::string& text) { return MarkupText(ReadableText(text)); }

// GitHub's workflow commands: '%', CR and LF escaped in the message, and
// ':' and ',' too in a property, where they would end it.
std::string WorkflowEscaped(const std::string& text, bool property)
{
    std::string out;
    for (char c : text) {
        if (c == '%')
            out += "%25";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else if (property && c == ':')
            out += "%3A";
        else if (property && c == ',')
            out += "%2C";
        else
            out += c;
    }
    return out;
}

// The message without the "line N: " that the file's place says already:
// at its start, or after a lead such as "not replayable: ".
std::string MessageAfterLine(const TraceResult& result)
{
    const std::string place = "line " + std::to_string(result.Line) + ": ";
    std::string message = result.Message;
    for (size_t at = message.find(place); at != std::string::npos; at = message.find(place, at + 1))
        if (at == 0 || (at >= 2 && message.compare(at - 2, 2, ": ") == 0)) return message.erase(at, place.size());
    return message;
}

// "FILE:LINE: MESSAGE", the form compilers use, which editors and CI servers place.
std::string PlacedMessage(const TraceResult& result)
{
    return result.Name + ":" + std::to_string(result.Line) + ": " + MessageAfterLine(result);
}

} // namespace

std::string MarkupText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string ReadableText(const std::string& bytes)
{
    std::string out;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = CharacterLength(bytes, at);
        if (length > 0) {
            out.append(bytes, at, length);
            at += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(bytes[at++]));
        out += escaped;
    }
    return out;
}

int LineNamed(const std::string& text)
{
    for (size_t at = text.find("line "); at != std::string::npos; at = text.find("line ", at + 1)) {
        int number = 0;
        size_t digit = at + 5;
        while (digit < text.size() && std::isdigit(static_cast<unsigned char>(text[digit])) && number < 100000000)
            number = number * 10 + (text[digit++] - '0');
        if (digit > at + 5) return number;
    }
    return 0;
}

std::string ConsoleReport(const std::vector<TraceResult>& results, bool annotations)
{
    size_t passed = 0, notRun = 0;
    std::string report;
    auto line = [&](const std::string& text) { report += ReadableText(text) + "\n"; };
    for (const TraceResult& result : results) {
        if (!result.Ran) {
            ++notRun;
            continue;
        }
        passed += result.Passed ? 1 : 0;
        line(result.Passed ? "PASS " + result.Name : "FAIL " + result.Name + ": " + result.Message);
        if (!result.Passed && annotations)
            line("::error file=" + WorkflowEscaped(result.Name, true) + ",line=" + std::to_string(result.Line) +
                 ",title=" + WorkflowEscaped("ovrun replay", true) +
                 "::" + WorkflowEscaped(PlacedMessage(result), false));
        if (!result.KeptFolder.empty()) line("  kept in " + result.KeptFolder);
    }
    std::string counts =
        std::to_string(passed) + " passed, " + std::to_string(results.size() - passed - notRun) + " failed";
    if (notRun > 0) counts += ", " + std::to_string(notRun) + " not run (interrupted)";
    line(counts);
    return report;
}

std::string JunitXml(const std::vector<TraceResult>& results, double seconds)
{
    size_t failures = 0, skipped = 0;
    for (const TraceResult& result : results) {
        failures += result.Ran && !result.Passed ? 1 : 0;
        skipped += result.Ran ? 0 : 1;
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    const std::string counts = "tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" skipped=\"" + std::to_string(skipped) + "\" time=\"" +
                               time + "\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites " + counts +
                      ">\n  <testsuite name=\"ovrun replay\" " + counts + ">\n";
    for (const TraceResult& result : results) {
        std::snprintf(time, sizeof time, "%.3f", result.Seconds);
        xml += "    <testcase classname=\"replay\" name=\"" + Xml(result.Name) + "\" file=\"" + Xml(result.Name) + "\"";
        if (result.Ran && !result.Passed) xml += " line=\"" + std::to_string(result.Line) + "\"";
        xml += std::string(" time=\"") + time + "\"";
        if (result.Passed) {
            xml += "/>\n";
        } else if (!result.Ran) {
            xml += ">\n      <skipped message=\"not run: interrupted\"/>\n    </testcase>\n";
        } else {
            xml += ">\n      <failure message=\"" + Xml(result.Message) + "\">" + Xml(PlacedMessage(result)) +
                   "</failure>\n    </testcase>\n";
        }
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

} // namespace replay
