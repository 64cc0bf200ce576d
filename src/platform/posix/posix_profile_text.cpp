// Parsing and editing the bytes of a profile file. Each rule below is the
// observed behaviour of the Win32 functions (or, where Windows was not
// observed, a choice that says so).
#include "posix_profile_text.h"

#include <algorithm>
#include <vector>

#include "posix_paths.h"

namespace {

const std::string_view kNewLine = "\r\n";

using LineKind = ProfileLineKind;

bool IsBlank(char character)
{
    // A trailing Ctrl-Z counts as a blank, as an old editor's end-of-file
    // mark. (Wine; Windows not established: we follow Wine.)
    return character == ' ' || character == '\t' || character == '\x1A';
}

std::string_view TrimLeading(std::string_view text)
{
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    return text.substr(start);
}

std::string_view Trim(std::string_view text)
{
    text = TrimLeading(text);
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return text.substr(0, end);
}

std::string_view RemoveOuterQuotes(std::string_view text)
{
    // Only one matching pair goes, and only when it encloses the whole text:
    // "C:\X keeps its quote, ""baz"" reads "baz".
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

void Interpret(std::string_view lineText, ProfileLine* line)
{
    // A line ends at a NUL byte for every purpose but keeping its bytes:
    // "ab\0cd" reads "ab", and the next line is still parsed. (Wine; Windows
    // not established.)
    const size_t nul = lineText.find('\0');
    const std::string_view text = Trim(nul == std::string_view::npos ? lineText : lineText.substr(0, nul));
    line->Name = text;
    line->Value = std::string_view();
    if (text.empty()) {
        line->Kind = LineKind::Blank;
        return;
    }
    // "[Setup" without ']' is not a header; text after the ']' is ignored;
    // blanks inside the brackets do not count: "[ Setup ]" is "Setup".
    const size_t close = text.find(']');
    if (text.front() == '[' && close != std::string_view::npos) {
        line->Kind = LineKind::Header;
        line->Name = Trim(text.substr(1, close - 1));
        return;
    }
    // The text after the first '=' is the value. A line without '=' is not
    // a key for a read. ';' is not special: ";Path=x" is the key ";Path",
    // which no ordinary name reaches. (Wine; Windows not established.)
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        line->Kind = LineKind::Other;
        return;
    }
    line->Kind = LineKind::Entry;
    line->Name = Trim(text.substr(0, equals));
    line->Value = Trim(text.substr(equals + 1));
}

// CRLF, LF and CR each end a line; the last line may have no line break.
std::vector<ProfileLine> SplitLines(std::string_view text)
{
    std::vector<ProfileLine> lines;
    // One allocation for a file of LF or CRLF lines.
    lines.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    size_t start = 0;
    while (start < text.size()) {
        size_t textEnd = start;
        while (textEnd < text.size() && text[textEnd] != '\r' && text[textEnd] != '\n')
            ++textEnd;
        size_t end = textEnd;
        if (end < text.size()) end += text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        ProfileLine line{start, textEnd, end, LineKind::Blank, {}, {}};
        Interpret(text.substr(start, textEnd - start), &line);
        lines.push_back(line);
        start = end;
    }
    return lines;
}

constexpr size_t kNone = static_cast<size_t>(-1);

// The first header named section. Only the first of
// duplicate sections is ever searched: a key only in a second [Setup] is not
// found. (Wine; Windows not established.)
size_t FindSection(const std::vector<ProfileLine>& lines, std::string_view section)
{
    // Non-ASCII letters are not folded: [CAF\xC9] is not "caf\xE9". (Wine;
    // Windows not established.)
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].Kind == LineKind::Header && EqualIgnoringAsciiCase(lines[i].Name, section)) return i;
    }
    return kNone;
}

// One past the last line of the section whose header is line `header`. Lines
// before the first header belong to no section.
size_t SectionEnd(const std::vector<ProfileLine>& lines, size_t header)
{
    size_t end = header + 1;
    while (end < lines.size() && lines[end].Kind != LineKind::Header)
        ++end;
    return end;
}

// The line a write or delete of key acts on: the first entry of that name
// (only the first of duplicates is replaced or deleted), or a line holding
// just that name, which then receives the value ("Flag" becomes "Flag=1").
size_t FindKeyForEdit(const std::vector<ProfileLine>& lines, size_t header, std::string_view key)
{
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        const LineKind kind = lines[i].Kind;
        if ((kind == LineKind::Entry || kind == LineKind::Other) && EqualIgnoringAsciiCase(lines[i].Name, key))
            return i;
    }
    return kNone;
}

bool EndsWithLineBreak(std::string_view text) { return !text.empty() && (text.back() == '\n' || text.back() == '\r'); }

// Names the caller passes are matched without their surrounding blanks
// (Wine; Windows not established) and written without their leading ones.
std::string NewEntryLine(std::string_view key, std::string_view value)
{
    std::string line(TrimLeading(key));
    line += '=';
    line += value;
    line += kNewLine;
    return line;
}

// The first header named section among the header lines listed in headers.
size_t FindSectionAmong(const std::vector<ProfileLine>& lines, const std::vector<size_t>& headers,
                        std::string_view section)
{
    for (const size_t header : headers) {
        if (EqualIgnoringAsciiCase(lines[header].Name, section)) return header;
    }
    return kNone;
}

