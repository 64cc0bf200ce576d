// Parsing scripts of replies.
#include "script.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "engine/trace_format.h"
#include "transcript.h"

namespace standin {

namespace {

// Raised for the first fault of a line; the parser records it and goes on
// with the next line.
struct LineFault {
    std::string Message;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

class LineParser {
  public:
    LineParser(const std::string& text, const VariableLookup& lookup) : text_(text), lookup_(lookup) {}

    bool AtEnd()
    {
        SkipBlanks();
        return at_ >= text_.size() || text_[at_] == '#';
    }
    bool Peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
    bool StartsWith(const std::string& word) const { return text_.compare(at_, word.size(), word) == 0; }
    void Skip(size_t count) { at_ += count; }
    void SkipBlanks()
    {
        while (at_ < text_.size() && IsBlank(text_[at_]))
            ++at_;
    }
    size_t Position() const { return at_; }
    void MoveTo(size_t position) { at_ = position; }
    const std::string& Text() const { return text_; }

    // ${NAME} from the environment.
    std::string Expand(const std::string& raw) const
    {
        std::string out;
        size_t at = 0;
        while (at < raw.size()) {
            if (raw.compare(at, 2, "${") == 0) {
                const size_t close = raw.find('}', at + 2);
                if (close == std::string::npos) throw LineFault{"${ without a closing }"};
                const std::string name = raw.substr(at + 2, close - at - 2);
                const char* value = lookup_ ? lookup_(name) : nullptr;
                if (value == nullptr) throw LineFault{"${" + name + "} is not set"};
                out += value;
                at = close + 1;
            } else {
                out += raw[at++];
            }
        }
        return out;
    }

    // A double-quoted text with C escapes and ${NAME}; the cursor is on '"'.
    std::string Quoted()
    {
        ++at_;
        std::string out;
        while (true) {
            if (at_ >= text_.size()) throw LineFault{"a quoted text has no closing quote"};
            const char c = text_[at_++];
            if (c == '"') return out;
            if (c == '$' && Peek('{')) {
                const size_t close = text_.find('}', at_);
                if (close == std::string::npos) throw LineFault{"${ without a closing }"};
                out += Expand(text_.substr(at_ - 1, close - at_ + 2));
                at_ = close + 1;
                continue;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) throw LineFault{"a quoted text ends in a backslash"};
            char byte = 0;
            if (ReadTraceEscape(text_.data(), text_.size(), &at_, &byte)) {
                out += byte;
                continue;
            }
            if (text_[at_] == 'x') throw LineFault{"\\x without a hex digit"};
            throw LineFault{std::string("unknown escape \\") + text_[at_]};
        }
    }

    // A value: quoted, or bare up to the next blank.
    std::string Value(bool* quoted)
    {
        *quoted = Peek('"');
        if (*quoted) return Quoted();
        const size_t start = at_;
        while (at_ < text_.size() && !IsBlank(text_[at_]))
            ++at_;
        return text_.substr(start, at_ - start);
    }

