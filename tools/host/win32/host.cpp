// Windows: full path names and attributes, CreateProcessW, a job object and
// WaitForMultipleObjects, binary standard streams, and for replays folders,
// the console's Ctrl+C and the system's settings functions. Paths are UTF-8,
// through the wide functions (wide_text.h).
#include "host.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <vector>
#include <windows.h>

#include "read_setting.h"
#include "wide_text.h"

const char kLauncherFileName[] = "OVTST552.EXE";
const bool kBackslashIsSeparator = true;

// The exit status of a launcher ended for running too long.
constexpr UINT kTimedOutStatus = 3;
// How long a process that was told to end may take to go.
constexpr DWORD kEndingMilliseconds = 10000;

std::string AbsolutePath(const std::string& path)
{
    const std::wstring wide = WideFromUtf8(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return "";
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return "";
    return Utf8FromWide(buffer.data(), length);
}

std::string CurrentDirectoryPath()
{
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return "";
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
    if (length == 0 || length >= needed) return "";
    return Utf8FromWide(buffer.data(), length);
}

std::string OwnProgramPath()
{
    // A path past MAX_PATH is cut to fit: the buffer grows until it is not.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return "";
        if (length < buffer.size()) return Utf8FromWide(buffer.data(), length);
        if (buffer.size() >= 32768) return "";
        buffer.resize(buffer.size() * 2);
    }
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CanAppendTo(const std::string& path)
{
    const std::wstring wide = WidePath(path);
    HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return CloseHandle(file);
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    DeleteFileW(wide.c_str());
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

bool SameVariableName(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The environment block of a run: ovrun's, less what the run takes out or
// sets itself, plus what it sets, sorted as Windows keeps it.
std::vector<wchar_t> RunEnvironment(const ProgramRun& run)
{
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        // "=C:=C:\..." entries name a drive's directory: their name starts after the first '='.
        const std::wstring name = text.substr(0, text.find(L'=', 1));
        bool replaced = false;
        for (const std::string& unset : run.Unset)
            replaced = replaced || SameVariableName(name, WideFromUtf8(unset));
        for (const auto& variable : run.Environment)
            replaced = replaced || SameVariableName(name, WideFromUtf8(variable.first));
        if (!replaced) entries.push_back(text);
    }
    if (block != nullptr) FreeEnvironmentStringsW(block);
    for (const auto& variable : run.Environment)
        entries.push_back(WideFromUtf8(variable.first + "=" + variable.second));
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
    });
    std::vector<wchar_t> result;
    for (const std::wstring& entry : entries)
        result.insert(result.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    result.push_back(L'\0');
    return result;
}

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    return CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, disposition,
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
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (captured) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process;
    // CreateProcessW may write into the command line.
    std::wstring line = WideFromUtf8(run.CommandLine);
    line.push_back(L'\0');
    const bool ownEnvironment = !run.Environment.empty() || !run.Unset.empty();
    std::vector<wchar_t> environment = ownEnvironment ? RunEnvironment(run) : std::vector<wchar_t>();
    const std::wstring directory = WideFromUtf8(run.Directory);
    const BOOL started =
        CreateProcessW(WideFromUtf8(run.Path).c_str(), &line[0], nullptr, nullptr, captured ? TRUE : FALSE,
                       CREATE_SUSPENDED | (ownEnvironment ? CREATE_UNICODE_ENVIRONMENT : 0),
                       ownEnvironment ? environment.data() : nullptr,
                       run.Directory.empty() ? nullptr : directory.c_str(), &startup, &process);
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

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return _wfopen(WidePath(path).c_str(), WideFromUtf8(mode).c_str());
}

// --- For replays -----------------------------------------------------------

const bool kPrivateWindowsDirectory = false;

// The system's ANSI functions, as the launcher reads; replays here run one
// at a time.
bool ReadSetting(const std::string& path, const std::string& section, const std::string& key, std::string* value)
{
    std::string launcherPath;
    return LauncherTextFromUtf8(path, &launcherPath) && ReadSettingThroughLayer(launcherPath, section, key, value);
}

void CatchInterrupts()
{
    if (InterruptEvent == nullptr) InterruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool Interrupted() { return InterruptSeen != 0; }

bool MakeFolder(const std::string& path)
{
    return CreateDirectoryW(WidePath(path).c_str(), nullptr) || IsDirectory(path);
}

bool CopyProgram(const std::string& from, const std::string& to)
{
    return CopyFileW(WidePath(from).c_str(), WidePath(to).c_str(), FALSE);
}

void RemoveFolder(const std::string& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(WidePath(path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::string full = path + "\\" + Utf8FromWide(name);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(full);
            else
                DeleteFileW(WidePath(full).c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(WidePath(path).c_str());
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(WidePath(folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(Utf8FromWide(entry.cFileName));
    } while (FindNextFileW(search, &entry));
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
