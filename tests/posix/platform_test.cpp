// The Linux platform procedures other than profile files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_faults.h"
#include "posix_paths.h"
#include "posix_test_support.h"
#include "text_and_bytes.h"

extern char** environ;

namespace {

class PlatformTest : public testing::Test {
  protected:
    void TearDown() override { ResetFaultsForTests(); }
};

TEST_F(PlatformTest, EnvironmentBlockHoldsEveryStringThenOneMoreNul)
{
    ScopedEnvironment marker("OV_POSIX_MARKER", "a=b \xE9");
    char* block = OsGetEnvironmentStrings();
    ASSERT_NE(block, nullptr);
    const char* at = block;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        ASSERT_STREQ(at, *entry);
        at += std::strlen(at) + 1;
    }
    EXPECT_EQ(*at, '\0') << "the block ends with an empty string";
    EXPECT_NE(OsFreeEnvironmentStrings(block), 0);

    const int emptyLayout = RunWithoutFileOverride([] {
        clearenv();
        const char* empty = OsGetEnvironmentStrings();
        return empty != nullptr && empty[0] == '\0' && empty[1] == '\0' ? 0 : 1;
    });
    EXPECT_EQ(emptyLayout, 0) << "an empty environment is two NULs";
}

TEST_F(PlatformTest, ProgramIsFoundByItsNameWithOrWithoutExe)
{
    const std::string self = ExecutablePath();
    const std::string name = FileNamePart(self);
    const ModuleHandle program = OsGetModuleHandle(nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(OsGetModuleHandle(UpperAscii(name).c_str()), program);
    EXPECT_EQ(OsGetModuleHandle((UpperAscii(name) + ".EXE").c_str()), program);
    EXPECT_EQ(OsGetModuleHandle((name + ".dll").c_str()), nullptr);
    EXPECT_EQ(OsGetModuleHandle("OTHER.EXE"), nullptr);

    char buffer[512];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(OsGetModuleFileName(program, buffer, sizeof buffer), self.size());
    EXPECT_EQ(buffer, self);
    EXPECT_EQ(self.front(), '/');
    EXPECT_EQ(OsGetModuleFileName(program, buffer, 5), 4u);
    EXPECT_EQ(std::string(buffer), self.substr(0, 4));
    EXPECT_EQ(OsGetModuleFileName(program, buffer, 0), 0u);
    EXPECT_EQ(OsGetModuleFileName(reinterpret_cast<ModuleHandle>(buffer), buffer, sizeof buffer), 0u);
}

// The exit status of the probe program at path: 0 when it found itself
// under the launcher's name.
int RunLauncherNameProbe(const std::string& path)
{
    const pid_t child = fork();
    if (child == 0) {
        execl(path.c_str(), path.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(PlatformTest, LauncherNameMatchesAProgramCalledOvtst552)
{
    const std::string probe = DirectoryPart(ExecutablePath()) + "/ovposixnameprobe";
    EXPECT_EQ(RunLauncherNameProbe(probe), 1) << "under its own name";
    ScratchDirectory scratch;
    const std::string copy = scratch / "ovtst552";
    std::filesystem::copy_file(probe, copy);
    EXPECT_EQ(RunLauncherNameProbe(copy), 0) << "called ovtst552";
}

TEST_F(PlatformTest, LibraryBesideTheProgramComesFirstAndIsCounted)
{
    // The probe library is ovposixprobe.dll beside this program; the name
    // asked for differs in case, as the engine's does.
    ModuleHandle library = OsLoadLibrary("OVPOSIXPROBE.DLL");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(OsLoadLibrary("ovposixprobe.dll"), library) << "a second load hands back the same handle";
    auto answer = reinterpret_cast<int32_t (*)()>(OsGetProcAddress(library, "ProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(OsGetProcAddress(library, "NoSuchProcedure"), nullptr);
    EXPECT_EQ(OsGetModuleHandle("OvPosixProbe.DLL"), library);
    char path[512];
    ASSERT_GT(OsGetModuleFileName(library, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), DirectoryPart(ExecutablePath()) + "/ovposixprobe.dll");

    EXPECT_EQ(OsFreeLibrary(library), 1);
    EXPECT_EQ(OsGetModuleHandle("ovposixprobe.dll"), library) << "one reference is left";
    EXPECT_EQ(OsFreeLibrary(library), 1);
    EXPECT_EQ(OsGetModuleHandle("ovposixprobe.dll"), nullptr);
    EXPECT_EQ(OsFreeLibrary(library), 0) << "a freed handle is refused";
    EXPECT_EQ(OsGetProcAddress(library, "ProbeAnswer"), nullptr);
}

TEST_F(PlatformTest, LibrarySearchFallsBackToTheSystemAndCanBeMadeToFail)
{
    EXPECT_EQ(OsLoadLibrary("OV553KRN-NOT-THERE.DLL"), nullptr);
    ModuleHandle system = OsLoadLibrary("libm.so.6");
    ASSERT_NE(system, nullptr);
    EXPECT_NE(OsGetProcAddress(system, "cos"), nullptr);
    FailStepAt(kFaultSymbolLookup, 1);
    EXPECT_EQ(OsGetProcAddress(system, "cos"), nullptr);
    EXPECT_NE(OsGetProcAddress(system, "cos"), nullptr);
    EXPECT_EQ(OsFreeLibrary(system), 1);
    FailStepAt(kFaultLibraryLoad, 1);
    EXPECT_EQ(OsLoadLibrary("libm.so.6"), nullptr);
}

TEST_F(PlatformTest, GlobalMemoryCountsLocksAndRefusesForeignHandles)
{
    GlobalMemoryHandle memory = OsGlobalAlloc(kGhnd, 64);
    ASSERT_NE(memory, nullptr);
    auto* bytes = static_cast<unsigned char*>(OsGlobalLock(memory));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 64), std::vector<unsigned char>(64, 0)) << "zero-filled";
    EXPECT_EQ(OsGlobalLock(memory), bytes);
    EXPECT_EQ(OsGlobalHandle(bytes), memory);
    EXPECT_EQ(OsGlobalHandle(bytes + 1), nullptr);
    int local = 0;
    EXPECT_EQ(OsGlobalHandle(&local), nullptr);
    EXPECT_EQ(OsGlobalUnlock(memory), 1);
    EXPECT_EQ(OsGlobalUnlock(memory), 0);
    EXPECT_EQ(OsGlobalUnlock(memory), 0) << "not locked any more";
    EXPECT_EQ(OsGlobalFree(memory), nullptr);
    EXPECT_EQ(OsGlobalLock(memory), nullptr);
    EXPECT_EQ(OsGlobalHandle(bytes), nullptr);
    EXPECT_EQ(OsGlobalFree(memory), memory) << "freeing twice fails";
    const GlobalMemoryHandle foreign = reinterpret_cast<GlobalMemoryHandle>(&local);
    EXPECT_EQ(OsGlobalFree(foreign), foreign);
    EXPECT_EQ(OsGlobalUnlock(foreign), 0);

    FailStepAt(kFaultGlobalAlloc, 2);
    GlobalMemoryHandle first = OsGlobalAlloc(kGhnd, 8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(OsGlobalAlloc(kGhnd, 8), nullptr);
    EXPECT_EQ(OsGlobalFree(first), nullptr);
}

TEST_F(PlatformTest, ChangeDirectoryMatchesComponentsIgnoringCase)
{
    ScratchDirectory scratch;
    MakeDirectory(scratch / "Xyz/def");
    MakeDirectory(scratch / "Abc");
    MakeDirectory(scratch / "ABC");
    const std::string home = std::filesystem::current_path().string();
    const std::string real = std::filesystem::canonical(scratch.Path()).string();
    // The console upper-cases its path: every component is matched.
    EXPECT_EQ(OsChangeDirectory(UpperAscii(real + "/xyz/def/").c_str()), 0);
    EXPECT_EQ(std::filesystem::current_path().string(), real + "/Xyz/def");
    // An exact name wins over another spelling.
    EXPECT_EQ(OsChangeDirectory((real + "/Abc").c_str()), 0);
    EXPECT_EQ(std::filesystem::current_path().string(), real + "/Abc");
    EXPECT_EQ(OsChangeDirectory("../XYZ/Def"), 0) << "relative paths too";
    EXPECT_EQ(std::filesystem::current_path().string(), real + "/Xyz/def");
    EXPECT_EQ(OsChangeDirectory((real + "/missing").c_str()), -1);
    EXPECT_EQ(std::filesystem::current_path().string(), real + "/Xyz/def");
    EXPECT_EQ(OsChangeDrive(3), 0);
    std::filesystem::current_path(home);
}

TEST_F(PlatformTest, OpenFileOnlyTestsExistence)
{
    ScratchDirectory scratch;
    WriteBytes(scratch / "Probe.txt", "x");
    const int32_t file = OsOpenFile(UpperAscii(scratch / "probe.txt").c_str(), kOfExist);
    EXPECT_GE(file, 0);
    EXPECT_EQ(OsCloseFile(file), 0);
    EXPECT_EQ(OsOpenFile("A:.", kOfExist), kHFileError);
    EXPECT_EQ(OsOpenFile((scratch / "none").c_str(), kOfExist), kHFileError);
    EXPECT_EQ(OsSetErrorMode(kSemFailCriticalErrors), 0u);
    EXPECT_EQ(OsSetErrorMode(0), kSemFailCriticalErrors);
}

TEST_F(PlatformTest, WindowStandInsTrackClassesAndWindows)
{
    OsWindowClass windowClass{};
    windowClass.className = "PosixTestClass";
    const uint16_t atom = OsRegisterClass(&windowClass);
    EXPECT_NE(atom, 0);
    windowClass.className = "POSIXTESTCLASS";
    EXPECT_EQ(OsRegisterClass(&windowClass), 0) << "registered twice";
    const WindowHandle window =
        OsCreateWindowEx(0, "posixtestclass", "t", kWsPopup, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(OsCreateWindowEx(0, "Unregistered", "t", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(OsDefWindowProc(window, 1, 2, 3), 0);
    EXPECT_EQ(OsDestroyWindow(window), 1);
    EXPECT_EQ(OsDestroyWindow(window), 0);
    const void* cursor = OsLoadCursor(nullptr, kIdcArrow);
    const void* brush = OsGetStockBrush(kWhiteBrush);
    EXPECT_NE(cursor, nullptr);
    EXPECT_NE(brush, nullptr);
    EXPECT_NE(cursor, brush);
}

TEST_F(PlatformTest, MessageBoxWritesCaptionAndTextToStandardError)
{
    ScratchDirectory scratch;
    const std::string log = scratch / "stderr";
    const int result = RunWithoutFileOverride([&] {
        const int output = open(log.c_str(), O_WRONLY | O_CREAT, 0644);
        const int input = open("/dev/null", O_RDONLY);
        dup2(output, STDERR_FILENO);
        dup2(input, STDIN_FILENO);
        const int box = OsMessageBox(nullptr, "APPELOV: Init failed", "ERROR", kMbOk);
        OsMessageBeep(0);
        return box;
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadBytes(log), "ERROR: APPELOV: Init failed\n") << "and no BEL: standard error is no terminal";
}

TEST_F(PlatformTest, ExitProcessEndsWithTheStatus) { EXPECT_EXIT(OsExitProcess(7), testing::ExitedWithCode(7), ""); }

} // namespace
