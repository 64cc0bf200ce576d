// Names compared as the profile functions compare them, and a quoted value
// found in a settings file's lines.
#include "spelled_value.h"

namespace {

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

bool QuotedSpelling(const std::string& bytes, const std::string& section, const std::string& key, std::string* spelled)
{
    // A byte-order mark: Unicode text, which the lines below cannot spell.
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0 ||
        bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return false;
    bool inSection = false, seenSection = false;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = Trimmed(line);
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            if (inSection || seenSection) return false; // only the first section of that name is read
            inSection = close != std::string::npos && SameName(Trimmed(line.substr(1, close - 1)), section);
            seenSection = inSection;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos || !SameName(Trimmed(line.substr(0, equals)), key)) continue;
        *spelled = Trimmed(line.substr(equals + 1));
        return spelled->size() >= 2 && spelled->front() == '"' && spelled->back() == '"';
    }
    return false;
}
