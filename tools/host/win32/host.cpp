// Windows: full path names and attributes, CreateProcessA, a job object and
// WaitForMultipleObjects, binary standard streams, and for replays folders,
// the console's Ctrl+C and the system's settings functions.
#include "host.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <vector>
#include <windows.h>

#include "read_setting.h"

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

bool CanAppendTo(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return CloseHandle(file);
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    DeleteFileA(path.c_str());
    return true;
}

std::string WindowsDirectoryProblem() { return ""; }

// Ctrl+C reaches every process of the console; ovrun waits on for the
// launcher (a GUI program, which does not get it) to end.
static BOOL WINAPI IgnoreInterrupt(DWORD) { return TRUE; }

// A new job object holding the suspended process, so that ending the job
// ends whatever the process starts too, and so does ovrun's end, however it
// comes (the handle closes with the process); null where none can be had
// (an older Windows that refuses nested jobs).
static HANDLE JobOf(HANDLE process)
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr && (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
                           !AssignProcessToJobObject(job, process))) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// Waits for the process to end, for timeoutSeconds when that is not 0 and
// until interrupt is set when there is one; a process still running then
// is ended, with all its job. Fills end and closes the handles.
static void WaitForProcess(PROCESS_INFORMATION& process, HANDLE job, long timeoutSeconds, HANDLE interrupt,
                           LauncherEnd* end)
{
    HANDLE waited[2] = {process.hProcess, interrupt};
    const DWORD limit = timeoutSeconds > 0 ? static_cast<DWORD>(timeoutSeconds) * 1000 : INFINITE;
    const DWORD result = WaitForMultipleObjects(interrupt != nullptr ? 2 : 1, waited, FALSE, limit);
    if (result != WAIT_OBJECT_0) {
        end->TimedOut = result == WAIT_TIMEOUT;
        if (job == nullptr || !TerminateJobObject(job, kTimedOutStatus))
            TerminateProcess(process.hProcess, kTimedOutStatus);
        WaitForSingleObject(process.hProcess, kEndingMilliseconds);
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    if (job != nullptr) CloseHandle(job);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    end->Exited = true;
    end->Status = static_cast<int>(status);
}

namespace {

HANDLE InterruptEvent = nullptr; // set by Ctrl+C once CatchInterrupts ran
volatile LONG InterruptSeen = 0;

// How long a closed console leaves a replay to put the settings back: the
// system ends the process when the handler returns, or after five seconds.
constexpr DWORD kClosingMilliseconds = 4500;

BOOL WINAPI NoteInterrupt(DWORD event)
{
    InterruptSeen = 1;
    if (InterruptEvent != nullptr) SetEvent(InterruptEvent);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(kClosingMilliseconds);
    return TRUE;
}

bool SameVariableName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The environment block of a run: ovrun's, less what the run takes out or
// sets itself, plus what it sets, sorted as Windows keeps it.
std::vector<char> RunEnvironment(const ProgramRun& run)
{
    std::vector<std::string> entries;
    char* block = GetEnvironmentStringsA();
    for (const char* entry = block; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
        const std::string text = entry;
        // "=C:=C:\..." entries name a drive's directory: their name starts after the first '='.
        const std::string name = text.substr(0, text.find('=', 1));
        bool replaced = false;
        for (const std::string& unset : run.Unset)
            replaced = replaced || SameVariableName(name, unset);
        for (const auto& variable : run.Environment)
            replaced = replaced || SameVariableName(name, variable.first);
        if (!replaced) entries.push_back(text);
    }
    if (block != nullptr) FreeEnvironmentStringsA(block);
    for (const auto& variable : run.Environment)
        entries.push_back(variable.first + "=" + variable.second);
    std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
        return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
    });
    std::vector<char> result;
    for (const std::string& entry : entries)
        result.insert(result.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    result.push_back('\0');
    return result;
}

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

// Every program starts suspended and joins a job object before it runs, so
// that ending the job ends whatever it started too (a message box's process,
// a program of the test), and ovrun's end ends it. Where the job cannot be had (an older Windows that refuses nested
// jobs), the program alone is ended. A program that inherits the standard
// handles and the environment gets them as they are.
LauncherEnd RunProgram(const ProgramRun& run)
{
    LauncherEnd end;
    const bool captured = !run.OutputPath.empty();
    HANDLE input = captured ? InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING) : INVALID_HANDLE_VALUE;
    HANDLE output = captured ? InheritableFile(run.OutputPath, FILE_APPEND_DATA, OPEN_ALWAYS) : INVALID_HANDLE_VALUE;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (captured) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process;
    // CreateProcessA may write into the command line.
    std::vector<char> line(run.CommandLine.begin(), run.CommandLine.end());
    line.push_back('\0');
    const bool ownEnvironment = !run.Environment.empty() || !run.Unset.empty();
    std::vector<char> environment = ownEnvironment ? RunEnvironment(run) : std::vector<char>();
    const BOOL started = CreateProcessA(run.Path.c_str(), line.data(), nullptr, nullptr, captured ? TRUE : FALSE,
                                        CREATE_SUSPENDED, ownEnvironment ? environment.data() : nullptr,
                                        run.Directory.empty() ? nullptr : run.Directory.c_str(), &startup, &process);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!started) {
        end.Failure = "CreateProcess failed with error " + std::to_string(GetLastError());
        return end;
    }
    HANDLE job = JobOf(process.hProcess);
    ResumeThread(process.hThread);
    end.Started = true;
    if (run.InterruptsReachProgram) {
        SetConsoleCtrlHandler(IgnoreInterrupt, TRUE);
        WaitForProcess(process, job, run.TimeoutSeconds, nullptr, &end);
        SetConsoleCtrlHandler(IgnoreInterrupt, FALSE);
    } else {
        WaitForProcess(process, job, run.TimeoutSeconds, InterruptEvent, &end);
    }
    return end;
}

// Redirected output gets the bytes exactly; the C runtime must not turn
// "\n" into "\r\n" behind them.
void UseBinaryOutput(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

// --- For replays -----------------------------------------------------------

const bool kPrivateWindowsDirectory = false;

// The system's functions; replays here run one at a time.
bool ReadSetting(const std::string& path, const std::string& section, const std::string& key, std::string* value)
{
    return ReadSettingThroughLayer(path, section, key, value);
}

void CatchInterrupts()
{
    if (InterruptEvent == nullptr) InterruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool Interrupted() { return InterruptSeen != 0; }

std::string MakeScratchFolder()
{
    char temporary[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length >= sizeof temporary) return "";
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string path = std::string(temporary) + "ovrun-replay-" + std::to_string(GetCurrentProcessId()) +
                                 "-" + std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
    }
    return "";
}

bool MakeFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) || IsDirectory(path); }

bool CopyProgram(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE); }

void RemoveFolder(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

// This C++ runtime has no threads; and with the system's settings files
// replays go one at a time.
void RunSideBySide(size_t count, unsigned, const std::function<void(size_t)>& work)
{
    for (size_t index = 0; index < count; ++index)
        work(index);
}
