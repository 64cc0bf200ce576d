// Profile files beyond the case table: buffer boundaries, a sequence of
// writes with the bytes checked after each, failures at each step of the
// atomic replacement, the in-place path, the Windows directory's choice and
// creation, and writers in several processes at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_faults.h"
#include "posix_test_support.h"

using namespace std::string_literals;

namespace {

constexpr char kSentinel = '\x5A';

class ProfileFile : public testing::Test {
  protected:
    void TearDown() override { ResetFaultsForTests(); }

    ScratchDirectory scratch_;
    std::string path_ = scratch_ / "Orvane.ini";

    // The buffer after a read of section/key at size, sentinel-filled first;
    // *returned gets the return value.
    std::string Read(const char* key, const char* defaultText, uint32_t size, uint32_t* returned)
    {
        std::string buffer(size + 4, kSentinel);
        *returned = OsGetPrivateProfileString("Setup", key, defaultText, &buffer[0], size, path_.c_str());
        return buffer;
    }
    std::string Bytes() { return ReadBytes(path_).value_or("<missing>"); }
    ino_t Inode()
    {
        struct stat status;
        return stat(path_.c_str(), &status) == 0 ? status.st_ino : 0;
    }
};

TEST_F(ProfileFile, CutsToSizeMinusOneAtEveryBoundary)
{
    WriteBytes(path_, "[Setup]\r\nTen=0123456789\r\nQuoted=\"012345678\"\r\n");
    struct Step {
        const char* Key;
        uint32_t Size;
        uint32_t Returned;
        std::string Buffer; // the buffer's first Size+1 bytes
    };
    const Step steps[] = {
        {"Ten", 1, 0, "\0"s + kSentinel},
        {"Ten", 10, 9, "012345678\0"s + kSentinel},    // one short: cut
        {"Ten", 11, 10, "0123456789\0"s + kSentinel},  // exact fit
        {"Ten", 12, 10, "0123456789\0"s + kSentinel},  // room to spare: the rest untouched
        {"Quoted", 10, 9, "012345678\0"s + kSentinel}, // quotes go before the cut
        {"Missing", 5, 4, "0123\0"s + kSentinel},      // the default is cut the same way
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.Key) + " at size " + std::to_string(step.Size));
        uint32_t returned = 0;
        const std::string buffer = Read(step.Key, "0123456789", step.Size, &returned);
        EXPECT_EQ(returned, step.Returned);
        EXPECT_EQ(buffer.substr(0, step.Buffer.size()), step.Buffer);
    }
    uint32_t returned = 7;
    EXPECT_EQ(Read("Ten", "x", 0, &returned), std::string(4, kSentinel)) << "size 0 touches nothing";
    EXPECT_EQ(returned, 0u);
}

TEST_F(ProfileFile, ListsSectionsAndKeysWithNullNames)
{
    WriteBytes(path_, "[One]\r\na=1\r\nflag\r\nb=\r\n[Two]\r\n");
    char buffer[16];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(OsGetPrivateProfileString(nullptr, nullptr, "", buffer, sizeof buffer, path_.c_str()), 8u);
    EXPECT_EQ(std::string(buffer, 9), "One\0Two\0\0"s);
    EXPECT_EQ(OsGetPrivateProfileString("one", nullptr, "", buffer, sizeof buffer, path_.c_str()), 4u);
    EXPECT_EQ(std::string(buffer, 5), "a\0b\0\0"s) << "a line without '=' is no key";
    std::memset(buffer, kSentinel, sizeof buffer);
    // Too long: the last name is cut, and two NULs end the list at size-2.
    EXPECT_EQ(OsGetPrivateProfileString(nullptr, nullptr, "", buffer, 7, path_.c_str()), 5u);
    EXPECT_EQ(std::string(buffer, 8), "One\0T\0\0"s + kSentinel);
}

