// The Linux profile layer on real files: arbitrary file bytes, then a run of
// reads, writes and deletes, some of them made to fail through the fault
// seam. Every step is checked against a reader written from the observed
// rules of the Win32 functions (a file with a byte-order mark decoded by the
// layer's own decoder, which the case table and the comparison with Wine
// check):
// - a read never fills more than its buffer and returns what the rules give;
// - after a write, the key reads back as the value; after a delete, as the
//   next duplicate or the default; after a section's delete, as if only the
//   first section of that name had gone;
// - nothing outside the key (or section) changes: every other key reads as
//   before, and no new key appears;
// - a write that fails leaves the file's bytes as they were, and no step
//   leaves a temporary file behind.
//
// Input:
//   file length (2; 0xFFFF: no file) and the file's bytes, then steps, each:
//     action (1)   bits 0-2: 0, 6, 7 read, 1 write, 2 delete a key, 3 delete
//                  a section, 4 list the sections (bit 4) or a section's
//                  keys, 5 arm a failure for the next write; bit 3: the bare
//                  name (the Windows directory) instead of the full path
//     section, key: each a name (see TakeName)
//     read: buffer size (2) and the default; list: buffer size (2);
//     write: the value; failure: the step (1)
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform.h"
#include "posix_faults.h"
#include "posix_profile_cache.h"
#include "posix_profile_unicode.h"

namespace {

// --- The reference reader ----------------------------------------------------

enum class Kind { Blank, Header, Entry, Other };

struct Line {
    Kind LineKind;
    std::string Name;  // header or key name (for Other the text): trimmed, then cut at a NUL
    std::string Value; // for Entry: likewise
    bool Bare;         // an Entry with nothing before its '='
};

// The file as the rules read it. A file with a byte-order mark is Unicode
// text, decoded by the layer's own decoder and held in its parser's form
// (posix_profile_unicode.h); names and values are then converted to and
// from ANSI at the calls. Everything else here is written from the rules.
struct Text {
    bool Unicode = false;
    std::vector<Line> Lines;

