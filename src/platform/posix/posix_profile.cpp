// The Win32 profile procedures on Linux: private profile files and WIN.INI,
// read and written as the real functions do (bytes the write does not touch
// stay as they were). The file work is in posix_profile_file.cpp, the read
// cache in posix_profile_cache.cpp, the bytes' rules in posix_profile_text.cpp.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform.h"
#include "posix_no_throw.h"
#include "posix_paths.h"
#include "posix_profile_cache.h"
#include "posix_profile_file.h"
#include "posix_profile_text.h"

namespace {

// WIN.INI is win.ini in the Windows directory, found ignoring case like any
// other bare name. Windows keeps some of its sections (such as [windows]) in
// the registry; there is no registry here, so every section is a file
// section.
const char kWinIniName[] = "win.ini";

enum class ProfileEdit { SetValue, DeleteKey, DeleteSection };

bool ApplyEdit(ProfileEdit edit, std::string* text, const char* section, const char* key, const char* value)
{
    switch (edit) {
    case ProfileEdit::SetValue:
        return SetProfileValue(text, section, key, value);
    case ProfileEdit::DeleteKey:
        return DeleteProfileKey(text, section, key);
    case ProfileEdit::DeleteSection:
        return DeleteProfileSection(text, section);
    }
    return false;
}

int32_t WriteProfile(const char* fileName, const char* section, const char* key, const char* value)
{
    // All three null flushes a cache (there is none here) and returns 0, as
    // it does on Windows; a null section alone has nothing to act on.
    if (section == nullptr) return 0;
    const ProfileLocation* place = LocateProfile(fileName);
    if (place == nullptr) return 0;
    const ProfileLocation& location = *place;
    const ProfileEdit edit = key == nullptr     ? ProfileEdit::DeleteSection
                             : value == nullptr ? ProfileEdit::DeleteKey
                                                : ProfileEdit::SetValue;

    if (!DirectoryExists(location.Directory)) {
        // Deleting from a file that cannot exist succeeds: there is nothing
        // to delete. A directory whose status cannot be had may hold the
        // file: that delete fails, so the caller can tell the user.
        if (!DirectoryIsAbsent(location.Directory)) return 0;
        if (edit != ProfileEdit::SetValue) return 1;
        // The Windows directory is made on the first write; any other
        // directory must already exist.
        if (!location.InWindowsDirectory || !MakeDirectories(location.Directory)) return 0;
    }

    DirectoryLock lock;
    const std::string path = LockedPathOnDisk(location, LOCK_EX, &lock);
    std::string oldBytes;
    struct stat status;
    std::memset(&status, 0, sizeof status);
    const int existing = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (existing < 0) {
        // A read-only file returns 0 and stays as it was.
        if (errno != ENOENT) return 0;
        // Deleting from a missing file returns 1 and creates nothing. (Wine;
        // Windows leaves an empty file. We prefer no junk files: the launcher
        // deletes its WIN.INI key at every exit.)
        if (edit != ProfileEdit::SetValue) return 1;
    } else if (fstat(existing, &status) != 0 || !ReadAll(existing, &oldBytes) || (status.st_mode & 0222) == 0) {
        // A file without any write permission is read-only even to root, as
        // the read-only attribute is to a Windows administrator.
        close(existing);
        return 0;
    }

    std::string bytes = oldBytes;
    int32_t result = 1;
    // When nothing changes (the same value, a missing key or section) the
    // file is not rewritten.
    if (ApplyEdit(edit, &bytes, section, key, value)) {
        // Even a failed replacement may have touched the file.
        ForgetCachedProfile(path, existing >= 0 ? &status : nullptr);
        result = ReplaceFile(path, existing, status, oldBytes, bytes) ? 1 : 0;
    }
    if (existing >= 0) close(existing);
    return result;
}

// Copies text cut to size-1 bytes and its NUL; returns the bytes copied. An
// exact fit and a cut both return size-1.
uint32_t CopyCut(const std::string& text, char* buffer, uint32_t size)
{
    const size_t count = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<uint32_t>(count);
}

// A list of NUL-ended names and one more NUL. A list too long for the buffer
// is cut to size-2 bytes and ended by two NULs, returning size-2; so is one
// that would fill the buffer exactly. (Wine; Windows not established for
// the exact fit.)
uint32_t CopyNameList(const std::string& list, char* buffer, uint32_t size)
{
    if (list.size() + 2 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        if (list.empty() && size >= 2) buffer[1] = '\0';
        return static_cast<uint32_t>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

} // namespace

uint32_t OsGetPrivateProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                                   uint32_t size, const char* fileName)
{
    // nSize 0 returns 0 and leaves the buffer untouched.
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    return WithoutExceptions(0u, [&] {
        // A null file name means WIN.INI. A missing file reads as an empty
        // one: the default comes back.
        static const ProfileIndex kEmpty;
        const ProfileIndex* index = ReadProfileIndex(fileName != nullptr ? fileName : kWinIniName);
        if (index == nullptr) index = &kEmpty;
        if (section == nullptr || key == nullptr) return CopyNameList(index->NameList(section), buffer, size);
        std::string value;
        // The default is used when the file, the section or the key is
        // missing.
        if (!index->FindValue(section, key, &value)) value = ProfileDefaultText(defaultText);
        return CopyCut(value, buffer, size);
    });
}

int32_t OsWritePrivateProfileString(const char* section, const char* key, const char* value, const char* fileName)
{
    return WithoutExceptions(
        0, [&] { return WriteProfile(fileName != nullptr ? fileName : kWinIniName, section, key, value); });
}

uint32_t OsGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size)
{
    return OsGetPrivateProfileString(section, key, defaultText, buffer, size, kWinIniName);
}

int32_t OsWriteProfileString(const char* section, const char* key, const char* value)
{
    return OsWritePrivateProfileString(section, key, value, kWinIniName);
}
