// The Linux side of the append-only file the session trace writes, and of the
// Windows directory that a relative trace name is taken in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform.h"
#include "posix_no_throw.h"
#include "posix_paths.h"
#include "posix_windows_directory.h"

uint32_t OsGetWindowsDirectory(char* buffer, uint32_t size)
{
    if (size == 0) return 0;
    return WithoutExceptions(0u, [&] {
        const std::string directory = WindowsDirectory();
        if (directory.empty() || directory.size() >= size) return 0u;
        std::memcpy(buffer, directory.c_str(), directory.size() + 1);
        return static_cast<uint32_t>(directory.size());
    });
}

AppendFileHandle OsOpenAppendFile(const char* path, uint32_t* existingSize, char* lastByte)
{
    return WithoutExceptions(static_cast<AppendFileHandle>(nullptr), [&] {
        // 0600: a trace holds whatever was typed at the console. Read access
        // only for the last byte: a file that allows writing alone will do.
        const std::string name = WithPosixSeparators(path);
        int file = open(name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        const bool readable = file >= 0;
        if (!readable) file = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (file < 0) return static_cast<AppendFileHandle>(nullptr);
        struct stat status;
        *existingSize = fstat(file, &status) == 0 && status.st_size > 0
                            ? static_cast<uint32_t>(status.st_size > 0xFFFFFFFF ? 0xFFFFFFFF : status.st_size)
                            : 0;
        *lastByte = 0;
        if (*existingSize > 0 && (!readable || pread(file, lastByte, 1, status.st_size - 1) != 1)) *lastByte = '\n';
        // The descriptor plus one, so that descriptor 0 is not the null handle.
        return reinterpret_cast<AppendFileHandle>(static_cast<intptr_t>(file) + 1);
    });
}

static int AppendFileDescriptor(AppendFileHandle file)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

int32_t OsWriteAppendFile(AppendFileHandle file, const void* bytes, uint32_t size)
{
    const char* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(AppendFileDescriptor(file), at, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 0;
        at += written;
        size -= static_cast<uint32_t>(written);
    }
    return 1;
}

void OsCloseAppendFile(AppendFileHandle file)
{
    if (file != nullptr) close(AppendFileDescriptor(file));
}
