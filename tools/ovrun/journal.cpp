// The journal: its keys read and put back through the profile functions,
// and its file, one line per key with every text in hexadecimal, so that
// any byte a value may hold comes back.
#include "journal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/hex_digits.h"
#include "host.h"
#include "paths.h"
#include "platform.h"
#include "run_guard.h"
#include "spelled_value.h"

const char kJournalFileName[] = "ovrun.journal";

namespace {

const char kFirstLine[] = "ovrun journal 1";
const char* const kFileNames[2] = {"Orvane.ini", "win.ini"};

// A value is whole once it leaves room in the buffer; a list of names once
// it leaves room for its two closing NULs.
std::string ReadWhole(bool winIni, const char* section, const char* key, const char* defaultText, size_t spare)
{
    std::vector<char> buffer(4096);
    for (;;) {
        const uint32_t size = static_cast<uint32_t>(buffer.size());
        const uint32_t length =
            winIni ? OsGetProfileString(section, key, defaultText, buffer.data(), size)
                   : OsGetPrivateProfileString(section, key, defaultText, buffer.data(), size, kFileNames[0]);
        if (length + spare < size) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

// Whether a section of that name is in the file, with keys or not.
bool SectionPresent(bool winIni, const std::string& section)
{
    const std::string names = ReadWhole(winIni, nullptr, nullptr, "", 2);
    for (size_t start = 0; start < names.size();) {
        const size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        if (SameName(name, section)) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

bool SectionHasKeys(bool winIni, const std::string& section)
{
    return !ReadWhole(winIni, section.c_str(), nullptr, "", 2).empty();
}

// The file as the profile functions find it: a name matching ignoring case.
std::string SettingsPath(const std::string& directory, int file)
{
    for (const std::string& name : FilesIn(directory))
        if (SameName(name, kFileNames[file])) return JoinPath(directory, name.c_str());
    return JoinPath(directory, kFileNames[file]);
}

std::string Hex(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 15];
    }
    return out.empty() ? "-" : out;
}

bool FromHex(const std::string& hex, std::string* text)
{
    text->clear();
    if (hex == "-") return true;
    if (hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        *text += static_cast<char>(high * 16 + low);
    }
    return true;
}

// The file's lines that hold more than blanks, sorted.
std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (line.find_first_not_of(" \t\r") != std::string::npos) lines.push_back(line);
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    for (size_t start = 0; start <= line.size();) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

} // namespace

bool ReadKey(const SettingKey& key, std::string* value)
{
    // A value read from the file is the same whatever the default.
    *value = ReadWhole(key.WinIni, key.Section.c_str(), key.Key.c_str(), "\x01", 1);
    if (*value != "\x01") return true;
    *value = ReadWhole(key.WinIni, key.Section.c_str(), key.Key.c_str(), "\x02", 1);
    if (*value != "\x02") return true;
    value->clear();
    return false;
}

bool WriteKey(const SettingKey& key, const char* value)
{
    return (key.WinIni ? OsWriteProfileString(key.Section.c_str(), key.Key.c_str(), value)
                       : OsWritePrivateProfileString(key.Section.c_str(), key.Key.c_str(), value, kFileNames[0])) != 0;
}

std::string UnreadableSettingsFile(const std::string& windowsDirectory)
{
    for (int file = 0; file < 2; ++file) {
        const std::string path = SettingsPath(windowsDirectory, file);
        std::string bytes;
        if (IsRegularFile(path) && !ReadWholeFile(path, &bytes))
            return path + " exists but cannot be read (another program may hold it open); nothing was changed";
    }
    return "";
}

Journal::Journal(const std::string& windowsDirectory)
    : directory_(windowsDirectory), path_(JoinPath(windowsDirectory, kJournalFileName))
{
}

bool Journal::Begin(const std::vector<SettingKey>& keys, std::string* problem)
{
    *problem = UnreadableSettingsFile(directory_);
    if (!problem->empty()) return false;
    for (int file = 0; file < 2; ++file) {
        const std::string path = SettingsPath(directory_, file);
        fileExisted_[file] = IsRegularFile(path) && ReadWholeFile(path, &bytes_[file]);
    }
    keys_.clear();
    for (const SettingKey& key : keys) {
        KeyBefore before;
        before.Where = key;
        before.Present = ReadKey(key, &before.Value);
        before.SectionPresent = before.Present || SectionPresent(key.WinIni, key.Section);
        keys_.push_back(before);
    }
    holder_ = CurrentProcessId();
    KillPoint();
    if (!WriteFileDurably(path_, Text())) {
        *problem = "cannot write the journal " + path_ + "; nothing was changed";
        return false;
    }
    active_ = true;
    KillPoint();
    return true;
}

bool Journal::PutBack(const KeyBefore& before, std::string* problem) const
{
    const SettingKey& key = before.Where;
    std::string now;
    const bool present = ReadKey(key, &now);
    bool done = true;
    if (before.Present && (!present || now != before.Value)) {
        // A value in quotes goes back in them, if the reads take them off.
        std::string spelled;
        done = QuotedSpelling(bytes_[key.WinIni ? 1 : 0], key.Section, key.Key, &spelled) &&
               WriteKey(key, spelled.c_str()) && ReadKey(key, &now) && now == before.Value;
        if (!done) done = WriteKey(key, before.Value.c_str());
    }
    if (!before.Present && present) done = WriteKey(key, nullptr);
    // A section the run made goes again, unless someone else put keys in it.
    if (done && !before.SectionPresent && SectionPresent(key.WinIni, key.Section) &&
        !SectionHasKeys(key.WinIni, key.Section)) {
        done = (key.WinIni ? OsWriteProfileString(key.Section.c_str(), nullptr, nullptr)
                           : OsWritePrivateProfileString(key.Section.c_str(), nullptr, nullptr, kFileNames[0])) != 0;
    }
    // Read back: a put-back that did not take is an error, never silent.
    const bool presentAfter = ReadKey(key, &now);
    if (!done || presentAfter != before.Present || (presentAfter && now != before.Value)) {
        *problem =
            "cannot put back [" + key.Section + "] " + key.Key + " in " + SettingsPath(directory_, key.WinIni ? 1 : 0);
        return false;
    }
    return true;
}

// Keys deleted and written again land at their section's end, and the
// functions may space a section they made otherwise: when the file holds
// the lines it held, in another order or spacing, and so nothing another
// program wrote, its bytes come back as they were. The file a link names
// is rewritten, not the link.
bool Journal::PutBackLines(int file, std::string* problem) const
{
    const std::string path = SettingsPath(directory_, file);
    std::string now;
    if (!fileExisted_[file] || !ReadWholeFile(path, &now) || now == bytes_[file]) return true;
    if (Lines(now) != Lines(bytes_[file])) return true;
    const std::string target = AbsolutePath(path);
    if (!ReplaceUnchangedFile(target.empty() ? path : target, now, bytes_[file])) {
        *problem = "cannot write " + path + " back as it was";
        return false;
    }
    return true;
}

bool Journal::Restore(bool everyKey, std::string* problem)
{
    for (auto before = keys_.rbegin(); before != keys_.rend(); ++before) {
        if (!everyKey && !before->Where.Temporary) continue;
        if (!PutBack(*before, problem)) return false;
        KillPoint();
    }
    for (int file = 0; file < 2; ++file) {
        const std::string path = SettingsPath(directory_, file);
        if (everyKey && !PutBackLines(file, problem)) return false;
        // A file the run made and left empty goes as well.
        std::string bytes;
        if (everyKey && !fileExisted_[file] && ReadWholeFile(path, &bytes) &&
            bytes.find_first_not_of(" \t\r\n") == std::string::npos && !RemoveFileDurably(path)) {
            *problem = "cannot remove " + path + ", which the run made";
            return false;
        }
        if (IsRegularFile(path) && !FlushFileToDisk(path)) {
            *problem = "cannot flush " + path + " to disk";
            return false;
        }
    }
    if (!RemoveFileDurably(path_)) {
        *problem = "cannot remove the journal " + path_;
        return false;
    }
    active_ = false;
    KillPoint();
    return true;
}

std::string Journal::Text() const
{
    std::string text = std::string(kFirstLine) + "\npid " + std::to_string(holder_) + "\n";
    for (int file = 0; file < 2; ++file)
        text += std::string("file ") + (file == 0 ? "O" : "W") + (fileExisted_[file] ? " 1 " : " 0 ") +
                Hex(bytes_[file]) + "\n";
    for (const KeyBefore& key : keys_) {
        const char* state = key.Present ? "V" : key.SectionPresent ? "S" : "A";
        text += std::string("key ") + (key.Where.WinIni ? "W " : "O ") + Hex(key.Where.Section) + " " +
                Hex(key.Where.Key) + " " + state + " " + Hex(key.Value) + "\n";
    }
    return text + "end\n";
}

bool Journal::Parse(const std::string& text)
{
    keys_.clear();
    bool first = true, ended = false;
    for (size_t start = 0; start < text.size() && !ended;) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;
        const std::vector<std::string> words = Words(text.substr(start, end - start));
        start = end + 1;
        if (first) {
            if (text.compare(0, end, kFirstLine) != 0) return false;
            first = false;
        } else if (words[0] == "end") {
            ended = true;
        } else if (words[0] == "pid" && words.size() == 2) {
            holder_ = std::atol(words[1].c_str());
        } else if (words[0] == "file" && words.size() == 4) {
            const int file = words[1] == "W" ? 1 : 0;
            fileExisted_[file] = words[2] == "1";
            if (!FromHex(words[3], &bytes_[file])) return false;
        } else if (words[0] == "key" && words.size() == 6) {
            KeyBefore key;
            key.Where.WinIni = words[1] == "W";
            key.Present = words[4] == "V";
            key.SectionPresent = words[4] != "A";
            if (!FromHex(words[2], &key.Where.Section) || !FromHex(words[3], &key.Where.Key) ||
                !FromHex(words[5], &key.Value))
                return false;
            keys_.push_back(key);
        } else {
            return false;
        }
    }
    return ended;
}

std::string Journal::FileNames(bool everyKey) const
{
    bool touched[2] = {false, false};
    for (const KeyBefore& key : keys_)
        touched[key.Where.WinIni ? 1 : 0] |= everyKey || key.Where.Temporary;
    std::string names;
    for (int file = 0; file < 2; ++file)
        if (touched[file]) names += (names.empty() ? "" : " and ") + SettingsPath(directory_, file);
    return names;
}

bool Journal::Recover(std::string* said, std::string* problem)
{
    said->clear();
    std::string text;
    if (!IsRegularFile(path_)) return true;
    if (!ReadWholeFile(path_, &text) || !Parse(text)) {
        *problem = "the journal " + path_ +
                   " of an ended run cannot be read; it is kept: put the settings back "
                   "from it by hand, then remove it";
        return false;
    }
    active_ = true;
    if (!Restore(true, problem)) {
        *problem = "cannot recover the settings from the journal " + path_ + " of an ended run (pid " +
                   std::to_string(holder_) + "): " + *problem + "; the journal is kept";
        return false;
    }
    *said = "put back " + FileNames(true) + " as they were before the run of pid " + std::to_string(holder_) +
            ", which ended before it could";
    return true;
}
