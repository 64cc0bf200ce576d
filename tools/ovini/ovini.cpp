// ovini: reads and writes the launcher's settings files from the command
// line, through the platform layer of its target and nothing else, so that
// the same sequence of calls can be run on Linux and on Windows and the
// answers compared byte for byte.
//
//   get FILE SECTION KEY [DEFAULT [SIZE]]  prints "<return>\t<text>\n"
//   sections FILE [SIZE]                   prints "<return>\n", then each name and "\n"
//   keys FILE SECTION [SIZE]               prints "<return>\n", then each name and "\n"
//   set FILE SECTION KEY VALUE             prints "<return>\n"
//   delete FILE SECTION [KEY]              prints "<return>\n"
//   batch CALLS                            runs each call of the file CALLS
//   --version                              prints the version
//
// FILE is handed over as the launcher hands "Orvane.ini": a bare name is in
// the Windows directory. The bare name win.ini, in any letter case, selects
// the WIN.INI procedures instead.
//
// CALLS holds one call a line: the command and its operands separated by
// tabs, with \\, \t, \r, \n and \xHH escapes, so that any bytes reach the
// call (a Windows command line would pass them through a code page). Each
// call's output is followed by a NUL and a line feed, which no name or value
// read can hold. A bad line is named on standard error, gets the NUL and
// line feed alone (so that the Nth output is still the Nth line's) and the
// batch goes on. One process for thousands of calls: a differential test
// under Wine would otherwise spend its time starting processes.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/hex_digits.h"
#include "host.h"
#include "platform.h"
#include "whole_number.h"

constexpr uint32_t kDefaultReadSize = 300; // the launcher's work buffer
constexpr uint32_t kLargestReadSize = 1u << 20;
// Bytes after the buffer handed to the read, which it must leave alone.
constexpr size_t kGuardSize = 16;
constexpr char kSentinel = '\xA5';

constexpr int kUsageStatus = 2;
constexpr int kContractBrokenStatus = 3;

static const char kUsageText[] =
    "usage: ovini get FILE SECTION KEY [DEFAULT [SIZE]]\n"
    "       ovini sections FILE [SIZE]\n"
    "       ovini keys FILE SECTION [SIZE]\n"
    "       ovini set FILE SECTION KEY VALUE\n"
    "       ovini delete FILE SECTION [KEY]\n"
    "       ovini batch CALLS\n"
    "       ovini --version\n"
    "A FILE without a directory is in the Windows directory; win.ini (any case) is WIN.INI.\n"
    "get prints the read's return value, a tab and the text; sections and keys print the\n"
    "return value, then each name of the list on a line of its own; set and delete print\n"
    "the write's return value. SIZE is the buffer's size in bytes, 0 to 1048576 (default 300).\n"
    "batch runs one call a line of the file CALLS (fields separated by tabs, with \\\\, \\t,\n"
    "\\r, \\n and \\xHH escapes), each call's output followed by a NUL and a line feed;\n"
    "a bad line is named on standard error and the batch goes on with the next.\n"
    "Exit status: 0 the call was made, 2 wrong usage (in batch: a bad line, or CALLS\n"
    "cannot be read), 3 the read broke its buffer's contract.\n";

