// Writing transcript lines and quoting texts for them.
#include "transcript.h"

#include <cstdio>

#include "common/hex_digits.h"

namespace standin {

std::string Quote(const std::string& bytes)
{
    std::string quoted = "\"";
    for (unsigned char byte : bytes) {
        switch (byte) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (byte < 32 || byte >= 127) {
                quoted += "\\x";
                quoted += kHexDigits[byte >> 4];
                quoted += kHexDigits[byte & 0x0F];
            } else {
                quoted += static_cast<char>(byte);
            }
        }
    }
    quoted += '"';
    return quoted;
}

void AppendTranscriptLine(const std::string& path, const std::string& line)
{
    if (path.empty()) return;
    // Binary mode: the same bytes, LF line ends, on both targets.
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

} // namespace standin