TEST_F(ProfileFile, WriteSequenceChangesOnlyTheTouchedLines)
{
    // An LF file with comments and blank lines: all of it outlives the
    // writes, byte for byte; new lines come with CRLF.
    const std::string head = "; settings\n\n[Setup]\n  ; the path\nPath = a\n";
    const std::string tail = "\n[Keep]\nk = v ; not a comment\n\n";
    WriteBytes(path_, head + tail);
    struct Step {
        const char* Label;
        const char* Section;
        const char* Key;
        const char* Value;
        std::string After;
    };
    const Step steps[] = {
        {"replace", "Setup", "PATH", "b", "; settings\n\n[Setup]\n  ; the path\nPath=b\n" + tail},
        {"add key", "setup", "Mode", "1", "; settings\n\n[Setup]\n  ; the path\nPath=b\nMode=1\r\n" + tail},
        {"add section", "New", "n", "1",
         "; settings\n\n[Setup]\n  ; the path\nPath=b\nMode=1\r\n" + tail + "[New]\r\nn=1\r\n"},
        {"delete key", "Setup", "mode", nullptr,
         "; settings\n\n[Setup]\n  ; the path\nPath=b\n" + tail + "[New]\r\nn=1\r\n"},
        {"delete section", "NEW", nullptr, nullptr, "; settings\n\n[Setup]\n  ; the path\nPath=b\n" + tail},
        {"delete missing key", "Keep", "absent", nullptr, "; settings\n\n[Setup]\n  ; the path\nPath=b\n" + tail},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.Label);
        EXPECT_EQ(OsWritePrivateProfileString(step.Section, step.Key, step.Value, path_.c_str()), 1);
        EXPECT_EQ(Bytes(), step.After);
    }
    EXPECT_EQ(ListDirectory(scratch_.Path()), std::vector<std::string>{"Orvane.ini"});
}

