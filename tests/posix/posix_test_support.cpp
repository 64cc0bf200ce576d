// Helpers of the Linux platform tests.
#include "posix_test_support.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& path) : old_(fs::current_path().string())
{
    fs::current_path(path);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory()
{
    std::error_code ignored;
    fs::current_path(old_, ignored);
}

std::optional<std::string> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> ListDirectory(const std::string& path)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void MakeDirectory(const std::string& path) { fs::create_directories(path); }

static bool DropFileOverride()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        const uint32_t bit = 1u << (capability % 32);
        data[capability / 32].effective &= ~bit;
        data[capability / 32].permitted &= ~bit;
        data[capability / 32].inheritable &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}

int RunWithoutFileOverride(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && !DropFileOverride()) _exit(254);
        _exit(body() & 0xFF);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string DecodeEscaped(const std::string& field)
{
    if (field.size() < 2 || field.front() != '"' || field.back() != '"')
        throw std::runtime_error("not a quoted field: " + field);
    std::string bytes;
    for (size_t i = 1; i + 1 < field.size(); ++i) {
        if (field[i] != '\\') {
            bytes += field[i];
            continue;
        }
        const char next = field[++i];
        switch (next) {
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case '\\':
        case '"':
            bytes += next;
            break;
        default:
            // Exactly three octal digits.
            bytes += static_cast<char>(std::stoi(field.substr(i, 3), nullptr, 8));
            i += 2;
        }
    }
    return bytes;
}
