// Finding sections and keys in a profile file's lines, and editing its
// bytes. Each rule below is the observed behaviour of the Win32 functions
// (or, where Windows was not observed, a choice that says so).
#include "posix_profile_text.h"

#include <vector>

#include "posix_paths.h"

namespace {

const std::string_view kNewLine = "\r\n";

using LineKind = ProfileLineKind;

constexpr size_t kNone = static_cast<size_t>(-1);

std::string_view RemoveOuterQuotes(std::string_view text)
{
    // Only one matching pair goes, and only when it encloses the whole text:
    // "C:\X keeps its quote, ""baz"" reads "baz".
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

std::vector<size_t> HeaderIndices(const std::vector<ProfileLine>& lines)
{
    std::vector<size_t> headers;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].Kind == LineKind::Header) headers.push_back(i);
    }
    return headers;
}

// The lines of one section, [First, End), after its header; Header is
// kNone for the lines before the first header.
struct SectionSpan {
    size_t Header, First, End;
};

// The section a name reaches. "" reaches the lines before the first header,
// even when there are none, so that a "[]" header is never reached. Any
// other name reaches the first header of that name: a key only in a second
// [Setup] is not found. Non-ASCII letters are not folded: [CAF\xC9] is not
// "caf\xE9". (Wine; Windows not established.) headers lists the header lines.
bool FindSection(const std::vector<ProfileLine>& lines, const std::vector<size_t>& headers, std::string_view name,
                 SectionSpan* span)
{
    if (name.empty()) {
        *span = {kNone, 0, headers.empty() ? lines.size() : headers.front()};
        return true;
    }
    for (size_t at = 0; at < headers.size(); ++at) {
        if (EqualIgnoringAsciiCase(lines[headers[at]].Name, name)) {
            *span = {headers[at], headers[at] + 1, at + 1 < headers.size() ? headers[at + 1] : lines.size()};
            return true;
        }
    }
    return false;
}

bool IsKeyLine(const ProfileLine& line) { return line.Kind == LineKind::Entry || line.Kind == LineKind::Other; }

// The first key line of that name: a key=value, or a line holding just the
// name, which hides a later key=value of the same name (a read gives the
// default) and receives a written value ("Flag" becomes "Flag=1"). The first
// of duplicate keys is the one read, replaced or deleted.
size_t FindKey(const std::vector<ProfileLine>& lines, const SectionSpan& span, std::string_view key)
{
    for (size_t i = span.First; i < span.End; ++i) {
        if (IsKeyLine(lines[i]) && EqualIgnoringAsciiCase(lines[i].Name, key)) return i;
    }
    return kNone;
}

// One past the last line of the key at line `first`. A nameless key takes
// in the "=value" lines that follow it (blank lines between them aside):
// they are one key, with the first line's value. A name that a NUL makes
// empty ("\0=v") starts a key of its own. (Wine; Windows not established.)
size_t KeyEnd(const std::vector<ProfileLine>& lines, size_t first, size_t end)
{
    if (!lines[first].Name.empty()) return first + 1;
    size_t last = first;
    for (size_t i = first + 1; i < end; ++i) {
        if (lines[i].Kind == LineKind::Blank) continue;
        if (!lines[i].BareEquals) break;
        last = i;
    }
    return last + 1;
}

// A caller's name or value as the lines spell it: in an ANSI file the text
// itself; storage holds a converted one.
std::string_view InForm(const ProfileLines& split, std::string_view ansi, std::string* storage)
{
    if (split.Encoding == ProfileEncoding::Ansi) return ansi;
    *storage = FormFromAnsi(ansi);
    return *storage;
}

std::string ToAnsi(const ProfileLines& split, std::string_view form)
{
    return split.Encoding == ProfileEncoding::Ansi ? std::string(form) : AnsiFromForm(form);
}

// Text in the parser's form inserted at offset as the file spells it.
void InsertText(std::string* text, const ProfileLines& split, size_t offset, std::string_view form)
{
    if (split.Encoding == ProfileEncoding::Ansi) {
        text->insert(offset, form);
        return;
    }
    const std::string bytes = EncodeForm(form, split.Encoding);
    if (offset == text->size() && split.Encoding == ProfileEncoding::Utf8) {
        // A UTF-8 sequence cut short by the end of the file reads as one
        // U+FFFD, which bytes after it could make two: it becomes that one.
        const size_t tail = BrokenUtf8Tail(*text, split.BodyStart);
        if (tail < text->size()) text->replace(tail, text->size() - tail, "\xEF\xBF\xBD");
        offset = text->size();
    } else if (offset == text->size() && (offset - split.BodyStart) % 2 != 0) {
        // The odd last byte of a UTF-16 file reads as a unit of its own
        // value; it is made that unit whole, so that what follows is in step.
        text->insert(split.Encoding == ProfileEncoding::Utf16Be ? offset - 1 : offset, 1, '\0');
        ++offset;
    }
    text->insert(offset, bytes);
}