// What was wrong, then the usage.
static int Usage(const std::string& wrong)
{
    std::fprintf(stderr, "ovini: %s\n", wrong.c_str());
    std::fputs(kUsageText, stderr);
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

// Decimal digits only; false, with what is wrong, for anything else or a
// value out of range.
static bool ParseSize(const char* text, uint32_t* size, std::string* wrong)
{
    unsigned long value = 0;
    if (!ParseWholeNumber(text, 0, kLargestReadSize, &value)) {
        *wrong =
            std::string("SIZE '") + text + "' is not a number of bytes from 0 to " + std::to_string(kLargestReadSize);
        return false;
    }
    *size = static_cast<uint32_t>(value);
    return true;
}

// Reads into a buffer of size bytes followed by sentinels; false, after
// saying so, when the read wrote past the buffer or left it unterminated.
static bool Read(const char* fileName, const char* section, const char* key, const char* defaultText, uint32_t size,
                 std::vector<char>* buffer, uint32_t* result)
{
    buffer->assign(size + kGuardSize, kSentinel);
    *result = IsWinIni(fileName) ? OsGetProfileString(section, key, defaultText, buffer->data(), size)
                                 : OsGetPrivateProfileString(section, key, defaultText, buffer->data(), size, fileName);
    for (size_t i = size; i < buffer->size(); ++i) {
        if ((*buffer)[i] != kSentinel) {
            std::fprintf(stderr, "ovini: the read wrote past its %u-byte buffer\n", static_cast<unsigned>(size));
            return false;
        }
    }
    // Size 0 leaves the buffer untouched: there is nothing to terminate.
    if (size > 0 && std::memchr(buffer->data(), '\0', size) == nullptr) {
        std::fprintf(stderr, "ovini: the read left its %u-byte buffer unterminated\n", static_cast<unsigned>(size));
        return false;
    }
    return true;
}

static int Get(const char* fileName, const char* section, const char* key, const char* defaultText, uint32_t size)
{
    std::vector<char> buffer;
    uint32_t result = 0;
    if (!Read(fileName, section, key, defaultText, size, &buffer, &result)) return kContractBrokenStatus;
    const size_t length = size > 0 ? std::strlen(buffer.data()) : 0;
    std::printf("%lu\t", static_cast<unsigned long>(result));
    std::fwrite(buffer.data(), 1, length, stdout);
    std::fputc('\n', stdout);
    return 0;
}

// A null section lists the sections, a null key the section's keys: each
// name ended by a NUL, the list by one more. The names are the bytes before
// the returned length; one cut short by a small buffer ends at that length.
static int List(const char* fileName, const char* section, uint32_t size)
{
    std::vector<char> buffer;
    uint32_t result = 0;
    if (!Read(fileName, section, nullptr, nullptr, size, &buffer, &result)) return kContractBrokenStatus;
    if (size > 0 && result >= size) {
        std::fprintf(stderr, "ovini: the list's length %lu does not fit its %u-byte buffer\n",
                     static_cast<unsigned long>(result), static_cast<unsigned>(size));
        return kContractBrokenStatus;
    }
    std::printf("%lu\n", static_cast<unsigned long>(result));
    size_t start = 0;
    for (size_t at = 0; size > 0 && at <= result; ++at) {
        if (at < result && buffer[at] != '\0') continue;
        if (at > start) {
            std::fwrite(buffer.data() + start, 1, at - start, stdout);
            std::fputc('\n', stdout);
        }
        start = at + 1;
    }
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

// The calls, with the operands each takes.
struct CallForm {
    const char* Name;
    int Fewest;
    int Most;
    bool SizeLast; // a read: its last operand, when all are given, is SIZE
    const char* Operands;
};
static const CallForm kCallForms[] = {
    {"get", 3, 5, true, "FILE SECTION KEY [DEFAULT [SIZE]]"},
    {"sections", 1, 2, true, "FILE [SIZE]"},
    {"keys", 2, 3, true, "FILE SECTION [SIZE]"},
    {"set", 4, 4, false, "FILE SECTION KEY VALUE"},
    {"delete", 2, 3, false, "FILE SECTION [KEY]"},
};

// One call: the command and its operands; returns the exit status. Wrong
// usage calls nothing and returns kUsageStatus with what was wrong.
static int Call(const char* command, int operands, char** operand, std::string* wrong)
{
    const CallForm* form = nullptr;
    for (const CallForm& candidate : kCallForms)
        if (std::strcmp(command, candidate.Name) == 0) form = &candidate;
    if (form == nullptr) {
        *wrong = command[0] != '\0' ? std::string("unknown call '") + command + "'"
                 : operands == 0    ? "an empty line"
                                    : "no call named";
        return kUsageStatus;
    }
    if (operands < form->Fewest || operands > form->Most) {
        *wrong = std::string(command) + " takes " + form->Operands + ", not " + std::to_string(operands) +
                 (operands == 1 ? " operand" : " operands");
        return kUsageStatus;
    }
    uint32_t size = kDefaultReadSize;
    if (form->SizeLast && operands == form->Most && !ParseSize(operand[operands - 1], &size, wrong))
        return kUsageStatus;
    if (std::strcmp(command, "get") == 0)
        return Get(operand[0], operand[1], operand[2], operands >= 4 ? operand[3] : nullptr, size);
    if (std::strcmp(command, "sections") == 0) return List(operand[0], nullptr, size);
    if (std::strcmp(command, "keys") == 0) return List(operand[0], operand[1], size);
    if (std::strcmp(command, "set") == 0) return Write(operand[0], operand[1], operand[2], operand[3]);
    return Write(operand[0], operand[1], operands == 3 ? operand[2] : nullptr, nullptr);
}

// Splits one line of CALLS into its unescaped fields; false for a bad escape.
static bool SplitCall(const std::string& line, std::vector<std::string>* fields)
{
    fields->assign(1, std::string());
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields->emplace_back();
            continue;
        }
        if (c != '\\') {
            fields->back() += c;
            continue;
        }
        if (++i == line.size()) return false;
        if (line[i] == 'x') {
            const int high = i + 2 < line.size() ? HexDigitValue(line[i + 1]) : -1;
            const int low = high >= 0 ? HexDigitValue(line[i + 2]) : -1;
            if (low < 0) return false;
            fields->back() += static_cast<char>(high * 16 + low);
            i += 2;
            continue;
        }
        // An escape's letter, then the byte it stands for.
        static const char kEscapes[] = "\\\\t\tr\rn\n";
        size_t at = 0;
        while (kEscapes[at] != '\0' && kEscapes[at] != line[i])
            at += 2;
        if (kEscapes[at] == '\0') return false;
        fields->back() += kEscapes[at + 1];
    }
    return true;
}

