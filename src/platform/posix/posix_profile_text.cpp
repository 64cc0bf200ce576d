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

constexpr size_t kNone = static_cast<size_t>(-1);

bool IsBlank(char character)
{
    // Space, tab, vertical tab, form feed, and Ctrl-Z as an old editor's
    // end-of-file mark; no other control character and no Unicode space.
    // (Wine; Windows not established: we follow Wine.)
    return character == ' ' || character == '\t' || character == '\v' || character == '\f' || character == '\x1A';
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

// A name or a value ends at a NUL byte, after its blanks are trimmed: "k=a
// \0" reads "a ", "k\0x=1" is the key "k", and the next line is still
// parsed. (Wine; Windows not established.)
std::string_view CutAtNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// hasNul: the line holds a NUL somewhere (most hold none).
std::string_view NameOrValue(std::string_view text, bool hasNul)
{
    text = Trim(text);
    return hasNul ? CutAtNul(text) : text;
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
    const std::string_view text = Trim(lineText);
    line->Name = text;
    line->Value = std::string_view();
    line->BareEquals = false;
    if (text.empty()) {
        line->Kind = LineKind::Blank;
        return;
    }
    const bool hasNul = text.find('\0') != std::string_view::npos;
    // A header's name runs to the line's last ']': "[a]]" is "a]", and text
    // after the last ']' is ignored. "[Setup" without ']' is not a header;
    // blanks inside the brackets do not count: "[ Setup ]" is "Setup".
    // (Wine; Windows not established for a second ']'.)
    const size_t close = text.front() == '[' ? text.rfind(']') : std::string_view::npos;
    if (close != std::string_view::npos) {
        line->Kind = LineKind::Header;
        line->Name = NameOrValue(text.substr(1, close - 1), hasNul);
        return;
    }
    // The text after the first '=' is the value. A line without '=' is a key
    // without a value: a read of it gives the default. ';' is not special:
    // ";Path=x" is the key ";Path", which no ordinary name reaches. (Wine;
    // Windows not established.)
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        line->Kind = LineKind::Other;
        line->Name = hasNul ? CutAtNul(text) : text;
        return;
    }
    line->Kind = LineKind::Entry;
    line->Name = NameOrValue(text.substr(0, equals), hasNul);
    line->Value = NameOrValue(text.substr(equals + 1), hasNul);
    line->BareEquals = equals == 0;
}

// The line that starts at start: sets *textEnd to the offset of its line
// break and returns the offset after that. CRLF, LF and CR each end a line;
// the last line may have no line break. Text is bytes or code units.
template <typename Text> size_t LineAt(const Text& text, size_t start, size_t* textEnd)
{
    size_t at = start;
    while (at < text.size() && text[at] != '\r' && text[at] != '\n')
        ++at;
    *textEnd = at;
    if (at < text.size()) at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    return at;
}

ProfileLine LineBetween(size_t start, size_t textEnd, size_t end, std::string_view text)
{
    ProfileLine line{};
    line.Start = start;
    line.TextEnd = textEnd;
    line.End = end;
    Interpret(text, &line);
    return line;
}

void SplitAnsi(std::string_view text, std::vector<ProfileLine>* lines)
{
    // One allocation for a file of LF or CRLF lines.
    lines->reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (size_t start = 0, textEnd = 0, end = 0; start < text.size(); start = end) {
        end = LineAt(text, start, &textEnd);
        lines->push_back(LineBetween(start, textEnd, end, text.substr(start, textEnd - start)));
    }
}

// The same over a Unicode file's code units, whose text the lines hold in
// the parser's form.
void SplitUnicode(std::string_view bytes, ProfileLines* split)
{
    ProfileUnits decoded;
    DecodeProfileUnits(bytes, split->BodyStart, split->Encoding, &decoded);
    const std::vector<char16_t>& units = decoded.Units;
    // Each line in units and in the form; the views are taken once the form
    // is whole and no longer moves.
    struct Span {
        size_t Start, TextEnd, End, FormStart, FormEnd;
    };
    std::vector<Span> spans;
    for (size_t start = 0, textEnd = 0, end = 0; start < units.size(); start = end) {
        end = LineAt(units, start, &textEnd);
        const size_t formStart = split->Form.size();
        for (size_t i = start; i < textEnd; ++i)
            AppendUnitForm(units[i], &split->Form);
        spans.push_back({start, textEnd, end, formStart, split->Form.size()});
    }
    const std::string_view form = split->Form;
    split->Lines.reserve(spans.size());
    for (const Span& span : spans) {
        split->Lines.push_back(LineBetween(decoded.Offsets[span.Start], decoded.Offsets[span.TextEnd],
                                           decoded.Offsets[span.End],
                                           form.substr(span.FormStart, span.FormEnd - span.FormStart)));
    }
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

void SplitProfile(std::string_view bytes, ProfileLines* split)
{
    split->Lines.clear();
    split->Form.clear();
    split->Encoding = DetectProfileEncoding(bytes, &split->BodyStart);
    if (split->Encoding == ProfileEncoding::Ansi)
        SplitAnsi(bytes, &split->Lines);
    else
        SplitUnicode(bytes, split);
}

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
    if (!FindSection(split_.Lines, headers_, InForm(split_, Trim(section), &sectionStorage), &span)) return false;
    const size_t found = FindKey(split_.Lines, span, InForm(split_, Trim(key), &keyStorage));
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
    const std::string_view newValue = InForm(split, TrimLeading(value), &valueStorage);
    // Names the caller passes are matched without their surrounding blanks
    // (Wine; Windows not established) and written without their leading ones.
    const std::string_view newKey = InForm(split, TrimLeading(key), &newKeyStorage);
    SectionSpan span;
    if (!FindSection(lines, edited.Headers, InForm(split, Trim(section), &sectionStorage), &span)) {
        // A new section goes at the end of the file, with no blank line
        // before it; a last line without a line break gets one first.
        std::string added;
        if (!lines.empty() && lines.back().End == lines.back().TextEnd) added += kNewLine;
        added += '[';
        added += InForm(split, TrimLeading(section), &newSectionStorage);
        added += ']';
        added += kNewLine;
        added += NewEntryLine(newKey, newValue);
        InsertText(text, split, text->size(), added);
        return true;
    }

    const size_t found = FindKey(lines, span, InForm(split, Trim(key), &keyStorage));
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
