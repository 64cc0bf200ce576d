// ovini: reads and writes the launcher's settings files from the command
// line, through the platform layer of its target and nothing else, so that
// the same sequence of calls can be run on Linux and on Windows and the
// answers compared byte for byte.
//
//   get FILE SECTION KEY [DEFAULT [SIZE]]  prints "<return>\t<text>\n"
//   set FILE SECTION KEY VALUE             prints "<return>\n"
//   delete FILE SECTION [KEY]              prints "<return>\n"
//
// FILE is handed over as the launcher hands "Orvane.ini": a bare name is in
// the Windows directory. The bare name win.ini, in any letter case, selects
// the WIN.INI procedures instead.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "binary_output.h"
#include "platform.h"

constexpr uint32_t kDefaultReadSize = 300; // the launcher's work buffer
constexpr uint32_t kLargestReadSize = 1u << 20;
// Bytes after the buffer handed to the read, which it must leave alone.
constexpr size_t kGuardSize = 16;
constexpr char kSentinel = '\xA5';

constexpr int kUsageStatus = 2;
constexpr int kContractBrokenStatus = 3;

static int Usage()
{
    std::fputs("usage: ovini get FILE SECTION KEY [DEFAULT [SIZE]]\n"
               "       ovini set FILE SECTION KEY VALUE\n"
               "       ovini delete FILE SECTION [KEY]\n"
               "A FILE without a directory is in the Windows directory; win.ini (any case) is WIN.INI.\n",
               stderr);
    return kUsageStatus;
}

static bool IsWinIni(const char* fileName)
{
    static const char kWinIni[] = "win.ini";
    for (size_t i = 0; i < sizeof kWinIni; ++i) {
        const unsigned char c = static_cast<unsigned char>(fileName[i]);
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
        if (lower != kWinIni[i]) return false;
    }
    return true;
}

// Decimal digits only; false for anything else or a value out of range.
static bool ParseSize(const char* text, uint32_t* size)
{
    if (text[0] == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p)
        if (*p < '0' || *p > '9') return false;
    errno = 0;
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (errno != 0 || value > kLargestReadSize) return false;
    *size = static_cast<uint32_t>(value);
    return true;
}

static int Get(const char* fileName, const char* section, const char* key, const char* defaultText, uint32_t size)
{
    std::vector<char> buffer(size + kGuardSize, kSentinel);
    const uint32_t result = IsWinIni(fileName)
                                ? OsGetProfileString(section, key, defaultText, buffer.data(), size)
                                : OsGetPrivateProfileString(section, key, defaultText, buffer.data(), size, fileName);
    for (size_t i = size; i < buffer.size(); ++i) {
        if (buffer[i] != kSentinel) {
            std::fprintf(stderr, "ovini: the read wrote past its %u-byte buffer\n", static_cast<unsigned>(size));
            return kContractBrokenStatus;
        }
    }
    // Size 0 leaves the buffer untouched: there is no text to print.
    size_t length = 0;
    if (size > 0) {
        const void* end = std::memchr(buffer.data(), '\0', size);
        if (end == nullptr) {
            std::fprintf(stderr, "ovini: the read left its %u-byte buffer unterminated\n", static_cast<unsigned>(size));
            return kContractBrokenStatus;
        }
        length = static_cast<size_t>(static_cast<const char*>(end) - buffer.data());
    }
    std::printf("%lu\t", static_cast<unsigned long>(result));
    std::fwrite(buffer.data(), 1, length, stdout);
    std::fputc('\n', stdout);
    return 0;
}

// A null key deletes the section, a null value the key.
static int Write(const char* fileName, const char* section, const char* key, const char* value)
{
    const int32_t result = IsWinIni(fileName) ? OsWriteProfileString(section, key, value)
                                              : OsWritePrivateProfileString(section, key, value, fileName);
    std::printf("%ld\n", static_cast<long>(result));
    return 0;
}

int main(int argc, char** argv)
{
    UseBinaryStandardOutput();
    if (argc < 2) return Usage();
    const char* command = argv[1];
    const int operands = argc - 2;
    char** operand = argv + 2;

    if (std::strcmp(command, "get") == 0 && operands >= 3 && operands <= 5) {
        const char* defaultText = operands >= 4 ? operand[3] : nullptr;
        uint32_t size = kDefaultReadSize;
        if (operands == 5 && !ParseSize(operand[4], &size)) return Usage();
        return Get(operand[0], operand[1], operand[2], defaultText, size);
    }
    if (std::strcmp(command, "set") == 0 && operands == 4) return Write(operand[0], operand[1], operand[2], operand[3]);
    if (std::strcmp(command, "delete") == 0 && (operands == 2 || operands == 3))
        return Write(operand[0], operand[1], operands == 3 ? operand[2] : nullptr, nullptr);
    return Usage();
}
