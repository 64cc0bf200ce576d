// The Linux layer against damaged files and concurrent processes: library
// files cut short, and several processes writing different keys of one
// settings file at once, through the atomic replacement and through the
// in-place rewrite of a directory that refuses new files, while another
// process reads through the layer, and through a link and its target.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_paths.h"
#include "posix_test_support.h"

namespace {

std::string ProbeLibraryPath() { return DirectoryPart(ExecutablePath()) + "/ovposixprobe.dll"; }

TEST(LibraryFile, CutShortIsRefusedInsteadOfEndingTheProcess)
{
    const std::optional<std::string> whole = ReadBytes(ProbeLibraryPath());
    ASSERT_TRUE(whole && whole->size() > 8192);
    ScratchDirectory scratch;
    // A cut inside the header, inside the program headers, and inside the
    // loaded segments: the last one used to end the process with SIGBUS.
    for (size_t length : {size_t{0}, size_t{40}, size_t{1000}, size_t{4096}, size_t{8192}}) {
        const std::string path = scratch / ("cut" + std::to_string(length) + ".dll");
        WriteBytes(path, whole->substr(0, length));
        EXPECT_EXIT(
            {
                ModuleHandle library = OsLoadLibrary(path.c_str());
                std::exit(library == nullptr ? 0 : 1);
            },
            testing::ExitedWithCode(0), "")
            << "a copy of " << length << " bytes";
    }
    const std::string copy = scratch / "whole.dll";
    WriteBytes(copy, *whole);
    ModuleHandle library = OsLoadLibrary(copy.c_str());
    ASSERT_NE(library, nullptr) << "a whole copy still loads";
    EXPECT_NE(OsGetProcAddress(library, "ProbeAnswer"), nullptr);
    EXPECT_EQ(OsFreeLibrary(library), 1);
}

// Two writers change keys A and B of [Setup] kWrites times each, in
// increasing values; a third process reads through the layer meanwhile.
// Returns 0 when every process saw what it must.
constexpr int kWrites = 150;

int WriterProcess(const std::string& path, const char* key)
{
    for (int i = 1; i <= kWrites; ++i) {
        const std::string value = std::to_string(i);
        if (OsWritePrivateProfileString("Setup", key, value.c_str(), path.c_str()) != 1) return 10;
        char back[16];
        OsGetPrivateProfileString("Setup", key, "", back, sizeof back, path.c_str());
        // The other writer must never put back an older value of this key.
        if (value != back) return 11;
    }
    return 0;
}

int ReaderProcess(const std::string& path)
{
    int lastA = 0, lastB = 0;
    for (int round = 0; round < 100000; ++round) {
        char keep[16], a[16], b[16];
        OsGetPrivateProfileString("Other", "Keep", "", keep, sizeof keep, path.c_str());
        OsGetPrivateProfileString("Setup", "A", "0", a, sizeof a, path.c_str());
        OsGetPrivateProfileString("Setup", "B", "0", b, sizeof b, path.c_str());
        // A half-written file would lose a key or give a cut number.
        if (std::string(keep) != "yes") return 20;
        const int valueA = std::atoi(a), valueB = std::atoi(b);
        if (valueA < lastA || valueB < lastB) return 21;
        lastA = valueA;
        lastB = valueB;
        if (lastA == kWrites && lastB == kWrites) return 0;
    }
    return 0;
}

int RunConcurrently(const std::string& path)
{
    pid_t children[3];
    children[0] = fork();
    if (children[0] == 0) _exit(WriterProcess(path, "A"));
    children[1] = fork();
    if (children[1] == 0) _exit(WriterProcess(path, "B"));
    children[2] = fork();
    if (children[2] == 0) _exit(ReaderProcess(path));
    int result = 0;
    for (pid_t child : children) {
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 30;
        if (WEXITSTATUS(status) != 0 && result == 0) result = WEXITSTATUS(status);
    }
    return result;
}

const char kInitial[] = "; the editor's comment\r\n[Setup]\r\nFlag\r\n\r\n[Other]\r\nKeep=yes\r\n";

// The file as the writers leave it: the two keys added after "Flag" in
// either order, every other byte as it was.
void ExpectFinalFile(const std::string& path)
{
    const std::optional<std::string> bytes = ReadBytes(path);
    ASSERT_TRUE(bytes);
    const std::string prefix = "; the editor's comment\r\n[Setup]\r\nFlag\r\n";
    const std::string suffix = "\r\n[Other]\r\nKeep=yes\r\n";
    const std::string ab = prefix + "A=150\r\nB=150\r\n" + suffix, ba = prefix + "B=150\r\nA=150\r\n" + suffix;
    EXPECT_TRUE(*bytes == ab || *bytes == ba) << *bytes;
}

TEST(ConcurrentProcesses, WritersOfDifferentKeysLoseNothingAndLeaveOtherBytesAlone)
{
    ScratchDirectory scratch;
    const std::string path = scratch / "Orvane.ini";
    WriteBytes(path, kInitial);
    EXPECT_EQ(RunConcurrently(path), 0);
    ExpectFinalFile(path);
    EXPECT_EQ(ListDirectory(scratch.Path()), (std::vector<std::string>{"Orvane.ini"})) << "a temporary was left";
}

TEST(ConcurrentProcesses, InPlaceRewritesOfADirectoryThatRefusesNewFilesAreSerialised)
{
    ScratchDirectory scratch;
    const std::string directory = scratch / "windows";
    MakeDirectory(directory);
    const std::string path = directory + "/Orvane.ini";
    WriteBytes(path, kInitial);
    struct stat before, after;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(chmod(directory.c_str(), 0555), 0);
    // The writers and the reader run without root's power over permissions,
    // so each write rewrites the file itself rather than replacing it.
    EXPECT_EQ(RunWithoutFileOverride([&] { return RunConcurrently(path); }), 0);
    chmod(directory.c_str(), 0755);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the file was replaced, not rewritten";
    ExpectFinalFile(path);
    EXPECT_EQ(ListDirectory(directory), (std::vector<std::string>{"Orvane.ini"}));
}

// One writer goes through a link in the Windows directory, the other through
// the target's own path in another folder: the lock must be the one of the
// folder where the file is replaced, or each overwrites the other's keys.
TEST(ConcurrentProcesses, WritersThroughALinkAndThroughItsTargetLoseNoKey)
{
    constexpr int kKeysEach = 1500;
    // 3,000 flushed replacements: in memory where the system has it.
    struct stat shm;
    const bool inMemory = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode);
    ScopedEnvironment base("TMPDIR", inMemory ? "/dev/shm" : std::getenv("TMPDIR"));
    ScratchDirectory scratch;
    MakeDirectory(scratch / "windows");
    MakeDirectory(scratch / "real");
    const std::string link = scratch / "windows/Orvane.ini", target = scratch / "real/Orvane.ini";
    WriteBytes(target, kInitial);
    ASSERT_EQ(symlink("../real/Orvane.ini", link.c_str()), 0);
    auto writer = [&](const std::string& path, char prefix) {
        for (int i = 0; i < kKeysEach; ++i) {
            const std::string key = prefix + std::to_string(i);
            if (OsWritePrivateProfileString("Setup", key.c_str(), "1", path.c_str()) != 1) return 10;
        }
        return 0;
    };
    pid_t children[2];
    children[0] = fork();
    if (children[0] == 0) _exit(writer(link, 'L'));
    children[1] = fork();
    if (children[1] == 0) _exit(writer(target, 'T'));
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
    }
    struct stat status;
    ASSERT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link was replaced";
    int lost = 0;
    for (char prefix : {'L', 'T'}) {
        for (int i = 0; i < kKeysEach; ++i) {
            char value[4];
            const std::string key = prefix + std::to_string(i);
            OsGetPrivateProfileString("Setup", key.c_str(), "", value, sizeof value, target.c_str());
            if (std::string(value) != "1") ++lost;
        }
    }
    EXPECT_EQ(lost, 0) << "keys lost of " << 2 * kKeysEach;
    char keep[8];
    OsGetPrivateProfileString("Other", "Keep", "", keep, sizeof keep, target.c_str());
    EXPECT_STREQ(keep, "yes");
    EXPECT_EQ(ListDirectory(scratch / "windows"), (std::vector<std::string>{"Orvane.ini"}));
    EXPECT_EQ(ListDirectory(scratch / "real"), (std::vector<std::string>{"Orvane.ini"}));
}

} // namespace
