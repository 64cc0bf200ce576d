// Windows: FlushFileBuffers and MoveFileEx, a named mutex per Windows
// directory, and TerminateProcess for the test hook.
#include "run_guard.h"

#include <cstdint>
#include <cstdlib>
#include <windows.h>

namespace {

const char kHolderFileName[] = "ovrun.lock";
HANDLE LockMutex = nullptr; // owned while the lock is held
HANDLE OpenForFlush(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    char buffer[65536];
    DWORD count = 0;
    bool read = true;
    while ((read = ReadFile(file, buffer, sizeof buffer, &count, nullptr) != 0) && count > 0)
        bytes->append(buffer, count);
    CloseHandle(file);
    return read;
}

bool WriteFileDurably(const std::string& path, const std::string& bytes)
{
    const std::string temporary = path + ".new";
    HANDLE file =
        CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size() && FlushFileBuffers(file);
    done = CloseHandle(file) && done;
    if (done && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary.c_str());
    return false;
}

// The system's profile functions take no lock a program could share.
bool ReplaceUnchangedFile(const std::string& path, const std::string& seen, const std::string& bytes)
{
    std::string now;
    return !ReadWholeFile(path, &now) || now != seen || WriteFileDurably(path, bytes);
}

bool RemoveFileDurably(const std::string& path)
{
    return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool FlushFileToDisk(const std::string& path)
{
    HANDLE file = OpenForFlush(path);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const bool flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return flushed;
}

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

// The mutex's name comes from the directory's full name, case folded: a
// name may hold no '\'. The system releases a mutex whose owner ended
// (WAIT_ABANDONED): the next run takes it and recovers from the journal.
bool LockWindowsDirectory(const std::string& directory, long waitSeconds, std::string* holder, std::string* problem)
{
    uint64_t hash = 14695981039346656037ull;
    for (char c : directory) {
        hash ^= static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c == '/' ? '\\' : c);
        hash *= 1099511628211ull;
    }
    char name[64];
    wsprintfA(name, "Local\\ovrun-windows-directory-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    // Kept open, and so owned, until the process ends.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) {
        *problem = "cannot create the mutex " + std::string(name);
        return false;
    }
    const std::string holderPath = directory + "\\" + kHolderFileName;
    const DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(waitSeconds) * 1000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        ReadWholeFile(holderPath, holder);
        CloseHandle(mutex);
        return false;
    }
    // Only for the message of another run: the mutex is the lock.
    LockMutex = mutex;
    WriteFileDurably(holderPath, std::to_string(GetCurrentProcessId()));
    return true;
}

void UnlockWindowsDirectory()
{
    if (LockMutex == nullptr) return;
    ReleaseMutex(LockMutex);
    CloseHandle(LockMutex);
    LockMutex = nullptr;
}

// A test's launcher runs in a job that ends with ovrun, however ovrun ends,
// and the next run recovers the settings from the journal; a replay's
// handler (CatchInterrupts) puts them back itself before a closed console
// ends the process.
void CatchEndRequests() {}

bool EndRequested() { return false; }

void KillPoint()
{
    static const char* const at = std::getenv("OVRUN_TEST_KILL_AT");
    static long count = 0;
    if (at != nullptr && ++count == std::atol(at)) TerminateProcess(GetCurrentProcess(), 9);
}