TEST_F(ProfileFile, CreatesAddsAndDeletesInACrlfFile)
{
    struct Step {
        const char* Section;
        const char* Key;
        const char* Value;
        std::string After;
    };
    const Step steps[] = {
        {"Setup", "Path", "C:\\X", "[Setup]\r\nPath=C:\\X\r\n"},
        {"Setup", "Mode", "2", "[Setup]\r\nPath=C:\\X\r\nMode=2\r\n"},
        {"Other", "X", "1", "[Setup]\r\nPath=C:\\X\r\nMode=2\r\n[Other]\r\nX=1\r\n"},
        {"Setup", "Path", "", "[Setup]\r\nPath=\r\nMode=2\r\n[Other]\r\nX=1\r\n"},
        {"Setup", "Path", nullptr, "[Setup]\r\nMode=2\r\n[Other]\r\nX=1\r\n"},
        {"Setup", nullptr, nullptr, "[Other]\r\nX=1\r\n"},
        {"Other", "X", nullptr, "[Other]\r\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.After);
        EXPECT_EQ(OsWritePrivateProfileString(step.Section, step.Key, step.Value, path_.c_str()), 1);
        EXPECT_EQ(Bytes(), step.After);
    }
}

// Text as UTF-16 code units: ASCII as itself, and "\xE9\x80" as the code
// page's e acute and euro sign.
std::string Utf16(const std::string& text, bool bigEndian)
{
    std::string bytes;
    for (const char c : text) {
        const unsigned unit = c == '\xE9' ? 0xE9 : c == '\x80' ? 0x20AC : static_cast<unsigned char>(c);
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

TEST_F(ProfileFile, WritesIntoAMarkedFileKeepItsEncodingAndItsOtherBytes)
{
    // The lines a write does not touch keep their bytes (LF ends, spacing, a
    // broken UTF-8 byte); what it writes is in the file's own encoding, and
    // reads back as the ANSI value given.
    struct Encoding {
        const char* Label;
        std::string Mark;
        std::string (*Encode)(const std::string&);
    };
    const Encoding encodings[] = {
        {"UTF-16 LE", "\xFF\xFE", [](const std::string& t) { return Utf16(t, false); }},
        {"UTF-16 BE", "\xFE\xFF", [](const std::string& t) { return Utf16(t, true); }},
        {"UTF-8", "\xEF\xBB\xBF",
         [](const std::string& t) {
             std::string bytes;
             for (const char c : t)
                 bytes += c == '\xE9' ? "\xC3\xA9" : c == '\x80' ? "\xE2\x82\xAC" : std::string(1, c);
             return bytes;
         }},
    };
    for (const Encoding& encoding : encodings) {
        SCOPED_TRACE(encoding.Label);
        const std::string comment = encoding.Mark == "\xEF\xBB\xBF" ? "; \xFF\n" : encoding.Encode("; c\n");
        WriteBytes(path_, encoding.Mark + comment + encoding.Encode("[Setup]\n  Path = a \nOther=1\n"));
        ASSERT_EQ(OsWritePrivateProfileString("SETUP", "path", "x\xE9\x80", path_.c_str()), 1);
        ASSERT_EQ(OsWritePrivateProfileString("New", "k", "v", path_.c_str()), 1);
        ASSERT_EQ(OsWritePrivateProfileString("Setup", "Other", nullptr, path_.c_str()), 1);
        EXPECT_EQ(Bytes(), encoding.Mark + comment + encoding.Encode("[Setup]\nPath=x\xE9\x80\n[New]\r\nk=v\r\n"));
        uint32_t returned = 0;
        EXPECT_EQ(Read("Path", "", 10, &returned).substr(0, 4), "x\xE9\x80\0"s);
    }
}

TEST_F(ProfileFile, AWriteAfterTheOddLastByteOfAUtf16FileKeepsWhatItReads)
{
    // The odd byte 'v' reads as the unit 'v' in either byte order; the write
    // makes it that whole unit, then appends in step.
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "BE" : "LE");
        const std::string mark = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        WriteBytes(path_, mark + Utf16("[Setup]\r\nPath=a", bigEndian) + "v");
        ASSERT_EQ(OsWritePrivateProfileString("New", "k", "1", path_.c_str()), 1);
        EXPECT_EQ(Bytes(), mark + Utf16("[Setup]\r\nPath=av\r\n[New]\r\nk=1\r\n", bigEndian));
    }
}

TEST_F(ProfileFile, AWriteAfterAUtf8SequenceTheFileCutsShortKeepsItsOneReplacement)
{
    // F4 90 80 at the end reads as one '?'; followed by a line break it would
    // read as two (F4 90 cannot start a character, 80 stands alone).
    WriteBytes(path_, "\xEF\xBB\xBF[Setup]\r\nPath=x\xF4\x90\x80");
    ASSERT_EQ(OsWritePrivateProfileString("New", "k", "1", path_.c_str()), 1);
    EXPECT_EQ(Bytes(), "\xEF\xBB\xBF[Setup]\r\nPath=x\xEF\xBF\xBD\r\n[New]\r\nk=1\r\n");
    uint32_t returned = 0;
    EXPECT_EQ(Read("Path", "", 10, &returned).substr(0, 3), "x?\0"s);
}

TEST_F(ProfileFile, SameValueLeavesTheFileAlone)
{
    WriteBytes(path_, "[Setup]\r\nPath = v\r\n");
    const ino_t before = Inode();
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "v", path_.c_str()), 1);
    EXPECT_EQ(OsWritePrivateProfileString("Gone", nullptr, nullptr, path_.c_str()), 1);
    EXPECT_EQ(Inode(), before) << "the file was rewritten";
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 1);
    EXPECT_NE(Inode(), before) << "a change goes through a new file";
}

TEST_F(ProfileFile, ReplacementKeepsModeAndFollowsASymbolicLink)
{
    const std::string target = scratch_ / "real.ini";
    WriteBytes(target, "[Setup]\r\nPath=v\r\n");
    chmod(target.c_str(), 0640);
    ASSERT_EQ(symlink("real.ini", path_.c_str()), 0);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 1);
    struct stat status;
    ASSERT_EQ(lstat(path_.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(target), "[Setup]\r\nPath=w\r\n");
}

