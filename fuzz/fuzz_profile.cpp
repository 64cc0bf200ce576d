// The Linux profile layer on real files: arbitrary file bytes, then a run of
// reads, writes and deletes, some of them made to fail through the fault
// seam. Every step is checked against a reader written from the observed
// rules of the Win32 functions:
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

namespace {

// --- The reference reader ----------------------------------------------------

enum class Kind { Blank, Header, Entry, Other };

struct Line {
    Kind LineKind;
    std::string Name;  // header or key name, trimmed; for Other the trimmed text
    std::string Value; // for Entry, trimmed
};

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\x1A'; }

std::string Trim(const std::string& text)
{
    size_t start = 0, end = text.size();
    while (start < end && Blank(text[start]))
        ++start;
    while (end > start && Blank(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

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

// CRLF, CR and LF end lines; a line is read up to its first NUL.
std::vector<Line> Parse(const std::string& bytes)
{
    std::vector<Line> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", at);
        if (end == std::string::npos) end = bytes.size();
        std::string text = bytes.substr(at, end - at);
        text = Trim(text.substr(0, text.find('\0')));
        Line line{Kind::Other, text, ""};
        const size_t close = text.find(']');
        const size_t equals = text.find('=');
        if (text.empty()) {
            line.LineKind = Kind::Blank;
        } else if (text[0] == '[' && close != std::string::npos) {
            line = {Kind::Header, Trim(text.substr(1, close - 1)), ""};
        } else if (equals != std::string::npos) {
            line = {Kind::Entry, Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
        }
        lines.push_back(line);
        at = end;
        if (at < bytes.size()) at += bytes.compare(at, 2, "\r\n") == 0 ? 2 : 1;
    }
    return lines;
}

// The lines of the first section of that name: [first, last).
std::optional<std::pair<size_t, size_t>> Section(const std::vector<Line>& lines, const std::string& section)
{
    const std::string name = Trim(section);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].LineKind != Kind::Header || !SameName(lines[i].Name, name)) continue;
        size_t end = i + 1;
        while (end < lines.size() && lines[end].LineKind != Kind::Header)
            ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

std::optional<std::string> Value(const std::vector<Line>& lines, const std::string& section, const std::string& key)
{
    const auto range = Section(lines, section);
    if (!range) return std::nullopt;
    for (size_t i = range->first; i < range->second; ++i)
        if (lines[i].LineKind == Kind::Entry && SameName(lines[i].Name, Trim(key))) return Unquoted(lines[i].Value);
    return std::nullopt;
}

// What a key reads after a delete: the first line that an edit of the key
// acts on goes (an entry, or a line holding just the name); the next entry
// of that name is then the one read.
std::optional<std::string> ValueAfterDelete(const std::vector<Line>& lines, const std::string& section,
                                            const std::string& key)
{
    const auto range = Section(lines, section);
    if (!range) return std::nullopt;
    bool skipped = false;
    for (size_t i = range->first; i < range->second; ++i) {
        const Line& line = lines[i];
        if ((line.LineKind != Kind::Entry && line.LineKind != Kind::Other) || !SameName(line.Name, Trim(key))) continue;
        if (!skipped) {
            skipped = true;
            continue;
        }
        if (line.LineKind == Kind::Entry) return Unquoted(line.Value);
    }
    return std::nullopt;
}

// Every section and key that a read can reach.
std::set<std::pair<std::string, std::string>> Keys(const std::vector<Line>& lines)
{
    std::set<std::pair<std::string, std::string>> keys;
    const std::string* section = nullptr;
    for (const Line& line : lines) {
        if (line.LineKind == Kind::Header) section = &line.Name;
        if (line.LineKind == Kind::Entry && section != nullptr) keys.insert({*section, line.Name});
    }
    return keys;
}

std::string DefaultText(const std::string& text)
{
    std::string value = text;
    while (!value.empty() && value.back() == ' ')
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

std::string UntilNul(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

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
    std::string header = section;
    while (!header.empty() && Blank(header[0]))
        header.erase(0, 1);
    std::string entryKey = key;
    while (!entryKey.empty() && Blank(entryKey[0]))
        entryKey.erase(0, 1);
    const std::vector<Line> lines = Parse("[" + header + "]\r\n" + entryKey + "=" + value + "\r\n");
    return lines.size() == 2 && lines[0].LineKind == Kind::Header && lines[0].Name == Trim(section) &&
           lines[1].LineKind == Kind::Entry && lines[1].Name == Trim(key) && lines[1].Value == Trim(value);
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

void CheckRead(const std::vector<Line>& lines, const char* fileName, const std::string& section, const std::string& key,
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
    std::string expected = Value(lines, section, key).value_or(DefaultText(defaultText));
    if (expected.size() > size - 1) expected.resize(size - 1);
    FUZZ_CHECK(count == expected.size() && buffer[count] == '\0' &&
                   std::memcmp(buffer.data(), expected.data(), count) == 0,
               context() + ": read " + Escaped(std::string(buffer.data(), count)) + " (" + std::to_string(count) +
                   "), expected " + Escaped(expected));
}

void CheckList(const std::vector<Line>& lines, const char* fileName, const std::string& section, bool sections,
               uint32_t size, const StepContext& context)
{
    std::string list;
    if (sections) {
        for (const Line& line : lines)
            if (line.LineKind == Kind::Header) list += line.Name + '\0';
    } else if (const auto range = Section(lines, section)) {
        for (size_t i = range->first; i < range->second; ++i)
            if (lines[i].LineKind == Kind::Entry) list += lines[i].Name + '\0';
    }
    std::vector<char> buffer(size + kSlack, static_cast<char>(kSentinel));
    const uint32_t count =
        OsGetPrivateProfileString(sections ? nullptr : section.c_str(), nullptr, "", buffer.data(), size, fileName);
    for (size_t i = size; i < buffer.size(); ++i)
        FUZZ_CHECK(static_cast<unsigned char>(buffer[i]) == kSentinel, context() + ": a list wrote past the buffer");
    if (size == 0) return;
    FUZZ_CHECK(count < size && buffer[count] == '\0', context() + ": list length");
    FUZZ_CHECK(count <= list.size() && std::memcmp(buffer.data(), list.data(), count) == 0,
               context() + ": the list is not the names in order");
}

// Every key of before reads as it did, except those of the edited section or
// key; and no key appears that did not read before, except the edited one.
void CheckOthers(const std::vector<Line>& before, const std::vector<Line>& after, const char* fileName,
                 const std::string& section, const std::string* key, const StepContext& context)
{
    auto edited = [&](const std::pair<std::string, std::string>& k) {
        return SameName(k.first, Trim(section)) && (key == nullptr || SameName(k.second, Trim(*key)));
    };
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
        const std::string expected = is.value_or("\x01").substr(0, sizeof buffer - 1);
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
    std::vector<Line> lines;
    bool parsed = false;
    for (int step = 0; input.Remaining() > 0 && step < 32; ++step) {
        std::optional<std::string> now = FileBytes();
        if (!parsed || now != bytes) {
            bytes = std::move(now);
            lines = Parse(bytes.value_or(""));
            parsed = true;
        }
        std::vector<std::string> sectionNames, keyNames;
        for (const Line& line : lines) {
            if (line.LineKind == Kind::Header) sectionNames.push_back(line.Name);
            if (line.LineKind == Kind::Entry || line.LineKind == Kind::Other) keyNames.push_back(line.Name);
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
            CheckRead(lines, fileName, section, key, TakeValue(input), bufferSize, context);
            continue;
        }
        if (kind == 4) {
            CheckList(lines, fileName, section, (action & 0x10) != 0, input.Word() % 700, context);
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
        const std::vector<Line> after = afterBytes == bytes ? lines : Parse(afterBytes.value_or(""));
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
            CheckOthers(lines, after, fileName, section, &key, context);
        } else if (kind == 2) {
            const auto read = Value(after, section, key);
            const auto expected = ValueAfterDelete(lines, section, key);
            FUZZ_CHECK(read == expected, context() + ": after the delete reads " + Escaped(read.value_or("(none)")) +
                                             ", expected " + Escaped(expected.value_or("(none)")));
            CheckOthers(lines, after, fileName, section, &key, context);
        } else {
            // Only the first section of that name goes, the one reads see; a
            // later copy then becomes the one read.
            std::vector<Line> expected = lines;
            if (const auto range = Section(lines, section))
                expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(range->first - 1),
                               expected.begin() + static_cast<std::ptrdiff_t>(range->second));
            std::set<std::pair<std::string, std::string>> all = Keys(lines);
            for (const auto& k : Keys(after))
                all.insert(k);
            for (const auto& k : all) {
                const auto is = Value(after, k.first, k.second), model = Value(expected, k.first, k.second);
                FUZZ_CHECK(is == model, context() + ": after the section's delete [" + Escaped(k.first) + "] " +
                                            Escaped(k.second) + " reads " + Escaped(is.value_or("(none)")) +
                                            ", expected " + Escaped(model.value_or("(none)")));
            }
            CheckOthers(lines, after, fileName, section, nullptr, context);
        }
    }
    ResetFaultsForTests();
    // Nothing cached outlives the input: libFuzzer takes memory held from
    // one input to the next for a possible leak and runs the input again.
    DropProfileCacheForTests();
    return 0;
}
