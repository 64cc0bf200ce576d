// Settings writes cut short by the process dying at each of their steps: a
// child process makes the write and is ended at the chosen point (no
// destructor run, no stream flushed); the parent then checks what is on disk,
// and that a later run reads the file and writes another key to it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"
#include "posix_faults.h"
#include "posix_test_support.h"

using namespace std::string_literals;

namespace {

const char kFileName[] = "Orvane.ini";

// Every write changes Path; Keep is a key it has no reason to touch.
std::string WithPath(const std::string& value)
{
    return "; the editor's comment\r\n[Setup]\r\nPath=" + value + "\r\n[Other]\r\nKeep=yes\r\n";
}

std::string ReadValue(const std::string& path, const char* section, const char* key)
{
    char value[64];
    OsGetPrivateProfileString(section, key, "<default>", value, sizeof value, path.c_str());
    return value;
}

// Writes Path=value in a child process that dies at point, bytesFirst bytes
// into its write there. True when the child ended at that point.
bool WriteAndDie(const std::string& path, const std::string& value, CrashPoint point, size_t bytesFirst = 0)
{
    return RunWithoutFileOverride([&] {
               ArmCrash(point, bytesFirst);
               OsWritePrivateProfileString("Setup", "Path", value.c_str(), path.c_str());
               return 0;
           }) == kCrashExitStatus;
}

// Writes [Later] Key=n as a later run of the crashed writer would (without
// root's power, so that a directory refusing new files refuses them again).
int WriteLater(const std::string& path, const char* n)
{
    return RunWithoutFileOverride([&] { return OsWritePrivateProfileString("Later", "Key", n, path.c_str()); });
}

// The later run's write succeeds, keeps every byte the crash left, adds its
// section after them and reads it back.
void ExpectLaterWriteKeepsTheFile(const std::string& path, const std::string& left)
{
    ASSERT_EQ(WriteLater(path, "1"), 1);
    const std::string after = ReadBytes(path).value_or("<missing>");
    EXPECT_EQ(after.compare(0, left.size(), left), 0) << "bytes of the file were lost:\n" << after;
    std::string added = after.substr(std::min(left.size(), after.size()));
    const bool cutLine = !left.empty() && left.back() != '\n' && left.back() != '\r'; // CR alone ends a line too
    EXPECT_EQ(added, (cutLine ? "\r\n" : "") + "[Later]\r\nKey=1\r\n"s);
    EXPECT_EQ(ReadValue(path, "Later", "Key"), "1");
}

std::vector<std::string> Leftovers(const std::string& directory)
{
    std::vector<std::string> names = ListDirectory(directory);
    names.erase(std::remove(names.begin(), names.end(), kFileName), names.end());
    return names;
}

TEST(CrashPoints, AReplacementLeavesTheOldFileOrTheNewAndItsStaleTemporaryGoes)
{
    const std::string oldValue = "old", newValue = "new value";
    const size_t size = WithPath(newValue).size();
    struct Case {
        const char* Label;
        CrashPoint Point;
        size_t BytesFirst;
        bool Replaced; // the new file is in place
    };
    const Case cases[] = {
        {"temporary made", kCrashTempCreated, 0, false},
        {"one byte of it written", kCrashTempWrite, 1, false},
        {"half of it written", kCrashTempWrite, size / 2, false},
        {"all but its last byte written", kCrashTempWrite, size - 1, false},
        {"all of it written", kCrashTempWritten, 0, false},
        {"flushed", kCrashTempSynced, 0, false},
        {"closed, before the rename", kCrashBeforeRename, 0, false},
        {"renamed, before the directory's flush", kCrashRenamed, 0, true},
    };
    for (bool existed : {true, false}) {
        for (const Case& step : cases) {
            SCOPED_TRACE(std::string(existed ? "replacing a file: " : "a new file: ") + step.Label);
            ScratchDirectory scratch;
            const std::string path = scratch / kFileName;
            if (existed) WriteBytes(path, WithPath(oldValue));
            ASSERT_TRUE(WriteAndDie(path, newValue, step.Point, step.BytesFirst)) << "the point was not reached";

            const std::optional<std::string> left = ReadBytes(path);
            if (step.Replaced) {
                EXPECT_EQ(left, existed ? WithPath(newValue) : "[Setup]\r\nPath=" + newValue + "\r\n");
            } else if (existed) {
                EXPECT_EQ(left, WithPath(oldValue));
            } else {
                EXPECT_FALSE(left) << "a file appeared";
            }
            EXPECT_EQ(ReadValue(path, "Setup", "Path"), step.Replaced ? newValue : existed ? oldValue : "<default>");
            const std::vector<std::string> leftovers = Leftovers(scratch.Path());
            EXPECT_EQ(leftovers.size(), step.Replaced ? 0u : 1u);

            ExpectLaterWriteKeepsTheFile(path, left.value_or(""));
            // The dead writer's temporary outlives a later write while it is
            // recent, and goes with the first write after it is an hour old.
            EXPECT_EQ(Leftovers(scratch.Path()), leftovers);
            const timespec hoursAgo[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
            for (const std::string& name : leftovers)
                ASSERT_EQ(utimensat(AT_FDCWD, (scratch / name).c_str(), hoursAgo, 0), 0);
            EXPECT_EQ(WriteLater(path, "2"), 1);
            EXPECT_TRUE(Leftovers(scratch.Path()).empty());
        }
    }
}

// A directory that refuses new files, holding Orvane.ini: each write
// rewrites the file itself.
struct RefusingDirectory {
    explicit RefusingDirectory(const std::string& bytes)
    {
        WriteBytes(Path, bytes);
        chmod(Scratch.Path().c_str(), 0555);
    }
    ScratchDirectory Scratch;
    std::string Path = Scratch / kFileName;
};

TEST(CrashPoints, AnInPlaceRewriteIsWholeAtEveryStepButPartWayThroughItsWrite)
{
    const std::pair<std::string, std::string> rewrites[] = {{"v", "a much longer value"}, {"a much longer value", "v"}};
    for (const auto& [oldValue, newValue] : rewrites) {
        SCOPED_TRACE("Path=" + oldValue + " becomes Path=" + newValue);
        const std::string oldBytes = WithPath(oldValue), newBytes = WithPath(newValue);

        // Before any byte is written: the old file. Written, length not yet
        // set: the new text (a shorter one padded with blanks to the old
        // length), which reads as the new. Length set, not yet flushed: the
        // new file.
        std::string written;
        for (CrashPoint point : {kCrashInPlaceStart, kCrashInPlaceWritten, kCrashInPlaceTruncated}) {
            SCOPED_TRACE("crash point " + std::to_string(point));
            RefusingDirectory directory(oldBytes);
            ASSERT_TRUE(WriteAndDie(directory.Path, newValue, point)) << "the point was not reached";
            const std::string left = ReadBytes(directory.Path).value_or("<missing>");
            if (point == kCrashInPlaceStart) {
                EXPECT_EQ(left, oldBytes);
            } else if (point == kCrashInPlaceTruncated) {
                EXPECT_EQ(left, newBytes);
            } else {
                written = left;
                EXPECT_EQ(written.size(), std::max(oldBytes.size(), newBytes.size()));
                EXPECT_EQ(written.compare(0, newBytes.size(), newBytes), 0);
                EXPECT_EQ(written.find_first_not_of(" \r\n", newBytes.size()), std::string::npos) << written;
            }
            EXPECT_EQ(ReadValue(directory.Path, "Setup", "Path"), point == kCrashInPlaceStart ? oldValue : newValue);
            EXPECT_EQ(ReadValue(directory.Path, "Other", "Keep"), "yes");
            ExpectLaterWriteKeepsTheFile(directory.Path, left);
            EXPECT_TRUE(Leftovers(directory.Scratch.Path()).empty());
        }
        ASSERT_FALSE(written.empty());

        // Part way through the write: the first bytes of the new text over
        // the old, the rest old. That cannot be made atomic in place; the
        // file is never longer than the longer text, never holds a byte of
        // neither, and a later write still keeps it as it is.
        size_t torn = 0, unreadable = 0;
        for (size_t part = 1; part < written.size(); ++part) {
            SCOPED_TRACE(std::to_string(part) + " bytes written");
            RefusingDirectory directory(oldBytes);
            ASSERT_TRUE(WriteAndDie(directory.Path, newValue, kCrashInPlaceWrite, part));
            const std::string left = ReadBytes(directory.Path).value_or("<missing>");
            std::string expected = written.substr(0, part);
            if (part < oldBytes.size()) expected += oldBytes.substr(part);
            EXPECT_EQ(left, expected);
            if (left != oldBytes && left != written) {
                ++torn;
                const std::string path = ReadValue(directory.Path, "Setup", "Path");
                if ((path != oldValue && path != newValue) || ReadValue(directory.Path, "Other", "Keep") != "yes")
                    ++unreadable;
            }
            ExpectLaterWriteKeepsTheFile(directory.Path, left);
        }
        std::cout << "[ crashes  ] in place, Path=" << oldValue << " to Path=" << newValue << ": " << torn << " of "
                  << written.size() - 1 << " crashes part way leave a torn file, " << unreadable
                  << " of them with Path or Keep no longer read as written\n";
    }
}

} // namespace
