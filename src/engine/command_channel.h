// The command channel: one printf-style operation that sends a command text
// to the engine in the 255-byte request and reply record and decodes the
// reply into CommandResult.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

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
extern CommandRecordBytes CommandRecord;

constexpr size_t kKeyNameCapacity = 4;
constexpr size_t kTextResultCapacity = 208;
constexpr size_t kExtraTextCapacity = 11;

// The decoded replies. Every field but PointerResult keeps its value until a
// reply sets it again; PointerResult is null after every command whose reply
// does not set it.
struct CommandResultRecord {
    char KeyName[kKeyNameCapacity];       // the key that ended the screen, empty when none
    int32_t IntResult;                    // kinds 1, 5, 8; kinds 2 and 3 within -32768..32767 exclusive
    int32_t LongResult;                   // kind 2
    float FloatResult;                    // kinds 1, 3
    double DoubleResult;                  // kinds 2, 4
    char TextResult[kTextResultCapacity]; // the reply text
    const char* PointerResult;            // kind 5: a NUL-terminated text owned by the engine
    char ExtraText[kExtraTextCapacity];
    int32_t ExtraValue;
};

extern CommandResultRecord CommandResult;

// Formats the command, starts the engine when needed, sends the text and
// decodes the reply. Returns 0 always. A text longer than 254 characters is
// not sent: the user is told instead and CommandResult keeps its values.
int32_t SendCommand(const char* format, ...) OV_PRINTF_FORMAT(1, 2);
// Sends a finished text of at most 254 characters and decodes the reply.
int32_t ExecuteCommand(const char* text);
// Empties every field of CommandResult; after each start the engine accepted.
void ResetCommandResult();
// Decodes the reply now in CommandRecord into CommandResult.
void DecodeReply();
