// A profile file's bytes split into lines, each line read as the Win32
// profile functions read it: blank, a [section] header, a key=value entry,
// or other text. Each rule below is their observed behaviour (or, where
// Windows was not observed, a choice that says so).
#include <algorithm>
#include <vector>

#include "posix_profile_lines.h"

namespace {

using LineKind = ProfileLineKind;

bool IsBlank(char character)
{
    // Space, tab, vertical tab, form feed, and Ctrl-Z as an old editor's
    // end-of-file mark; no other control character and no Unicode space.
    // (Wine; Windows not established: we follow Wine.)
    return character == ' ' || character == '\t' || character == '\v' || character == '\f' || character == '\x1A';
}

} // namespace

std::string_view TrimLeadingProfileBlanks(std::string_view text)
{
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    return text.substr(start);
}

std::string_view TrimProfileBlanks(std::string_view text)
{
    text = TrimLeadingProfileBlanks(text);
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return text.substr(0, end);
}

namespace {

// A name or a value ends at a NUL byte, after its blanks are trimmed: "k=a
// \0" reads "a ", "k\0x=1" is the key "k", and the next line is still
// parsed. (Wine; Windows not established.)
std::string_view CutAtNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// hasNul: the line holds a NUL somewhere (most hold none).
std::string_view NameOrValue(std::string_view text, bool hasNul)
{
    text = TrimProfileBlanks(text);
    return hasNul ? CutAtNul(text) : text;
}

void Interpret(std::string_view lineText, ProfileLine* line)
{
    const std::string_view text = TrimProfileBlanks(lineText);
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