  private:
    const std::string& text_;
    const VariableLookup& lookup_;
    size_t at_ = 0;
};

long ParseInteger(const std::string& text, long low, long high, const std::string& field)
{
    if (text.empty()) throw LineFault{field + " needs a number"};
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0) throw LineFault{field + "=" + text + " is not a number"};
    if (value < low || value > high)
        throw LineFault{field + "=" + text + " is outside " + std::to_string(low) + " to " + std::to_string(high)};
    return value;
}

// The expected command before "=>".
void ParsePattern(LineParser& parser, ScriptLine* line)
{
    if (parser.StartsWith("@start")) {
        parser.Skip(6);
        line->IsStart = true;
        parser.SkipBlanks();
        if (!parser.StartsWith("=>")) throw LineFault{"@start must be followed by =>"};
        parser.Skip(2);
        return;
    }
    if (parser.Peek('"')) {
        line->Pattern = parser.Quoted();
        if (parser.Peek('*')) {
            line->Prefix = true;
            parser.Skip(1);
        }
        parser.SkipBlanks();
        if (!parser.StartsWith("=>")) throw LineFault{"a quoted pattern must be followed by =>"};
        parser.Skip(2);
        return;
    }
    const size_t start = parser.Position();
    const size_t arrow = parser.Text().find("=>", start);
    if (arrow == std::string::npos) throw LineFault{"no => on the line"};
    std::string raw = parser.Text().substr(start, arrow - start);
    while (!raw.empty() && IsBlank(raw.back()))
        raw.pop_back();
    if (!raw.empty() && raw.back() == '*') {
        line->Prefix = true;
        raw.pop_back();
    }
    if (raw.empty() && !line->Prefix) throw LineFault{"an empty pattern"};
    line->Pattern = parser.Expand(raw);
    parser.MoveTo(arrow + 2);
}

void ParseStartReply(LineParser& parser, ScriptLine* line)
{
    bool given = false;
    while (!parser.AtEnd()) {
        bool quoted = false;
        const std::string item = parser.Value(&quoted);
        if (given) throw LineFault{"a start line takes one of accept, refuse, result=N"};
        if (item == "accept")
            line->StartResult = 1;
        else if (item == "refuse")
            line->StartResult = 0;
        else if (item.compare(0, 7, "result=") == 0)
            line->StartResult = static_cast<int32_t>(ParseInteger(item.substr(7), INT32_MIN, INT32_MAX, "result"));
        else
            throw LineFault{"a start line takes accept, refuse or result=N, not " + item};
        given = true;
    }
    if (!given) throw LineFault{"a start line needs accept, refuse or result=N"};
}

void ParseCommandReply(LineParser& parser, ScriptLine* line)
{
    Reply& reply = line->Answer;
    bool hasNumber = false, hasKind = false, hasTextItem = false;
    std::string number;
    while (!parser.AtEnd()) {
        // name, name=value or set[offset]=value
        const size_t start = parser.Position();
        size_t at = start;
        const std::string& text = parser.Text();
        while (at < text.size() && !IsBlank(text[at]) && text[at] != '=')
            ++at;
        const std::string name = text.substr(start, at - start);
        parser.MoveTo(at);
        if (!parser.Peek('=')) {
            if (name == "clear")
                reply.Clear = true;
            else if (name == "none")
                ;
            else
                throw LineFault{"unknown item " + name};
            continue;
        }
        parser.Skip(1);
        bool quoted = false;
        const std::string value = parser.Value(&quoted);
        if (name == "key") {
            if (value.size() > kKeyNameSize) throw LineFault{"key " + value + " is longer than 3 characters"};
            reply.HasKey = true;
            reply.Key = value;
        } else if (name == "kind") {
            reply.Kind = static_cast<int>(ParseInteger(value, 0, 15, "kind"));
            reply.HasText = hasKind = true;
        } else if (name == "text") {
            reply.Text = value;
            reply.HasText = hasTextItem = true;
        } else if (name == "number") {
            number = value;
            hasNumber = true;
        } else if (name == "separator") {
            if (value.size() != 1) throw LineFault{"separator takes one character"};
            reply.Separator = value[0];
        } else if (name == "pointer") {
            reply.HasPointer = true;
            reply.NullPointer = !quoted && value == "null";
            if (!reply.NullPointer && !quoted) throw LineFault{"pointer takes a quoted text or null"};
            reply.PointerText = value;
        } else if (name == "pointerint") {
            reply.PointerInt = static_cast<int32_t>(ParseInteger(value, INT32_MIN, INT32_MAX, "pointerint"));
        } else if (name == "extratext") {
            if (value.size() > kExtraTextSize) throw LineFault{"extratext is longer than 10 characters"};
            reply.HasExtra = true;
            reply.ExtraText = value;
        } else if (name == "extravalue") {
            reply.HasExtra = true;
            reply.ExtraValue = static_cast<int32_t>(ParseInteger(value, INT32_MIN, INT32_MAX, "extravalue"));
        } else if (name == "flags") {
            reply.HasFlags = true;
            reply.Flags = static_cast<int>(ParseInteger(value, 0, 255, "flags"));
        } else if (name == "textlength") {
            reply.HasTextLength = true;
            reply.TextLength = static_cast<int>(ParseInteger(value, 0, 255, "textlength"));
        } else if (name.compare(0, 4, "set[") == 0 && name.size() > 5 && name.back() == ']') {
            const size_t offset =
                static_cast<size_t>(ParseInteger(name.substr(4, name.size() - 5), 0, kRecordSize - 1, "set offset"));
            std::string bytes = value;
            if (!quoted) bytes = std::string(1, static_cast<char>(ParseInteger(value, 0, 255, name)));
            if (offset + bytes.size() > kRecordSize) throw LineFault{name + " writes past the record's 255 bytes"};
            reply.Pokes.emplace_back(offset, bytes);
        } else {
            throw LineFault{"unknown item " + name};
        }
    }

    if (reply.HasPointer && !hasKind) {
        reply.Kind = 5;
        reply.HasText = true;
    }
    if (hasNumber) {
        if (!reply.HasText) throw LineFault{"number needs kind"};
        if (reply.Kind == 8) {
            reply.Number = number;
        } else {
            if (hasTextItem) throw LineFault{"number and text together only for kind 8"};
            reply.Text = number;
        }
    } else if (reply.Kind == 8) {
        reply.Number = "0";
    }
    const size_t fieldSize = reply.Kind == 8 ? reply.Number.size() + 1 + reply.Text.size() : reply.Text.size();
    if (fieldSize > kTextSize) throw LineFault{"the text takes " + std::to_string(fieldSize) + " bytes, 207 at most"};
    if (reply.Kind == 8 && reply.Number.size() > 255) throw LineFault{"the number part is longer than 255"};
}

} // namespace

Script ParseScript(const std::string& text, const VariableLookup& lookup)
{
    Script script;
    size_t start = 0;
    int number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(start, end - start);
        ++number;
        start = end + 1;
        LineParser parser(raw, lookup);
        if (parser.AtEnd()) {
            if (end == text.size()) break;
            continue;
        }
        ScriptLine line;
        line.LineNumber = number;
        try {
            ParsePattern(parser, &line);
            parser.SkipBlanks();
            if (line.IsStart)
                ParseStartReply(parser, &line);
            else
                ParseCommandReply(parser, &line);
            script.Lines.push_back(line);
        } catch (const LineFault& fault) {
            script.Faults.push_back("line " + std::to_string(number) + ": " + fault.Message);
        }
        if (end == text.size()) break;
    }
    if (!script.Faults.empty()) script.Lines.clear();
    return script;
}

bool Matches(const ScriptLine& line, const std::string& command)
{
    if (line.IsStart) return false;
    if (line.Prefix) return command.compare(0, line.Pattern.size(), line.Pattern) == 0;
    return command == line.Pattern;
}

std::string DescribePattern(const ScriptLine& line)
{
    if (line.IsStart) return "@start";
    return Quote(line.Pattern) + (line.Prefix ? "*" : "");
}

} // namespace standin
