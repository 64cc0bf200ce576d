// The Linux side of the process procedures: the environment block, in the
// layout GetEnvironmentStrings gives, and the process's exit.
#include <cstdlib>
#include <cstring>

#include "platform.h"

extern char** environ;

char* OsGetEnvironmentStrings()
{
    size_t size = 1;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        size += std::strlen(*entry) + 1;
    // An empty environment still gets two NULs: an empty first string and
    // the end mark, so that a reader looking for the double NUL stops.
    if (size == 1) size = 2;
    char* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr) return nullptr;
    char* at = block;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const size_t length = std::strlen(*entry) + 1;
        std::memcpy(at, *entry, length);
        at += length;
    }
    *at = '\0';
    block[size - 1] = '\0';
    return block;
}

int32_t OsFreeEnvironmentStrings(char* block)
{
    if (block == nullptr) return 0;
    std::free(block);
    return 1;
}

void OsExitProcess(int status) { std::exit(status); }