// Runs every line of CALLS. A bad line is told as FILE:LINE: what is wrong,
// gets an empty output, and makes the status 2 once the rest has run; a
// read that broke its contract ends the batch (3).
static int Batch(const char* callsName)
{
    FILE* calls = IsDirectory(callsName) ? nullptr : std::fopen(callsName, "rb");
    if (calls == nullptr) {
        std::fprintf(stderr, "ovini: cannot read the calls in %s: %s\n", callsName,
                     IsDirectory(callsName) ? "it is a folder" : std::strerror(errno));
        return kUsageStatus;
    }
    std::string line;
    std::vector<std::string> fields;
    std::vector<char*> arguments;
    int status = 0;
    unsigned long lineNumber = 0;
    for (int c = 0; status != kContractBrokenStatus && c != EOF;) {
        line.clear();
        while ((c = std::fgetc(calls)) != EOF && c != '\n')
            line += static_cast<char>(c);
        if (c == EOF && line.empty()) break;
        ++lineNumber;
        std::string wrong = "a bad escape (\\\\, \\t, \\r, \\n and \\xHH are the escapes)";
        int callStatus = kUsageStatus;
        if (SplitCall(line, &fields)) {
            arguments.clear();
            for (std::string& field : fields)
                arguments.push_back(&field[0]);
            callStatus = Call(arguments[0], static_cast<int>(arguments.size()) - 1, arguments.data() + 1, &wrong);
        }
        if (callStatus == kUsageStatus) {
            std::fprintf(stderr, "%s:%lu: %s\n", callsName, lineNumber, wrong.c_str());
            status = kUsageStatus;
        } else if (callStatus == kContractBrokenStatus) {
            std::fprintf(stderr, "%s:%lu: the read broke its buffer's contract; the batch stops here\n", callsName,
                         lineNumber);
            status = kContractBrokenStatus;
            break;
        }
        std::fwrite("\0\n", 1, 2, stdout);
    }
    if (status != kContractBrokenStatus && std::ferror(calls)) {
        std::fprintf(stderr, "ovini: reading the calls in %s failed after line %lu\n", callsName, lineNumber);
        status = kUsageStatus;
    }
    std::fclose(calls);
    return status;
}

int main(int argc, char** argv)
{
    UseBinaryOutput(stdout);
    if (argc < 2) return Usage("no command named");
    const char* command = argv[1];
    if (argc == 2 && (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0)) {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(command, "--version") == 0) {
        std::printf("ovini %s\n", OV_VERSION);
        return 0;
    }
    if (std::strcmp(command, "batch") == 0)
        return argc == 3 ? Batch(argv[2]) : Usage("batch takes one file of calls, CALLS");
    std::string wrong;
    const int status = Call(command, argc - 2, argv + 2, &wrong);
    return status == kUsageStatus ? Usage(wrong) : status;
}