// As the real functions treat links (seen under Wine, the links reached
// through Z:): a link is never replaced; a missing target is created when
// its folder exists, and is looked up by its exact name; a loop is refused.
TEST_F(ProfileFile, LinksStayLinksWhateverTheirTargets)
{
    auto isLink = [&] {
        struct stat status;
        return lstat(path_.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
    };
    char value[8];
    ASSERT_EQ(symlink("missing/real.ini", path_.c_str()), 0);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 0) << "the target has no folder";
    EXPECT_TRUE(isLink());
    EXPECT_EQ(ListDirectory(scratch_.Path()), std::vector<std::string>{"Orvane.ini"});

    ASSERT_EQ(unlink(path_.c_str()), 0);
    MakeDirectory(scratch_ / "sub");
    WriteBytes(scratch_ / "sub/real.ini", "[Setup]\r\nPath=v\r\n");
    ASSERT_EQ(symlink("sub/REAL.INI", path_.c_str()), 0);
    OsGetPrivateProfileString("Setup", "Path", "none", value, sizeof value, path_.c_str());
    EXPECT_STREQ(value, "none") << "a target is not matched ignoring case";
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 1);
    EXPECT_TRUE(isLink());
    EXPECT_EQ(ReadBytes(scratch_ / "sub/REAL.INI"), "[Setup]\r\nPath=w\r\n");
    EXPECT_EQ(ReadBytes(scratch_ / "sub/real.ini"), "[Setup]\r\nPath=v\r\n");

    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_EQ(symlink("Orvane.ini", path_.c_str()), 0);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 0) << "a loop";
    OsGetPrivateProfileString("Setup", "Path", "none", value, sizeof value, path_.c_str());
    EXPECT_STREQ(value, "none");
    EXPECT_TRUE(isLink());
}

TEST_F(ProfileFile, FailedReplacementLeavesTheOldFileAndNoTemporary)
{
    const std::string original = "; keep me\n[Setup]\nPath=v\n";
    for (FaultStep step : {kFaultTempWrite, kFaultTempSync, kFaultRename}) {
        SCOPED_TRACE("fault step " + std::to_string(step));
        WriteBytes(path_, original);
        FailStepAt(step, 1);
        EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 0);
        EXPECT_EQ(Bytes(), original);
        EXPECT_EQ(ListDirectory(scratch_.Path()), std::vector<std::string>{"Orvane.ini"});
        // The fault was for one call: the next write goes through.
        EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 1);
        EXPECT_EQ(Bytes(), "; keep me\n[Setup]\nPath=w\n");
        ResetFaultsForTests();
    }
    // A new file whose temporary cannot be made is simply not there.
    ::unlink(path_.c_str());
    FailStepAt(kFaultTempCreate, 1);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 0);
    EXPECT_TRUE(ListDirectory(scratch_.Path()).empty());
}

TEST_F(ProfileFile, AWriteRemovesOnlyStaleTemporariesOfItsFileLeftByGoneProcesses)
{
    WriteBytes(path_, "[Setup]\r\nPath=v\r\n");
    // No process has the number 2147483647 (past any pid_max); the parent
    // process is alive.
    const std::string alive = ".Orvane.ini." + std::to_string(getppid()) + ".1.tmp";
    const std::vector<std::string> kept = {".Orvane.ini.2147483647.2.tmp", alive, ".Other.ini.2147483647.1.tmp",
                                           ".Orvane.ini.x.1.tmp"};
    const std::string stale = ".Orvane.ini.2147483647.1.tmp";
    const timespec hoursAgo = {time(nullptr) - 7200, 0};
    const timespec times[2] = {hoursAgo, hoursAgo};
    for (const std::string& name : {stale, kept[1], kept[2], kept[3], kept[0]}) {
        WriteBytes(scratch_ / name, "x");
        // All old but the first kept one, which is recent.
        if (name != kept[0]) {
            ASSERT_EQ(utimensat(AT_FDCWD, (scratch_ / name).c_str(), times, 0), 0);
        }
    }
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 1);
    std::vector<std::string> expected = kept;
    expected.push_back("Orvane.ini");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListDirectory(scratch_.Path()), expected);
}

