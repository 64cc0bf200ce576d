// Helpers of the benchmarks.
#include "bench_support.h"

#include <cstdio>
#include <stdexcept>

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (std::fclose(file) != 0 || written != bytes.size()) throw std::runtime_error("cannot write " + path);
}

std::string SettingsOfSize(size_t size)
{
    const std::string last = "[LAST]\r\nKey=Value\r\n";
    std::string text;
    for (int section = 0; text.size() + last.size() < size; ++section) {
        text += "[S" + std::to_string(section) + "]\r\n";
        for (int key = 0; key < 10 && text.size() + last.size() < size; ++key)
            text += "Name" + std::to_string(key) + "=some value of the key " + std::to_string(key) + "\r\n";
    }
    return text + last;
}
