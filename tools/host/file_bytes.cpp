// Reading and writing whole files.
#include "file_bytes.h"

#include <cstdio>

#include "host.h"

bool ReadFileBytes(const std::string& path, std::string* bytes, size_t limit)
{
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char buffer[65536];
    size_t count = 0;
    while (bytes->size() <= limit && (count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, count);
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    return read;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = OpenFile(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}
