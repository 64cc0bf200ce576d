// Printing the launcher's error report for editors and scripts.
#include "report.h"

#include <cstdio>

const char* const kReportKeys[kReportKeyCount] = {"CR",      "NLIGNE", "NCOL",     "NOMPROC",
                                                  "MESSAGE", "NOMFEN", "NOMOBJET", "TYPEOBJET"};

namespace {

// Windows-1252 0x80 to 0x9F; the rest of the page is Latin-1.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string* out, char32_t c)
{
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

char32_t Character(unsigned char byte, bool storedLineFeeds)
{
    if (storedLineFeeds && byte == kStoredLineFeed) return U'\n';
    if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
    return byte;
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
                AppendUtf8(out, c);
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
        AppendUtf8(&out, Character(static_cast<unsigned char>(byte), storedLineFeeds));
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
