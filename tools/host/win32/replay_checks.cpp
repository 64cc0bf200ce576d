// Windows: the scratch folder under TMP or TEMP, and whether a library can
// be mapped.
#include "host.h"

#include <cstdio>
#include <string>
#include <windows.h>

#include "wide_text.h"

namespace {

// The variable GetTempPath took the folder from, as it looks: TMP, then TEMP.
const char* TemporaryVariable()
{
    for (const wchar_t* name : {L"TMP", L"TEMP"})
        if (GetEnvironmentVariableW(name, nullptr, 0) > 0) return name[1] == L'M' ? "TMP" : "TEMP";
    return "TMP and TEMP are not set";
}

} // namespace

std::string MakeScratchFolder(std::string* problem)
{
    wchar_t wide[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, wide);
    const std::string temporary = length > 0 && length <= MAX_PATH ? Utf8FromWide(wide, length) : "";
    const std::string where = "in " + (temporary.empty() ? std::string("the folder for temporary files") : temporary) +
                              " (" + TemporaryVariable() + ")";
    // The launcher is given the folder's paths in its code page.
    std::string launcherText;
    if (temporary.empty() || !LauncherTextFromUtf8(temporary, &launcherText)) {
        *problem = "no scratch folder can be made " + where +
                   (temporary.empty() ? ": no such folder is named"
                                      : ": its name holds characters outside the code page the launcher works in");
        return "";
    }
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string path = temporary + "ovrun-replay-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    *problem = "no scratch folder can be made " + where + ": error " + std::to_string(GetLastError());
    return "";
}

const size_t kLongestPath = MAX_PATH - 1;

std::string LibraryProblem(const std::string& path)
{
    // Wine would take a file of another system for one of its own libraries
    // and load it, running its code in ovrun: a file that does not begin as
    // every Windows image does is refused before anything maps it.
    char magic[2] = {};
    std::FILE* file = OpenFile(path, "rb");
    const bool image = file != nullptr && std::fread(magic, 1, 2, file) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    if (file != nullptr) std::fclose(file);
    if (!image) return "not a Windows library (it does not begin with MZ)";
    // Mapped, not started: nothing of the library runs in ovrun.
    const HMODULE library = LoadLibraryExW(WidePath(path).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (library == nullptr) {
        const DWORD error = GetLastError();
        return error == ERROR_BAD_EXE_FORMAT ? "not a library for this Windows (error 193)"
                                             : "error " + std::to_string(error);
    }
    FreeLibrary(library);
    return "";
}
