// JSON strings and numbers for the trace's pages and exports.
#include "json_text.h"

#include <cstdio>

#include "trace_model.h"

namespace traceview {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        // U+2028 and U+2029, E2 80 A8 and E2 80 A9 in UTF-8.
        if (byte == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == '<' || byte == '>' || byte == '&' || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out + "\"";
}

std::string JsonTraceText(const std::string& bytes) { return JsonString(DisplayText(bytes)); }

std::string JsonNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace traceview
