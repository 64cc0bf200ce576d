// A scratch directory and a scoped environment variable.
#include "scratch_directory.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory(const std::string& prefix)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory()
{
    // A test may have taken away the right to list or empty a directory.
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name)
{
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}
