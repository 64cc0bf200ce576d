// Linux: the scratch folder under TMPDIR and whether a library can be
// loaded; paths are bytes, shown as they are.
#include "host.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

std::string MakeScratchFolder(std::string* problem)
{
    const char* temporary = std::getenv("TMPDIR");
    const bool named = temporary != nullptr && temporary[0] != '\0';
    const std::string parent = named ? temporary : "/tmp";
    std::string pattern = parent + "/ovrun-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        *problem = "no scratch folder can be made in " + parent + (named ? " (TMPDIR)" : " (TMPDIR is not set)") +
                   ": " + std::strerror(errno);
        return "";
    }
    return AbsolutePath(pattern);
}

const size_t kLongestPath = PATH_MAX - 1;

std::string LibraryProblem(const std::string& path)
{
    void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        return why != nullptr ? why : "it cannot be loaded";
    }
    dlclose(library);
    return "";
}
