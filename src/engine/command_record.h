// The 255-byte request and reply record passed to every engine entry point:
// its layout, and the one record of the process.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kCommandRecordSize = 255; // not 256
constexpr size_t kMaxCommandLength = 254;  // the text and its NUL fill the record

// Request: the command text from offset 0 and its NUL, every other byte zero.
// Reply, written by the engine over the request (integers little-endian):
//   offset size field
//      0     1  Flags: 0x80 key name, 0x40 extra text and value,
//                      0x10 text and typed result, 0x0F result kind
//      2     3  KeyName (NUL-terminated when shorter)          0x80
//      5    10  ExtraText (NUL-terminated when shorter)        0x40
//     15     4  ExtraValue, signed                             0x40
//      5     4  PointerValue, a 32-bit address (kind 5)        0x10
//      9     4  PointerInt, signed (kind 5)                    0x10
//     47     1  TextLength, at most 207                        0x10
//     48   207  Text; kinds 1-4 and 8 begin with a decimal number
namespace ReplyLayout {
constexpr size_t Flags = 0;
constexpr size_t KeyName = 2;
constexpr size_t KeyNameSize = 3;
constexpr size_t ExtraText = 5;
constexpr size_t ExtraTextSize = 10;
constexpr size_t ExtraValue = 15;
constexpr size_t PointerValue = 5;
constexpr size_t PointerInt = 9;
constexpr size_t TextLength = 47;
constexpr size_t Text = 48;
constexpr size_t TextSize = 207;
constexpr uint8_t HasKeyName = 0x80;
constexpr uint8_t HasExtra = 0x40;
constexpr uint8_t HasText = 0x10;
constexpr uint8_t KindMask = 0x0F;
} // namespace ReplyLayout

struct CommandRecordBytes {
    unsigned char Bytes[kCommandRecordSize];
};
static_assert(sizeof(CommandRecordBytes) == kCommandRecordSize, "the record is exactly 255 bytes");
static_assert(ReplyLayout::Text + ReplyLayout::TextSize == kCommandRecordSize, "Text ends the record");

// Passed to every engine entry point; holds whatever the last command left.
inline CommandRecordBytes CommandRecord;

// The little-endian 32-bit value at offset of the record.
inline uint32_t ReadRecord32(size_t offset)
{
    const unsigned char* bytes = CommandRecord.Bytes + offset;
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}