std::string NewEntryLine(std::string_view key, std::string_view value)
{
    std::string line(key);
    line += '=';
    line += value;
    line += kNewLine;
    return line;
}

// The file's text split for an edit, with its header lines.
struct EditedText {
    explicit EditedText(std::string_view bytes)
    {
        SplitProfile(bytes, &Split);
        Headers = HeaderIndices(Split.Lines);
    }
    ProfileLines Split;
    std::vector<size_t> Headers;
};

} // namespace

std::string ProfileDefaultText(const char* defaultText)
{
    // A null default reads as "".
    if (defaultText == nullptr) return "";
    std::string_view text = defaultText;
    // Trailing spaces of the default go, all but the first byte: "  " reads
    // " ". Tabs and leading blanks stay, and one outer pair of quotes goes.
    // (Wine; Windows not established for tabs, quotes and a default of
    // spaces.)
    while (text.size() > 1 && text.back() == ' ')
        text.remove_suffix(1);
    return std::string(RemoveOuterQuotes(text));
}

void ProfileIndex::Assign(std::string bytes)
{
    split_.Lines.clear();
    split_.Form.clear();
    headers_.clear();
    text_ = std::move(bytes);
    try {
        SplitProfile(text_, &split_);
        headers_ = HeaderIndices(split_.Lines);
    } catch (...) {
        // Left empty, the index matches no file's bytes but an empty one's.
        text_.clear();
        split_ = ProfileLines();
        headers_.clear();
        throw;
    }
}

bool ProfileIndex::FindValue(std::string_view section, std::string_view key, std::string* value) const
{
    // A read matches names without their surrounding blanks. (Wine; Windows
    // not established.)
    std::string sectionStorage, keyStorage;
    SectionSpan span;
    if (!FindSection(split_.Lines, headers_, InForm(split_, TrimProfileBlanks(section), &sectionStorage), &span))
        return false;
    const size_t found = FindKey(split_.Lines, span, InForm(split_, TrimProfileBlanks(key), &keyStorage));
    // "Path=" is a key with an empty value, not a missing one.
    if (found == kNone || split_.Lines[found].Kind != LineKind::Entry) return false;
    *value = ToAnsi(split_, RemoveOuterQuotes(split_.Lines[found].Value));
    return true;
}

std::string ProfileIndex::NameList(const char* section) const
{
    const std::vector<ProfileLine>& lines = split_.Lines;
    std::string list;
    if (section == nullptr) {
        // Sections with an empty name are not listed, nor are the lines
        // before the first header.
        for (const size_t header : headers_) {
            if (lines[header].Name.empty()) continue;
            list += ToAnsi(split_, lines[header].Name);
            list += '\0';
        }
        return list;
    }
    // The section's name is matched as given: "a " lists nothing. (Wine;
    // Windows not established.)
    std::string storage;
    SectionSpan span;
    if (!FindSection(lines, headers_, InForm(split_, section, &storage), &span)) return list;
    for (size_t i = span.First; i < span.End;) {
        if (!IsKeyLine(lines[i])) {
            ++i;
            continue;
        }
        const ProfileLine& line = lines[i];
        // "name2=" is listed as a key, "name3" is not, nor is ";x=1". A list
        // whose first name is empty comes back empty. (Wine; Windows not
        // established.)
        if (line.Kind == LineKind::Entry && (line.Name.empty() || line.Name.front() != ';')) {
            if (list.empty() && line.Name.empty()) return list;
            list += ToAnsi(split_, line.Name);
            list += '\0';
        }
        i = KeyEnd(lines, i, span.End);
    }
    return list;
}