TEST_F(ProfileFile, RewritesInPlaceWhenTheDirectoryRefusesNewFiles)
{
    WriteBytes(path_, "[Setup]\r\nPath=v\r\n");
    const ino_t before = Inode();
    // The seam's refused temporary: the same inode gets the new bytes.
    FailStepAt(kFaultTempCreate, 1);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "longer value", path_.c_str()), 1);
    EXPECT_EQ(Bytes(), "[Setup]\r\nPath=longer value\r\n");
    EXPECT_EQ(Inode(), before);

    // A failed in-place write (half written, then no space) puts the old
    // bytes back.
    FailStepAt(kFaultTempCreate, 1);
    FailStepAt(kFaultInPlaceWrite, 1);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "w", path_.c_str()), 0);
    EXPECT_EQ(Bytes(), "[Setup]\r\nPath=longer value\r\n");

    // A longer rewrite that fails on a disk refusing every truncation from
    // then on: the room claimed first must not have lengthened the file.
    FailStepAt(kFaultTempCreate, 1);
    FailStepAt(kFaultInPlaceWrite, 1);
    FailStepAt(kFaultTruncate, 1, true);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "a much longer value than before", path_.c_str()), 0);
    EXPECT_EQ(Bytes(), "[Setup]\r\nPath=longer value\r\n");

    // A real directory without write permission, for a process that must
    // respect it.
    ResetFaultsForTests();
    chmod(scratch_.Path().c_str(), 0555);
    const int result = RunWithoutFileOverride([&] {
        return OsWritePrivateProfileString("Setup", "Mode", "2", path_.c_str()) * 10 +
               OsWritePrivateProfileString("Setup", "Mode", "2", (scratch_ / "New.ini").c_str());
    });
    chmod(scratch_.Path().c_str(), 0755);
    EXPECT_EQ(result, 10) << "existing file updated, new file refused";
    EXPECT_EQ(Bytes(), "[Setup]\r\nPath=longer value\r\nMode=2\r\n");
    EXPECT_EQ(Inode(), before);
    EXPECT_EQ(ListDirectory(scratch_.Path()), std::vector<std::string>{"Orvane.ini"});
}

TEST_F(ProfileFile, DeletingASectionRemovesOnlyTheCopyThatReadsSee)
{
    WriteBytes(path_, "[Setup]\r\nPath=1\r\n[Other]\r\nX=0\r\n[setup]\r\nPath=2\r\n");
    EXPECT_EQ(OsWritePrivateProfileString("SETUP", nullptr, nullptr, path_.c_str()), 1);
    EXPECT_EQ(Bytes(), "[Other]\r\nX=0\r\n[setup]\r\nPath=2\r\n");
    char value[8];
    OsGetPrivateProfileString("Setup", "Path", "none", value, sizeof value, path_.c_str());
    EXPECT_STREQ(value, "2") << "the later copy is now the one read";
}

TEST_F(ProfileFile, MissingDirectoryFailsWritesAndIsNotCreated)
{
    const std::string missing = scratch_ / "absent/Orvane.ini";
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", "v", missing.c_str()), 0);
    EXPECT_EQ(OsWritePrivateProfileString("Setup", "Path", nullptr, missing.c_str()), 1);
    EXPECT_TRUE(ListDirectory(scratch_.Path()).empty());
}

