// The shared pieces of the fuzz targets.
#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/command_channel.h"
#include "low_memory.h"
#include "text_and_bytes.h"

void FuzzFailure(const char* file, int line, const std::string& what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string Escaped(const std::string& bytes)
{
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out + "\"";
}

namespace {

constexpr size_t kLowRegionSize = 1 << 20; // texts up to 1 MiB less one byte

unsigned char* LowRegion()
{
    static unsigned char* region = [] {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* memory = standin::MapLowMemory(kLowRegionSize + page);
        if (memory == nullptr) return static_cast<unsigned char*>(nullptr);
        auto* bytes = static_cast<unsigned char*>(memory);
        if (mprotect(bytes + kLowRegionSize, page, PROT_NONE) != 0) {
            munmap(memory, kLowRegionSize + page);
            return static_cast<unsigned char*>(nullptr);
        }
        return bytes;
    }();
    return region;
}

// strncpy of count bytes of the record, then the terminator.
std::string Field(const unsigned char* record, size_t offset, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count && record[offset + i] != 0; ++i)
        text += static_cast<char>(record[offset + i]);
    return text;
}

float ReferenceFloat(double value)
{
    if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CheckText(const char* field, size_t capacity, const std::string& expected, const char* name,
               const std::function<std::string()>& context)
{
    FUZZ_CHECK(std::memchr(field, 0, capacity) != nullptr, context() + ": " + name + " is not terminated");
    FUZZ_CHECK(std::string(field) == expected,
               context() + ": " + name + " is " + Escaped(field) + ", expected " + Escaped(expected));
}

} // namespace

uint32_t PlaceLowText(const std::string& text)
{
    unsigned char* region = LowRegion();
    if (region == nullptr || text.size() + 1 > kLowRegionSize) return 0;
    unsigned char* at = region + kLowRegionSize - (text.size() + 1);
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = 0;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at));
}

int32_t ReferenceDecimal(const char* text)
{
    const int saved = errno;
    const long long value = std::strtoll(text, nullptr, 10);
    errno = saved;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

void ReferenceDecode(const unsigned char* record, ReferenceResult* result)
{
    using namespace ReplyLayout;
    const unsigned char flags = record[Flags];
    result->PointerResult = 0;
    if (flags & HasKeyName) result->KeyName = Field(record, KeyName, KeyNameSize);
    if (flags & HasExtra) {
        result->ExtraText = Field(record, ExtraText, ExtraTextSize);
        result->ExtraValue = static_cast<int32_t>(Little32(record + ExtraValue));
    }
    if (!(flags & HasText)) return;
    const size_t textLength = record[TextLength];
    result->TextResult = Field(record, Text, textLength < TextSize ? textLength : TextSize);
    const std::string number = Field(record, Text, 40);
    switch (flags & KindMask) {
    case 1:
        result->IntResult = ReferenceDecimal(number.c_str());
        result->FloatResult = static_cast<float>(result->IntResult);
        break;
    case 2:
        result->LongResult = ReferenceDecimal(number.c_str());
        result->DoubleResult = result->LongResult;
        if (result->LongResult > -32768 && result->LongResult < 32767) result->IntResult = result->LongResult;
        break;
    case 3: {
        const double value = std::strtod(number.c_str(), nullptr);
        result->FloatResult = ReferenceFloat(value);
        if (value < 32767.0 && result->FloatResult > -32768.0f)
            result->IntResult = static_cast<int32_t>(result->FloatResult);
        break;
    }
    case 4:
        result->DoubleResult = std::strtod(number.c_str(), nullptr);
        break;
    case 5:
        result->PointerResult = Little32(record + PointerValue);
        result->IntResult = static_cast<int32_t>(Little32(record + PointerInt));
        break;
    case 8: {
        result->IntResult = ReferenceDecimal(number.c_str());
        std::string text;
        for (size_t at = Text + 1 + textLength; at < kCommandRecordSize && record[at] != 0 && text.size() < TextSize;
             ++at)
            text += static_cast<char>(record[at]);
        result->TextResult = text;
        break;
    }
    default:
        break;
    }
}

void CheckCommandResult(const ReferenceResult& expected, const std::function<std::string()>& context)
{
    const CommandResultRecord& actual = CommandResult;
    CheckText(actual.KeyName, kKeyNameCapacity, expected.KeyName, "KeyName", context);
    CheckText(actual.TextResult, kTextResultCapacity, expected.TextResult, "TextResult", context);
    CheckText(actual.ExtraText, kExtraTextCapacity, expected.ExtraText, "ExtraText", context);
    FUZZ_CHECK(actual.IntResult == expected.IntResult, context() + ": IntResult " + std::to_string(actual.IntResult) +
                                                           ", expected " + std::to_string(expected.IntResult));
    FUZZ_CHECK(actual.LongResult == expected.LongResult, context());
    FUZZ_CHECK(SameBits(actual.FloatResult, expected.FloatResult),
               context() + ": FloatResult " + std::to_string(actual.FloatResult) + ", expected " +
                   std::to_string(expected.FloatResult));
    FUZZ_CHECK(SameBits(actual.DoubleResult, expected.DoubleResult),
               context() + ": DoubleResult " + std::to_string(actual.DoubleResult) + ", expected " +
                   std::to_string(expected.DoubleResult));
    FUZZ_CHECK(reinterpret_cast<uintptr_t>(actual.PointerResult) == expected.PointerResult, context());
    FUZZ_CHECK(actual.ExtraValue == expected.ExtraValue, context());
}
