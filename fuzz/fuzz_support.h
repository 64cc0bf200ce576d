// Shared pieces of the fuzz targets: a failed check that libFuzzer records
// as a crash, texts at addresses below 4 GiB for kind 5 replies, and a
// decoder of the reply record written from its byte table, against which
// the launcher's own decoding is compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The fuzz input read from the front, so that a seed is just its fields one
// after another. Reads past the end give zeros (Bytes gives what is left).
class ByteStream {
  public:
    ByteStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Remaining() const { return size_ - at_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Little-endian.
    uint16_t Word()
    {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    std::string Bytes(size_t count)
    {
        if (count > Remaining()) count = Remaining();
        std::string bytes(reinterpret_cast<const char*>(data_ + at_), count);
        at_ += count;
        return bytes;
    }
    std::string Rest() { return Bytes(Remaining()); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Prints what failed and aborts, so that the input is kept as a crash.
[[noreturn]] void FuzzFailure(const char* file, int line, const std::string& what);
#define FUZZ_CHECK(condition, what)                                                                                    \
    do {                                                                                                               \
        if (!(condition)) FuzzFailure(__FILE__, __LINE__, std::string(#condition ": ") + (what));                      \
    } while (0)

// Bytes as C escapes, for the failure messages.
std::string Escaped(const std::string& bytes);

// Places a text and its NUL so that it ends right before an unreadable page:
// a read past the NUL faults at once. The address fits the reply's 32-bit
// pointer field. Each call reuses the same pages. 0 when no low memory can
// be had or the text is too long.
uint32_t PlaceLowText(const std::string& text);

// atoi as the C library reads a decimal number (white space, a sign,
// digits), held to the 32-bit range as strtol holds it to its own.
int32_t ReferenceDecimal(const char* text);

// What the launcher should hold after decoding one reply.
struct ReferenceResult {
    std::string KeyName;
    int32_t IntResult = 0;
    int32_t LongResult = 0;
    float FloatResult = 0.0f;
    double DoubleResult = 0.0;
    std::string TextResult;
    uint32_t PointerResult = 0;
    std::string ExtraText;
    int32_t ExtraValue = 0;
};

// Applies the reply in the 255 bytes of record to result, field by field as
// the reply table says, with TextLength held to the Text field and a kind 8
// text held to the record and to 207 characters.
void ReferenceDecode(const unsigned char* record, ReferenceResult* result);

// Compares the launcher's CommandResult with the reference; a difference is
// a failure naming the field after what context gives (called only then).
void CheckCommandResult(const ReferenceResult& expected, const std::function<std::string()>& context);
