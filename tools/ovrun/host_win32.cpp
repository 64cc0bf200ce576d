// Windows: full path names and attributes, CreateProcessA, a job object and
// WaitForSingleObject, and binary standard streams.
#include "host.h"

#include <fcntl.h>
#include <io.h>
#include <vector>
#include <windows.h>

const char kLauncherFileName[] = "OVTST552.EXE";
const bool kBackslashIsSeparator = true;

// The exit status of a launcher ended for running too long.
constexpr UINT kTimedOutStatus = 3;
// How long a process that was told to end may take to go.
constexpr DWORD kEndingMilliseconds = 10000;

std::string AbsolutePath(const std::string& path)
{
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return "";
    std::vector<char> buffer(needed);
    const DWORD length = GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return "";
    return std::string(buffer.data(), length);
}

std::string CurrentDirectoryPath()
{
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return "";
    std::vector<char> buffer(needed);
    const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
    if (length == 0 || length >= needed) return "";
    return std::string(buffer.data(), length);
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string WindowsDirectoryProblem() { return ""; }

// Ctrl+C reaches every process of the console; ovrun waits on for the
// launcher (a GUI program, which does not get it) to end.
static BOOL WINAPI IgnoreInterrupt(DWORD) { return TRUE; }

// With a limit the launcher starts suspended and joins a job object before
// it runs, so that ending the job ends whatever it started too (a message
// box's process, a program of the test). Where the job cannot be had (an
// older Windows that refuses nested jobs), the launcher alone is ended.
LauncherEnd RunLauncher(const std::string& path, const std::string& commandLine, long timeoutSeconds)
{
    LauncherEnd end;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // CreateProcessA may write into the command line.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const DWORD flags = timeoutSeconds > 0 ? CREATE_SUSPENDED : 0;
    if (!CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        end.Failure = "CreateProcess failed with error " + std::to_string(GetLastError());
        return end;
    }
    HANDLE job = nullptr;
    if (timeoutSeconds > 0) {
        job = CreateJobObjectA(nullptr, nullptr);
        if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
            CloseHandle(job);
            job = nullptr;
        }
        ResumeThread(process.hThread);
    }
    end.Started = true;
    SetConsoleCtrlHandler(IgnoreInterrupt, TRUE);
    const DWORD limit = timeoutSeconds > 0 ? static_cast<DWORD>(timeoutSeconds) * 1000 : INFINITE;
    if (WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
        end.TimedOut = true;
        if (job == nullptr || !TerminateJobObject(job, kTimedOutStatus))
            TerminateProcess(process.hProcess, kTimedOutStatus);
        WaitForSingleObject(process.hProcess, kEndingMilliseconds);
    }
    SetConsoleCtrlHandler(IgnoreInterrupt, FALSE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    if (job != nullptr) CloseHandle(job);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    end.Exited = true;
    end.Status = static_cast<int>(status);
    return end;
}

// Redirected output gets the UTF-8 bytes exactly; the C runtime must not
// turn "\n" into "\r\n" behind them.
void PrepareOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
