// Windows: the scratch folder under TMP or TEMP, whether a library can be
// mapped, and the ANSI code page's texts in UTF-8.
#include "host.h"

#include <string>
#include <vector>
#include <windows.h>

namespace {

std::string Utf8FromWide(const wchar_t* wide, int count)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "";
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, count, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

// The variable GetTempPath took the folder from, as it looks: TMP, then TEMP.
const char* TemporaryVariable()
{
    for (const char* name : {"TMP", "TEMP"})
        if (GetEnvironmentVariableA(name, nullptr, 0) > 0) return name;
    return "TMP and TEMP are not set";
}

} // namespace

std::string MakeScratchFolder(std::string* problem)
{
    // The wide form names the folder right, also where the ANSI one has a
    // '?' for a character outside the code page.
    wchar_t wide[MAX_PATH + 1];
    const DWORD wideLength = GetTempPathW(MAX_PATH + 1, wide);
    const std::string named = wideLength > 0 && wideLength <= MAX_PATH ? Utf8FromWide(wide, int(wideLength)) : "";
    const std::string where = "in " + (named.empty() ? std::string("the folder for temporary files") : named) + " (" +
                              TemporaryVariable() + ")";
    char temporary[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temporary, temporary);
    BOOL lossy = FALSE;
    if (wideLength > 0) WideCharToMultiByte(CP_ACP, 0, wide, int(wideLength), nullptr, 0, nullptr, &lossy);
    if (length == 0 || length >= sizeof temporary || lossy) {
        *problem = "no scratch folder can be made " + where +
                   (lossy ? ": its name holds characters outside the code page the launcher works in"
                          : ": the name is too long");
        return "";
    }
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string path = std::string(temporary) + "ovrun-replay-" + std::to_string(GetCurrentProcessId()) +
                                 "-" + std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    *problem = "no scratch folder can be made " + where + ": error " + std::to_string(GetLastError());
    return "";
}

const size_t kLongestPath = MAX_PATH - 1;

std::string LibraryProblem(const std::string& path)
{
    // Mapped, not started: nothing of the library runs in ovrun.
    const HMODULE library = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (library == nullptr) {
        const DWORD error = GetLastError();
        return error == ERROR_BAD_EXE_FORMAT ? "not a library for this Windows (error 193)"
                                             : "error " + std::to_string(error);
    }
    FreeLibrary(library);
    return "";
}

std::string Utf8FromSystem(const std::string& text)
{
    if (text.empty()) return text;
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (count <= 0) return text;
    std::vector<wchar_t> wide(static_cast<size_t>(count));
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), count);
    return Utf8FromWide(wide.data(), count);
}