    std::string Form(const std::string& ansi) const { return Unicode ? FormFromAnsi(ansi) : ansi; }
    std::string Ansi(const std::string& form) const { return Unicode ? AnsiFromForm(form) : form; }
};

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string Trim(const std::string& text)
{
    size_t start = 0, end = text.size();
    while (start < end && Blank(text[start]))
        ++start;
    while (end > start && Blank(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

std::string UntilNul(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::string Unquoted(const std::string& text)
{
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
        return text.substr(1, text.size() - 2);
    return text;
}

// CRLF, CR and LF end lines. A header runs from '[' to the last ']'; a line
// with '=' is a key and its value; any other non-blank line a key without
// a value. asAnsi: the bytes as an ANSI file, whatever they begin with.
Text Parse(const std::string& bytes, bool asAnsi = false)
{
    Text parsed;
    std::string text = bytes;
    size_t markLength = 0;
    const ProfileEncoding encoding = asAnsi ? ProfileEncoding::Ansi : DetectProfileEncoding(bytes, &markLength);
    if (encoding != ProfileEncoding::Ansi) {
        parsed.Unicode = true;
        ProfileUnits units;
        DecodeProfileUnits(bytes, markLength, encoding, &units);
        text.clear();
        for (const char16_t unit : units.Units)
            AppendUnitForm(unit, &text);
    }
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(at, end - at));
        const size_t close = line.rfind(']');
        const size_t equals = line.find('=');
        if (line.empty()) {
            parsed.Lines.push_back({Kind::Blank, "", "", false});
        } else if (line[0] == '[' && close != std::string::npos) {
            parsed.Lines.push_back({Kind::Header, UntilNul(Trim(line.substr(1, close - 1))), "", false});
        } else if (equals != std::string::npos) {
            parsed.Lines.push_back({Kind::Entry, UntilNul(Trim(line.substr(0, equals))),
                                    UntilNul(Trim(line.substr(equals + 1))), equals == 0});
        } else {
            parsed.Lines.push_back({Kind::Other, UntilNul(line), "", false});
        }
        at = end;
        if (at < text.size()) at += text.compare(at, 2, "\r\n") == 0 ? 2 : 1;
    }
    return parsed;
}

bool IsKey(const Line& line) { return line.LineKind == Kind::Entry || line.LineKind == Kind::Other; }

// The lines of the section a name reaches, [first, last): "" the lines
// before the first header; any other name the first header of that name.
std::optional<std::pair<size_t, size_t>> Section(const std::vector<Line>& lines, const std::string& name)
{
    size_t start = 0;
    if (!name.empty()) {
        while (start < lines.size() && !(lines[start].LineKind == Kind::Header && SameName(lines[start].Name, name)))
            ++start;
        if (start == lines.size()) return std::nullopt;
        ++start;
    }
    size_t end = start;
    while (end < lines.size() && lines[end].LineKind != Kind::Header)
        ++end;
    return std::make_pair(start, end);
}

// The lines of the first key of that name in the section: its line, and
// for a nameless key the "=value" lines after it (blank lines aside).
std::optional<std::pair<size_t, size_t>> Key(const std::vector<Line>& lines, const std::pair<size_t, size_t>& range,
                                             const std::string& key)
{
    for (size_t i = range.first; i < range.second; ++i) {
        if (!IsKey(lines[i]) || !SameName(lines[i].Name, key)) continue;
        size_t last = i;
        for (size_t j = i + 1; key.empty() && j < range.second; ++j) {
            if (lines[j].LineKind == Kind::Blank) continue;
            if (lines[j].LineKind != Kind::Entry || !lines[j].Bare) break;
            last = j;
        }
        return std::make_pair(i, last + 1);
    }
    return std::nullopt;
}

// What a read of section/key gives (names trimmed), in ANSI; none for the
// default.
std::optional<std::string> Value(const Text& text, const std::string& section, const std::string& key)
{
    const auto range = Section(text.Lines, text.Form(Trim(section)));
    if (!range) return std::nullopt;
    const auto found = Key(text.Lines, *range, text.Form(Trim(key)));
    if (!found || text.Lines[found->first].LineKind != Kind::Entry) return std::nullopt;
    return text.Ansi(Unquoted(text.Lines[found->first].Value));
}

// The text once a delete of section/key (names as given; a null key: the
// whole section) has taken its lines out.
Text Deleted(const Text& text, const std::string& section, const std::string* key)
{
    Text after = text;
    const auto range = Section(text.Lines, text.Form(section));
    if (!range) return after;
    std::pair<size_t, size_t> gone(range->first - (section.empty() ? 0 : 1), range->second);
    if (key != nullptr) {
        const auto found = Key(text.Lines, *range, text.Form(*key));
        if (!found) return after;
        gone = *found;
    }
    std::vector<Line>& lines = after.Lines;
    for (size_t i = gone.second; i-- > gone.first;)
        if (key == nullptr || IsKey(lines[i])) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    return after;
}

// The names a read with a null section or key lists, each ended by a NUL.
std::string NameList(const Text& text, const std::string* section)
{
    std::string list;
    if (section == nullptr) {
        // Empty names are not listed: "[]" and the lines before any header.
        for (const Line& line : text.Lines)
            if (line.LineKind == Kind::Header && !line.Name.empty()) list += text.Ansi(line.Name) + '\0';
        return list;
    }
    const auto range = Section(text.Lines, text.Form(*section));
    bool nameless = false; // the key line before was nameless
    for (size_t i = range ? range->first : 0; range && i < range->second; ++i) {
        const Line& line = text.Lines[i];
        if (!IsKey(line)) continue;
        // A nameless key's "=value" lines are part of it, not keys.
        const bool partOfKey = line.Bare && nameless;
        nameless = line.Name.empty();
        if (partOfKey || line.LineKind != Kind::Entry || (!line.Name.empty() && line.Name[0] == ';')) continue;
        // A list whose first name is empty comes back empty.
        if (line.Name.empty() && list.empty()) return list;
        list += text.Ansi(line.Name) + '\0';
    }
    return list;
}

// Every section and key a read can reach, in ANSI.
std::set<std::pair<std::string, std::string>> Keys(const Text& text)
{
    std::set<std::pair<std::string, std::string>> keys;
    std::string section;
    bool reachable = true;
    for (const Line& line : text.Lines) {
        if (line.LineKind == Kind::Header) {
            section = text.Ansi(line.Name);
            reachable = !line.Name.empty();
        }
        if (line.LineKind == Kind::Entry && reachable) keys.insert({section, text.Ansi(line.Name)});
    }
    return keys;
}

std::string DefaultText(const std::string& text)
{
    std::string value = text;
    while (value.size() > 1 && value.back() == ' ')
        value.pop_back();
    return Unquoted(value);
}

// --- The files -------------------------------------------------------------

struct Place {
    std::string Directory, Path;
};

// The Windows directory, made once per process (a new $WINDIR for each
// input would leak the old value inside setenv): under $OV_FUZZ_SCRATCH when
// set (scripts/run-fuzzers removes that), else in /dev/shm, where an fsync
// costs nothing.
const Place& Files()
{
    static const Place place = [] {
        const char* scratch = std::getenv("OV_FUZZ_SCRATCH");
        const char* temporary = std::getenv("TMPDIR");
        const std::string base = scratch != nullptr && scratch[0] != '\0' ? scratch
                                 : access("/dev/shm", W_OK) == 0          ? "/dev/shm"
                                 : temporary != nullptr                   ? temporary
                                                                          : "/tmp";
        std::string pattern = base + "/ov-fuzz-profile-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) std::abort();
        setenv("WINDIR", pattern.c_str(), 1);
        return Place{pattern, pattern + "/Orvane.ini"};
    }();
    return place;
}

std::optional<std::string> FileBytes()
{
    FILE* file = std::fopen(Files().Path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, count);
    std::fclose(file);
    return bytes;
}

std::vector<std::string> DirectoryEntries()
{
    std::vector<std::string> names;
    DIR* directory = opendir(Files().Directory.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = readdir(directory))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(directory);
    return names;
}

// Removes whatever an input left in the Windows directory.
void EmptyDirectory()
{
    for (const std::string& name : DirectoryEntries())
        unlink((Files().Directory + "/" + name).c_str());
}

// --- The steps ---------------------------------------------------------------

// A name: one of the file's own names (in another letter case, or with
// blanks around it, as the selector says), or bytes from the input.
std::string TakeName(ByteStream& input, const std::vector<std::string>& known)
{
    const uint8_t selector = input.Byte();
    if (selector < 0xC0 && !known.empty()) {
        std::string name = known[selector % known.size()];
        if (selector & 0x40)
            for (char& c : name)
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
        if (selector & 0x80) name = " " + name + "\t";
        return name;
    }
    return UntilNul(input.Bytes(selector & 0x0F));
}

// A value the file can hold on one line: no line break and no NUL.
std::string TakeValue(ByteStream& input)
{
    std::string value = input.Bytes(input.Byte());
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\0') c = '_';
    return value;
}

// True when the key written as key=value is read back under these names:
// names with '=' or brackets, for example, are not.
bool RoundTrips(const std::string& section, const std::string& key, const std::string& value)
{
    const bool noHeader = Trim(section).empty();
    std::string header = section, entryKey = key;
    while (!header.empty() && Blank(header[0]))
        header.erase(0, 1);
    while (!entryKey.empty() && Blank(entryKey[0]))
        entryKey.erase(0, 1);
    const std::vector<Line> lines =
        Parse((noHeader ? "" : "[" + header + "]\r\n") + entryKey + "=" + value + "\r\n").Lines;
    const size_t entry = noHeader ? 0 : 1;
    return lines.size() == entry + 1 &&
           (noHeader || (lines[0].LineKind == Kind::Header && lines[0].Name == Trim(section))) &&
           lines[entry].LineKind == Kind::Entry && lines[entry].Name == Trim(key) && lines[entry].Value == Trim(value);
}

// What a failed check names: the step, its action and names, and the file
// before it. Spelled out only when a check fails.
struct StepContext {
    int Step;
    uint8_t Action;
    const std::string& Section;
    const std::string& Key;
    const std::optional<std::string>& Bytes;
    std::string operator()() const
    {
        return "step " + std::to_string(Step) + " action " + std::to_string(Action) + " [" + Escaped(Section) + "] " +
               Escaped(Key) + " in " + Escaped(Bytes.value_or("(none)"));
    }
};

constexpr unsigned char kSentinel = 0xA5;
constexpr size_t kSlack = 32;

void CheckRead(const Text& text, const char* fileName, const std::string& section, const std::string& key,
               const std::string& defaultText, uint32_t size, const StepContext& context)
{
    std::vector<char> buffer(size + kSlack, static_cast<char>(kSentinel));
    const uint32_t count =
        OsGetPrivateProfileString(section.c_str(), key.c_str(), defaultText.c_str(), buffer.data(), size, fileName);
    for (size_t i = size; i < buffer.size(); ++i)
        FUZZ_CHECK(static_cast<unsigned char>(buffer[i]) == kSentinel, context() + ": wrote past the buffer");
    if (size == 0) {
        FUZZ_CHECK(count == 0 && static_cast<unsigned char>(buffer[0]) == kSentinel, context());
        return;
    }
    std::string expected = Value(text, section, key).value_or(DefaultText(defaultText));
    if (expected.size() > size - 1) expected.resize(size - 1);
    FUZZ_CHECK(count == expected.size() && buffer[count] == '\0' &&
                   std::memcmp(buffer.data(), expected.data(), count) == 0,
               context() + ": read " + Escaped(std::string(buffer.data(), count)) + " (" + std::to_string(count) +
                   "), expected " + Escaped(expected));
}

// A list too long for the buffer, or one that would fill it exactly, is
// cut to size-2 bytes.
void CheckList(const Text& text, const char* fileName, const std::string& section, bool sections, uint32_t size,
               const StepContext& context)
{
    const std::string list = NameList(text, sections ? nullptr : &section);
    std::vector<char> buffer(size + kSlack, static_cast<char>(kSentinel));
    const uint32_t count =
        OsGetPrivateProfileString(sections ? nullptr : section.c_str(), nullptr, "", buffer.data(), size, fileName);
    for (size_t i = size; i < buffer.size(); ++i)
        FUZZ_CHECK(static_cast<unsigned char>(buffer[i]) == kSentinel, context() + ": a list wrote past the buffer");
    if (size == 0) return;
    const size_t expected = list.size() + 2 <= size ? list.size() : size >= 2 ? size - 2 : 0;
    FUZZ_CHECK(count == expected && buffer[count] == '\0',
               context() + ": list length " + std::to_string(count) + ", expected " + std::to_string(expected));
    FUZZ_CHECK(std::memcmp(buffer.data(), list.data(), count) == 0, context() + ": the list is not the names in order");
}

// Every key of before reads as it did, except the edited ones; and no key
// appears that did not read before, except the edited one. edited tells a
// key (section and name in ANSI) that the step may change. after is the
// file in before's encoding; asRead, when not null, the file as a read now
// takes it.
template <typename Edited>
void CheckOthers(const Text& before, const Text& after, const Text* asRead, const char* fileName, const Edited& edited,
                 const StepContext& context)
{
    std::set<std::pair<std::string, std::string>> all = Keys(before);
    for (const auto& k : Keys(after))
        all.insert(k);
    for (const auto& k : all) {
        if (edited(k)) continue;
        const auto was = Value(before, k.first, k.second), is = Value(after, k.first, k.second);
        FUZZ_CHECK(was == is, context() + ": [" + Escaped(k.first) + "] " + Escaped(k.second) + " was " +
                                  Escaped(was.value_or("(none)")) + ", is " + Escaped(is.value_or("(none)")));
        // The layer itself reads what the rules read.
        char buffer[64];
        const uint32_t count =
            OsGetPrivateProfileString(k.first.c_str(), k.second.c_str(), "\x01", buffer, sizeof buffer, fileName);
        const std::string expected =
            (asRead ? Value(*asRead, k.first, k.second) : is).value_or("\x01").substr(0, sizeof buffer - 1);
        FUZZ_CHECK(std::string(buffer, count) == expected,
                   context() + ": the layer reads [" + Escaped(k.first) + "] " + Escaped(k.second) + " as " +
                       Escaped(std::string(buffer, count)) + ", the rules as " + Escaped(expected));
    }
}

const FaultStep kWriteFaults[] = {kFaultTempCreate, kFaultTempWrite, kFaultTempSync, kFaultRename, kFaultInPlaceWrite};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Place& place = Files();
    EmptyDirectory();
    ResetFaultsForTests();
    ByteStream input(data, size);
    const uint16_t fileLength = input.Word();
    if (fileLength != 0xFFFF) { // 0xFFFF: no file at all
        FILE* file = std::fopen(place.Path.c_str(), "wb");
        const std::string bytes = input.Bytes(fileLength);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    bool faultArmed = false;
    // The file as the step before found it, parsed again only when changed.
    std::optional<std::string> bytes;
    Text text;
    bool parsed = false;
    for (int step = 0; input.Remaining() > 0 && step < 32; ++step) {
        std::optional<std::string> now = FileBytes();
        if (!parsed || now != bytes) {
            bytes = std::move(now);
            text = Parse(bytes.value_or(""));
            parsed = true;
        }
        std::vector<std::string> sectionNames, keyNames;
        for (const Line& line : text.Lines) {
            if (line.LineKind == Kind::Header) sectionNames.push_back(text.Ansi(line.Name));
            if (IsKey(line)) keyNames.push_back(text.Ansi(line.Name));
        }
        const uint8_t action = input.Byte();
        // The bare name finds the file ignoring case; a new file takes the
        // spelling it is given.
        const char* fileName = !(action & 8) ? place.Path.c_str() : bytes ? "oRVANE.INI" : "Orvane.ini";
        const std::string section = TakeName(input, sectionNames);
        const std::string key = TakeName(input, keyNames);
        const StepContext context{step, action, section, key, bytes};

        const int kind = action & 7;
        if (kind == 0 || kind == 6 || kind == 7) {
            const uint32_t bufferSize = input.Word() % 700;
            CheckRead(text, fileName, section, key, TakeValue(input), bufferSize, context);
            continue;
        }
        if (kind == 4) {
            CheckList(text, fileName, section, (action & 0x10) != 0, input.Word() % 700, context);
            continue;
        }
        if (kind == 5) {
            const uint8_t which = input.Byte();
            FailStepAt(kWriteFaults[which % 5], 1);
            if (which & 0x80) FailStepAt(kFaultInPlaceWrite, 1);
            faultArmed = true;
            continue;
        }

        const std::string value = kind == 1 ? TakeValue(input) : "";
        const char* keyArgument = kind == 3 ? nullptr : key.c_str();
        const char* valueArgument = kind == 1 ? value.c_str() : nullptr;
        const int32_t result = OsWritePrivateProfileString(section.c_str(), keyArgument, valueArgument, fileName);
        const std::optional<std::string> afterBytes = FileBytes();
        // An edit of an ANSI file keeps its bytes ANSI, as the real functions
        // do, even when the file then begins with what reads as a byte-order
        // mark (a delete of the first line, say): from the next read on, it
        // is Unicode text.
        size_t markLength = 0;
        const bool nowUnicode =
            !text.Unicode && DetectProfileEncoding(afterBytes.value_or(""), &markLength) != ProfileEncoding::Ansi;
        const Text after = afterBytes == bytes ? text : Parse(afterBytes.value_or(""), nowUnicode);
        const std::optional<Text> reread = nowUnicode ? std::optional<Text>(Parse(*afterBytes)) : std::nullopt;
        const Text* asRead = reread ? &*reread : nullptr;
        const std::vector<std::string> entries = DirectoryEntries();
        FUZZ_CHECK(entries.empty() || (entries.size() == 1 && entries[0] == "Orvane.ini"),
                   context() + ": the directory holds " + std::to_string(entries.size()) + " entries");
        if (faultArmed) {
            ResetFaultsForTests();
            faultArmed = false;
        }
        if (result == 0) {
            FUZZ_CHECK(afterBytes == bytes, context() + ": a failed write changed the file");
            continue;
        }
        FUZZ_CHECK(result == 1, context());
        if (kind == 1) {
            if (!RoundTrips(section, key, value)) continue;
            const auto read = Value(after, section, key);
            FUZZ_CHECK(read == Unquoted(Trim(value)),
                       context() + ": wrote " + Escaped(value) + ", reads " + Escaped(read.value_or("(none)")));
            // A write, like the reads of the check, matches names without
            // their blanks.
            CheckOthers(
                text, after, asRead, fileName,
                [&](const std::pair<std::string, std::string>& k) {
                    return SameName(Trim(k.first), Trim(section)) && SameName(Trim(k.second), Trim(key));
                },
                context);
        } else {
            // A delete matches names as given, and takes out the lines of
            // the first key (or section) of that name, the one reads see: a
            // later copy then becomes the one read. Every key reads as the
            // file without those lines.
            const Text expected = Deleted(text, section, kind == 2 ? &key : nullptr);
            CheckOthers(
                expected, after, asRead, fileName, [](const std::pair<std::string, std::string>&) { return false; },
                context);
        }
    }
    ResetFaultsForTests();
    // Nothing cached outlives the input: libFuzzer takes memory held from
    // one input to the next for a possible leak and runs the input again.
    DropProfileCacheForTests();
    return 0;
}
