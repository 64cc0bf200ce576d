// The read cache of the profile layer: reads of a file that has not changed
// cost one read and one parse, and every change made by someone else is
// seen by the next read, however close it comes and whatever it keeps of
// the file's size, times and inode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform.h"
#include "posix_profile_cache.h"
#include "posix_profile_location.h"
#include "posix_test_support.h"

namespace {

// Runs body in another process and waits for it.
void InAnotherProcess(const std::function<void()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Overwrites the file's bytes where they are: same inode, no truncation.
void RewriteInPlace(const std::string& path, const std::string& bytes)
{
    const int descriptor = open(path.c_str(), O_WRONLY);
    if (descriptor < 0 || pwrite(descriptor, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        _exit(1);
    close(descriptor);
}

struct timespec ModificationTime(const std::string& path)
{
    struct stat status;
    stat(path.c_str(), &status);
    return status.st_mtim;
}

// Puts the file's modification and access times back to `modified`.
void SetModificationTime(const std::string& path, const struct timespec& modified)
{
    const struct timespec times[2] = {modified, modified};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) _exit(2);
}

// Long enough for the file's times to lie in the past at the next read,
// so that the cache may use the file's entry without reading it.
void LetTheFileSettle() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

class ProfileCache : public testing::Test {
  protected:
    void SetUp() override
    {
        DropProfileCacheForTests();
        ForgetPlacedProfilesForTests();
        ProfileCacheStatistics = {};
    }

    ScratchDirectory scratch_;
    ScopedEnvironment windir_{"WINDIR", scratch_.Path().c_str()};
    std::string path_ = scratch_ / "Orvane.ini";

    std::string Read(const char* key, const char* fileName = "Orvane.ini")
    {
        char buffer[64];
        OsGetPrivateProfileString("TEST", key, "(none)", buffer, sizeof buffer, fileName);
        return buffer;
    }
};

TEST_F(ProfileCache, ADozenReadsOfAnUnchangedFileReadAndParseItOnce)
{
    WriteBytes(path_, "[TEST]\r\nCOMMANDE=EDITEUR\r\nREPEXE=/opt\r\nPARAM2=F\r\n");
    LetTheFileSettle();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ("EDITEUR", Read("COMMANDE"));
        EXPECT_EQ("/opt", Read("REPEXE"));
        EXPECT_EQ("(none)", Read("MISSING"));
    }
    EXPECT_EQ(1u, ProfileCacheStatistics.FileReads);
    EXPECT_EQ(1u, ProfileCacheStatistics.Parses);
}

TEST_F(ProfileCache, AFileWhoseTimesAreNotPastIsReadEachTimeButParsedOnce)
{
    // A time that is not yet past could be stamped again by the next change,
    // so the file is read at each call, and its bytes compared. (A time in
    // the future stands for one that is now.)
    WriteBytes(path_, "[TEST]\r\nCOMMANDE=EDITEUR\r\n");
    struct timespec future = ModificationTime(path_);
    future.tv_sec += 3600;
    SetModificationTime(path_, future);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ("EDITEUR", Read("COMMANDE"));
    EXPECT_EQ(3u, ProfileCacheStatistics.FileReads);
    EXPECT_EQ(1u, ProfileCacheStatistics.Parses);
}

TEST_F(ProfileCache, SeesASameSizeRewriteByAnotherProcessAtOnce)
{
    WriteBytes(path_, "[TEST]\r\nKEY=aaaa\r\n");
    EXPECT_EQ("aaaa", Read("KEY"));
    InAnotherProcess([&] { RewriteInPlace(path_, "[TEST]\r\nKEY=bbbb\r\n"); });
    EXPECT_EQ("bbbb", Read("KEY"));
    InAnotherProcess([&] { RewriteInPlace(path_, "[TEST]\r\nKEY=cccc\r\n"); });
    EXPECT_EQ("cccc", Read("KEY"));
}

TEST_F(ProfileCache, SeesASettledFileRewrittenWithItsSizeAndTimesKept)
{
    WriteBytes(path_, "[TEST]\r\nKEY=aaaa\r\n");
    LetTheFileSettle();
    EXPECT_EQ("aaaa", Read("KEY"));
    EXPECT_EQ("aaaa", Read("KEY")); // now taken from the cache
    // Same size, same inode, the modification time put back: only the
    // change time, which nobody can set, tells.
    const struct timespec modified = ModificationTime(path_);
    InAnotherProcess([&] {
        RewriteInPlace(path_, "[TEST]\r\nKEY=bbbb\r\n");
        SetModificationTime(path_, modified);
    });
    EXPECT_EQ(modified.tv_nsec, ModificationTime(path_).tv_nsec);
    EXPECT_EQ("bbbb", Read("KEY"));
}

TEST_F(ProfileCache, SeesASettledFileRewrittenWithinTheSameSecond)
{
    WriteBytes(path_, "[TEST]\r\nKEY=aaaa\r\n");
    LetTheFileSettle();
    EXPECT_EQ("aaaa", Read("KEY"));
    EXPECT_EQ("aaaa", Read("KEY"));
    InAnotherProcess([&] { RewriteInPlace(path_, "[TEST]\r\nKEY=bbbb\r\n"); });
    EXPECT_EQ("bbbb", Read("KEY"));
    EXPECT_EQ("bbbb", Read("KEY"));
    EXPECT_EQ(2u, ProfileCacheStatistics.Parses);
}

TEST_F(ProfileCache, SeesAFileReplacedByRenameAndAFileRemoved)
{
    WriteBytes(path_, "[TEST]\r\nKEY=aaaa\r\n");
    LetTheFileSettle();
    EXPECT_EQ("aaaa", Read("KEY"));
    const struct timespec modified = ModificationTime(path_);
    InAnotherProcess([&] {
        const std::string other = scratch_ / "new.ini";
        WriteBytes(other, "[TEST]\r\nKEY=bbbb\r\n");
        SetModificationTime(other, modified);
        if (rename(other.c_str(), path_.c_str()) != 0) _exit(3);
    });
    EXPECT_EQ("bbbb", Read("KEY"));
    InAnotherProcess([&] { unlink(path_.c_str()); });
    EXPECT_EQ("(none)", Read("KEY"));
}

TEST_F(ProfileCache, OwnWritesAreReadBackUnderEveryNameOfTheFile)
{
    WriteBytes(path_, "[TEST]\r\nKEY=aaaa\r\n");
    LetTheFileSettle();
    const std::string full = path_;
    EXPECT_EQ("aaaa", Read("KEY"));
    EXPECT_EQ("aaaa", Read("KEY", "ORVANE.INI"));
    EXPECT_EQ("aaaa", Read("KEY", full.c_str()));
    ASSERT_NE(0, OsWritePrivateProfileString("TEST", "KEY", "bbbb", "orvane.ini"));
    EXPECT_EQ("bbbb", Read("KEY"));
    EXPECT_EQ("bbbb", Read("KEY", "ORVANE.INI"));
    EXPECT_EQ("bbbb", Read("KEY", full.c_str()));
    ASSERT_NE(0, OsWritePrivateProfileString("TEST", nullptr, nullptr, full.c_str()));
    EXPECT_EQ("(none)", Read("KEY", "ORVANE.INI"));
    EXPECT_EQ("", ReadBytes(path_).value_or("<missing>"));
}

TEST_F(ProfileCache, ManyFilesInTurnEachReadTheirOwnValues)
{
    // More files than the cache holds, read round and round.
    const int kFiles = 7;
    for (int i = 0; i < kFiles; ++i)
        WriteBytes(scratch_ / ("f" + std::to_string(i) + ".ini"), "[TEST]\r\nKEY=" + std::to_string(i) + "\r\n");
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "f" + std::to_string(i) + ".ini";
            EXPECT_EQ(std::to_string(i), Read("KEY", name.c_str())) << name << " round " << round;
        }
    }
}