bool SetProfileValue(std::string* text, std::string_view section, std::string_view key, std::string_view value)
{
    const EditedText edited(*text);
    const ProfileLines& split = edited.Split;
    const std::vector<ProfileLine>& lines = split.Lines;
    // Leading blanks of the value are dropped: "  v  " is written "v  ".
    // (Wine; Windows not established.)
    std::string valueStorage, sectionStorage, keyStorage, newSectionStorage, newKeyStorage;
    const std::string_view newValue = InForm(split, TrimLeadingProfileBlanks(value), &valueStorage);
    // Names the caller passes are matched without their surrounding blanks
    // (Wine; Windows not established) and written without their leading ones.
    const std::string_view newKey = InForm(split, TrimLeadingProfileBlanks(key), &newKeyStorage);
    SectionSpan span;
    if (!FindSection(lines, edited.Headers, InForm(split, TrimProfileBlanks(section), &sectionStorage), &span)) {
        // A new section goes at the end of the file, with no blank line
        // before it; a last line without a line break gets one first.
        std::string added;
        if (!lines.empty() && lines.back().End == lines.back().TextEnd) added += kNewLine;
        added += '[';
        added += InForm(split, TrimLeadingProfileBlanks(section), &newSectionStorage);
        added += ']';
        added += kNewLine;
        added += NewEntryLine(newKey, newValue);
        InsertText(text, split, text->size(), added);
        return true;
    }

    const size_t found = FindKey(lines, span, InForm(split, TrimProfileBlanks(key), &keyStorage));
    if (found != kNone) {
        const ProfileLine& line = lines[found];
        // A key that already has this value is left alone, spacing and all:
        // the file is not rewritten.
        if (line.Kind == LineKind::Entry && line.Value == newValue) return false;
        // The replaced line keeps the file's spelling of the key and its own
        // line break; its spacing goes: "  Path  =  v  " becomes "Path=w".
        // (Wine's spacing; Windows not established.)
        std::string replacement(line.Name);
        replacement += '=';
        replacement += newValue;
        if (split.Encoding != ProfileEncoding::Ansi) replacement = EncodeForm(replacement, split.Encoding);
        if (text->compare(line.Start, line.TextEnd - line.Start, replacement) == 0) return false;
        text->replace(line.Start, line.TextEnd - line.Start, replacement);
        return true;
    }

    // A new key goes after the section's last non-blank line, a key or a
    // comment, so blank lines before the next header stay between the
    // sections; in an empty section, right after the header, and in the
    // lines before the first header, at the top. (Wine's place; on Windows
    // only "after the existing keys" is established.)
    size_t last = span.Header;
    for (size_t i = span.First; i < span.End; ++i) {
        if (lines[i].Kind != LineKind::Blank) last = i;
    }
    std::string added;
    size_t offset = split.BodyStart;
    if (last != kNone) {
        offset = lines[last].End;
        if (lines[last].End == lines[last].TextEnd) added += kNewLine;
    }
    added += NewEntryLine(newKey, newValue);
    InsertText(text, split, offset, added);
    return true;
}

bool DeleteProfileKey(std::string* text, std::string_view section, std::string_view key)
{
    const EditedText edited(*text);
    const ProfileLines& split = edited.Split;
    const std::vector<ProfileLine>& lines = split.Lines;
    // A delete matches names as given: "a " deletes nothing. (Wine; Windows
    // not established.)
    std::string sectionStorage, keyStorage;
    SectionSpan span;
    if (!FindSection(lines, edited.Headers, InForm(split, section, &sectionStorage), &span)) return false;
    const size_t found = FindKey(lines, span, InForm(split, key, &keyStorage));
    if (found == kNone) return false;
    // Only that key's lines go, each with its line break; the header stays
    // even when the section is left empty.
    for (size_t i = KeyEnd(lines, found, span.End); i-- > found;) {
        if (IsKeyLine(lines[i])) text->erase(lines[i].Start, lines[i].End - lines[i].Start);
    }
    return true;
}

bool DeleteProfileSection(std::string* text, std::string_view section)
{
    const EditedText edited(*text);
    const std::vector<ProfileLine>& lines = edited.Split.Lines;
    std::string storage;
    SectionSpan span;
    if (!FindSection(lines, edited.Headers, InForm(edited.Split, section, &storage), &span)) return false;
    // The header and every line up to the next header go, comments and blank
    // lines included (Wine; Windows not established); for "", every line
    // before the first header. Only the first of duplicate sections goes,
    // the one reads see; a later copy then becomes the one read. (Wine;
    // Windows not established.)
    const size_t start = span.Header != kNone ? lines[span.Header].Start : edited.Split.BodyStart;
    const size_t stop = span.End < lines.size() ? lines[span.End].Start : text->size();
    if (stop == start) return false;
    text->erase(start, stop - start);
    return true;
}