bool FindValueInSection(const std::vector<ProfileLine>& lines, size_t header, std::string_view key, std::string* value)
{
    if (header == kNone) return false;
    const size_t end = SectionEnd(lines, header);
    const std::string_view name = Trim(key);
    for (size_t i = header + 1; i < end; ++i) {
        // The first of duplicate keys wins. "Path=" is a key with an empty
        // value, not a missing one.
        if (lines[i].Kind == LineKind::Entry && EqualIgnoringAsciiCase(lines[i].Name, name)) {
            value->assign(RemoveOuterQuotes(lines[i].Value));
            return true;
        }
    }
    return false;
}

std::string NameListOf(const std::vector<ProfileLine>& lines, size_t header, const char* section)
{
    std::string list;
    if (section == nullptr) {
        for (const ProfileLine& line : lines) {
            if (line.Kind == LineKind::Header) {
                list += line.Name;
                list += '\0';
            }
        }
        return list;
    }
    if (header == kNone) return list;
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        // "name2=" is listed as a key, "name3" is not.
        if (lines[i].Kind == LineKind::Entry) {
            list += lines[i].Name;
            list += '\0';
        }
    }
    return list;
}

} // namespace

std::string ProfileDefaultText(const char* defaultText)
{
    // A null default reads as "".
    if (defaultText == nullptr) return "";
    std::string_view text = defaultText;
    // Trailing spaces of the default go; tabs and leading blanks stay, and
    // one outer pair of quotes goes. (Wine; Windows not established for tabs
    // and quotes.)
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return std::string(RemoveOuterQuotes(text));
}

void ProfileIndex::Assign(std::string bytes)
{
    lines_.clear();
    headers_.clear();
    text_ = std::move(bytes);
    try {
        lines_ = SplitLines(text_);
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].Kind == LineKind::Header) headers_.push_back(i);
        }
    } catch (...) {
        // Left empty, the index matches no file's bytes but an empty one's.
        text_.clear();
        lines_.clear();
        headers_.clear();
        throw;
    }
}

bool ProfileIndex::FindValue(std::string_view section, std::string_view key, std::string* value) const
{
    return FindValueInSection(lines_, FindSectionAmong(lines_, headers_, Trim(section)), key, value);
}

std::string ProfileIndex::NameList(const char* section) const
{
    const size_t header = section != nullptr ? FindSectionAmong(lines_, headers_, Trim(section)) : kNone;
    return NameListOf(lines_, header, section);
}

bool SetProfileValue(std::string* text, std::string_view section, std::string_view key, std::string_view value)
{
    // Leading blanks of the value are dropped: "  v  " is written "v  ".
    // (Wine; Windows not established.)
    value = TrimLeading(value);
    const std::vector<ProfileLine> lines = SplitLines(*text);
    const size_t header = FindSection(lines, Trim(section));
    if (header == kNone) {
        // A new section goes at the end of the file, with no blank line
        // before it; a last line without a line break gets one first.
        std::string added;
        if (!text->empty() && !EndsWithLineBreak(*text)) added += kNewLine;
        added += '[';
        added += TrimLeading(section);
        added += ']';
        added += kNewLine;
        added += NewEntryLine(key, value);
        *text += added;
        return true;
    }

    const size_t found = FindKeyForEdit(lines, header, Trim(key));
    if (found != kNone) {
        const ProfileLine& line = lines[found];
        // A key that already has this value is left alone, spacing and all:
        // the file is not rewritten.
        if (line.Kind == LineKind::Entry && line.Value == value) return false;
        // The replaced line keeps the file's spelling of the key and its own
        // line break; its spacing goes: "  Path  =  v  " becomes "Path=w".
        // (Wine's spacing; Windows not established.)
        std::string replacement(line.Name);
        replacement += '=';
        replacement += value;
        if (std::string_view(*text).substr(line.Start, line.TextEnd - line.Start) == replacement) return false;
        text->replace(line.Start, line.TextEnd - line.Start, replacement);
        return true;
    }

    // A new key goes after the section's last non-blank line, a key or a
    // comment, so blank lines before the next header stay between the
    // sections; in an empty section, right after the header. (Wine's place;
    // on Windows only "after the existing keys" is established.)
    size_t last = header;
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].Kind != LineKind::Blank) last = i;
    }
    std::string added;
    if (lines[last].End == lines[last].TextEnd) added += kNewLine;
    added += NewEntryLine(key, value);
    text->insert(lines[last].End, added);
    return true;
}

bool DeleteProfileKey(std::string* text, std::string_view section, std::string_view key)
{
    const std::vector<ProfileLine> lines = SplitLines(*text);
    const size_t header = FindSection(lines, Trim(section));
    if (header == kNone) return false;
    const size_t found = FindKeyForEdit(lines, header, Trim(key));
    if (found == kNone) return false;
    // Only that line goes, its line break with it; the header stays even
    // when the section is left empty.
    text->erase(lines[found].Start, lines[found].End - lines[found].Start);
    return true;
}

bool DeleteProfileSection(std::string* text, std::string_view section)
{
    const std::vector<ProfileLine> lines = SplitLines(*text);
    const size_t header = FindSection(lines, Trim(section));
    if (header == kNone) return false;
    // The header and every line up to the next header go, comments and blank
    // lines included (Wine; Windows not established). Only the first of
    // duplicate sections goes, the one reads see; a later copy then becomes
    // the one read. (Wine; Windows not established.)
    const size_t end = SectionEnd(lines, header);
    const size_t stop = end < lines.size() ? lines[end].Start : text->size();
    text->erase(lines[header].Start, stop - lines[header].Start);
    return true;
}