TEST_F(ProfileCache, AChangedWindowsDirectoryIsAnotherFile)
{
    ScratchDirectory other;
    WriteBytes(path_, "[TEST]\r\nKEY=first\r\n");
    WriteBytes(other / "Orvane.ini", "[TEST]\r\nKEY=second\r\n");
    EXPECT_EQ("first", Read("KEY"));
    {
        ScopedEnvironment windir("WINDIR", other.Path().c_str());
        EXPECT_EQ("second", Read("KEY"));
    }
    EXPECT_EQ("first", Read("KEY"));
    // Without WINDIR, the directory follows XDG_CONFIG_HOME, then HOME.
    ScratchDirectory config, home;
    std::filesystem::create_directories(config.Path() + "/orvane");
    std::filesystem::create_directories(home.Path() + "/.config/orvane");
    WriteBytes(config / "orvane/Orvane.ini", "[TEST]\r\nKEY=third\r\n");
    WriteBytes(home / ".config/orvane/Orvane.ini", "[TEST]\r\nKEY=fourth\r\n");
    ScopedEnvironment unset("WINDIR", nullptr), xdg("XDG_CONFIG_HOME", config.Path().c_str()),
        user("HOME", home.Path().c_str());
    EXPECT_EQ("third", Read("KEY"));
    {
        ScopedEnvironment noXdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ("fourth", Read("KEY"));
    }
    EXPECT_EQ("third", Read("KEY"));
}

} // namespace