TEST_F(ProfileFile, ConcurrentWritersLoseNothingAndReadersSeeWholeFiles)
{
    constexpr int kWrites = 200;
    auto writer = [&](const char* key) {
        // The other writer must never put back an older value of this key.
        char value[8];
        for (int i = 1; i <= kWrites; ++i) {
            const std::string text = std::to_string(i);
            if (OsWritePrivateProfileString("Setup", key, text.c_str(), path_.c_str()) != 1) return 1;
            OsGetPrivateProfileString("Setup", key, "", value, sizeof value, path_.c_str());
            if (text != value) return 2;
        }
        return 0;
    };
    // Every snapshot must be "[Setup]\r\n" and whole "A=n\r\n"/"B=n\r\n" lines.
    auto wellFormed = [](const std::string& bytes) {
        if (bytes.rfind("[Setup]\r\n", 0) != 0) return false;
        size_t at = 9;
        while (at < bytes.size()) {
            const size_t end = bytes.find("\r\n", at);
            if (end == std::string::npos || (bytes[at] != 'A' && bytes[at] != 'B') || bytes[at + 1] != '=' ||
                end == at + 2)
                return false;
            at = end + 2;
        }
        return true;
    };
    pid_t writers[2];
    const char* keys[2] = {"A", "B"};
    for (int i = 0; i < 2; ++i) {
        writers[i] = fork();
        if (writers[i] == 0) _exit(writer(keys[i]));
    }
    const pid_t reader = fork();
    if (reader == 0) {
        for (int i = 0; i < 100000; ++i) {
            const std::optional<std::string> bytes = ReadBytes(path_);
            if (bytes && !wellFormed(*bytes)) _exit(1);
            if (bytes && bytes->find("A=200\r\n") != std::string::npos && bytes->find("B=200\r\n") != std::string::npos)
                break;
        }
        _exit(0);
    }
    for (pid_t child : {writers[0], writers[1], reader}) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
    }
    char final[8];
    for (const char* key : keys) {
        OsGetPrivateProfileString("Setup", key, "", final, sizeof final, path_.c_str());
        EXPECT_STREQ(final, "200") << key;
    }
}

TEST(WindowsDirectory, ComesFromWindirThenXdgThenHome)
{
    ScratchDirectory scratch;
    const std::string windir = scratch / "windir", xdg = scratch / "xdg", home = scratch / "home";
    MakeDirectory(windir);
    WriteBytes(windir + "/Orvane.ini", "[Setup]\r\nFrom=windir\r\n");
    char value[32];
    {
        ScopedEnvironment set("WINDIR", windir.c_str()), config("XDG_CONFIG_HOME", xdg.c_str());
        OsGetPrivateProfileString("Setup", "From", "none", value, sizeof value, "ORVANE.INI");
        EXPECT_STREQ(value, "windir");
    }
    {
        // An empty WINDIR does not count. Reads create nothing; the first
        // write makes the directory.
        ScopedEnvironment empty("WINDIR", ""), config("XDG_CONFIG_HOME", xdg.c_str());
        OsGetPrivateProfileString("Setup", "From", "none", value, sizeof value, "Orvane.ini");
        EXPECT_STREQ(value, "none");
        EXPECT_FALSE(ReadBytes(xdg + "/orvane/Orvane.ini"));
        EXPECT_EQ(OsWriteProfileString("Orvane55", "Running", nullptr), 1);
        EXPECT_TRUE(ListDirectory(scratch.Path()) == (std::vector<std::string>{"windir"})) << "a delete made files";
        EXPECT_EQ(OsWritePrivateProfileString("Setup", "From", "xdg", "Orvane.ini"), 1);
        EXPECT_EQ(ReadBytes(xdg + "/orvane/Orvane.ini"), "[Setup]\r\nFrom=xdg\r\n");
    }
    {
        // A relative XDG_CONFIG_HOME is ignored: ~/.config it is.
        ScopedEnvironment unset("WINDIR", nullptr), config("XDG_CONFIG_HOME", "relative"), user("HOME", home.c_str());
        EXPECT_EQ(OsWriteProfileString("Orvane55", "Running", "1"), 1);
        EXPECT_EQ(ReadBytes(home + "/.config/orvane/win.ini"), "[Orvane55]\r\nRunning=1\r\n");
        OsGetProfileString("ORVANE55", "RUNNING", "0", value, sizeof value);
        EXPECT_STREQ(value, "1");
    }
    {
        // A relative WINDIR is taken in the directory the process started
        // in, and stays there when the process moves.
        ScopedEnvironment relative("WINDIR", "relwin");
        char before[4096], after[4096];
        ASSERT_GT(OsGetWindowsDirectory(before, sizeof before), 0u);
        EXPECT_EQ(before[0], '/');
        ScopedCurrentDirectory moved(scratch.Path());
        ASSERT_GT(OsGetWindowsDirectory(after, sizeof after), 0u);
        EXPECT_STREQ(after, before);
        EXPECT_NE(std::string(after), scratch / "relwin");
    }
}

} // namespace
