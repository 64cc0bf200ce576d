// The 255-byte request and reply record, read and written from its bytes.
//
// Request: the command text from offset 0 and its NUL; every other byte zero.
// Reply, written over the request; integers little-endian; a byte that the
// reply does not write keeps what the request put there:
//   offset size field
//      0     1  Flags: 0x80 key name, 0x40 extra text and value,
//                      0x10 text and typed result, 0x0F result kind
//      2     3  KeyName, NUL-padded when shorter                 0x80
//      5    10  ExtraText, NUL-padded when shorter               0x40
//     15     4  ExtraValue, signed                               0x40
//      5     4  PointerValue, 32-bit address (kind 5, over ExtraText)
//      9     4  PointerInt, signed (kind 5, over ExtraText)
//     47     1  TextLength                                       0x10
//     48   207  Text; kinds 1-4 and 8 begin with a decimal number
// Kind 8: Text is the number, one separator, then a NUL-terminated text, and
// TextLength is the length of the number alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace standin {

constexpr size_t kRecordSize = 255;
constexpr size_t kKeyNameOffset = 2;
constexpr size_t kKeyNameSize = 3;
constexpr size_t kExtraTextOffset = 5;
constexpr size_t kExtraTextSize = 10;
constexpr size_t kExtraValueOffset = 15;
constexpr size_t kPointerValueOffset = 5;
constexpr size_t kPointerIntOffset = 9;
constexpr size_t kTextLengthOffset = 47;
constexpr size_t kTextOffset = 48;
constexpr size_t kTextSize = 207;
constexpr uint8_t kHasKeyName = 0x80;
constexpr uint8_t kHasExtra = 0x40;
constexpr uint8_t kHasText = 0x10;
constexpr uint8_t kKindMask = 0x0F;

// One reply as a script line or the interactive engine describes it.
struct Reply {
    bool HasKey = false;
    std::string Key; // at most 3 bytes
    bool HasText = false;
    int Kind = 0;       // 0 to 15
    std::string Text;   // the Text field; for kind 8 the part after the separator
    std::string Number; // kind 8: the number part, before the separator
    char Separator = ',';
    bool HasPointer = false;
    bool NullPointer = false;
    std::string PointerText; // kind 5: stored below 4 GiB, its address sent
    int32_t PointerInt = 0;
    bool HasExtra = false;
    std::string ExtraText; // at most 10 bytes
    int32_t ExtraValue = 0;
    // Raw control, applied after the fields above in this order.
    bool Clear = false; // zero all 255 bytes first
    bool HasTextLength = false;
    int TextLength = 0; // byte 47 as given
    bool HasFlags = false;
    int Flags = 0;                                     // byte 0 as given
    std::vector<std::pair<size_t, std::string>> Pokes; // bytes written from an offset
};

// The request's command text: the bytes up to the first NUL. Appends a fault
// to faults when no NUL ends it inside the record or a byte after it is not 0.
std::string ReadCommand(const unsigned char* record, std::vector<std::string>* faults);

// Writes reply over the record. Returns false (and writes no pointer) when a
// kind 5 text could not be stored below 4 GiB.
bool WriteReply(const Reply& reply, unsigned char* record);

// The reply now in the record, as a transcript line beginning "reply".
std::string DescribeReply(const unsigned char* record);

} // namespace standin
