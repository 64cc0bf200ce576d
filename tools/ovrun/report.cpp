// Printing the launcher's error report for editors and scripts.
#include "report.h"

#include <cstdio>

#include "common/cp1252.h"

namespace {

char32_t Character(unsigned char byte, bool storedLineFeeds)
{
    if (storedLineFeeds && byte == kStoredLineFeed) return U'\n';
    return Cp1252Character(byte);
}

// A JSON string of the value: quotes, backslashes and controls escaped,
// everything else as UTF-8.
void AppendJsonString(std::string* out, std::string_view value, bool storedLineFeeds)
{
    out->push_back('"');
    for (const char byte : value) {
        const char32_t c = Character(static_cast<unsigned char>(byte), storedLineFeeds);
        switch (c) {
        case U'"':
            *out += "\\\"";
            break;
        case U'\\':
            *out += "\\\\";
            break;
        case U'\n':
            *out += "\\n";
            break;
        case U'\r':
            *out += "\\r";
            break;
        case U'\t':
            *out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
                *out += escape;
            } else {
                AppendUtf8(c, out);
            }
        }
    }
    out->push_back('"');
}

} // namespace

bool IsRuntimeError(const ErrorReport& report) { return report.Values[kCr] == "*E*"; }

std::string Utf8FromWindows1252(std::string_view text, bool storedLineFeeds)
{
    std::string out;
    out.reserve(text.size());
    for (const char byte : text)
        AppendUtf8(Character(static_cast<unsigned char>(byte), storedLineFeeds), &out);
    return out;
}

std::string CompilerStyleLine(const ErrorReport& report)
{
    auto text = [&](ReportKey key) { return Utf8FromWindows1252(report.Values[key], false); };
    return text(kObject) + ":" + text(kLine) + ":" + text(kColumn) +
           ": error: " + Utf8FromWindows1252(report.Values[kMessage], true) + " [window " + text(kWindow) + ", type " +
           text(kObjectType) + "]\n";
}

std::string ReportJson(const ErrorReport& report)
{
    std::string out = "{";
    for (int i = 0; i < kReportKeyCount; ++i) {
        if (i > 0) out += ',';
        AppendJsonString(&out, kReportKeys[i], false);
        out += ':';
        AppendJsonString(&out, report.Values[i], i == kMessage);
    }
    out += "}\n";
    return out;
}
