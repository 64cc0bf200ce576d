// Encoding replies into the record and describing what a record holds.
#include "reply.h"

#include <cstdio>
#include <cstring>

#include "common/hex_digits.h"
#include "low_memory.h"
#include "transcript.h"

namespace standin {

namespace {

void Put32(unsigned char* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t Get32(const unsigned char* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// strncpy into a fixed field: the text, then NULs to the field's end.
void PutPadded(unsigned char* at, size_t size, const std::string& text)
{
    std::memset(at, 0, size);
    std::memcpy(at, text.data(), text.size() < size ? text.size() : size);
}

// The bytes of a field up to its first NUL or its end.
std::string GetField(const unsigned char* at, size_t size)
{
    size_t length = 0;
    while (length < size && at[length] != 0)
        ++length;
    return std::string(reinterpret_cast<const char*>(at), length);
}

} // namespace

std::string ReadCommand(const unsigned char* record, std::vector<std::string>* faults)
{
    const void* nul = std::memchr(record, 0, kRecordSize);
    if (nul == nullptr) {
        faults->push_back("request: no NUL ends the command text inside the record");
        return std::string(reinterpret_cast<const char*>(record), kRecordSize);
    }
    const size_t length = static_cast<const unsigned char*>(nul) - record;
    for (size_t at = length + 1; at < kRecordSize; ++at) {
        if (record[at] != 0) {
            faults->push_back("request: byte " + std::to_string(at) + " after the command text is not zero");
            break;
        }
    }
    return std::string(reinterpret_cast<const char*>(record), length);
}

bool WriteReply(const Reply& reply, unsigned char* record)
{
    bool stored = true;
    if (reply.Clear) std::memset(record, 0, kRecordSize);
    uint8_t flags = 0;
    if (reply.HasKey) {
        flags |= kHasKeyName;
        PutPadded(record + kKeyNameOffset, kKeyNameSize, reply.Key);
    }
    if (reply.HasExtra) {
        flags |= kHasExtra;
        PutPadded(record + kExtraTextOffset, kExtraTextSize, reply.ExtraText);
        Put32(record + kExtraValueOffset, static_cast<uint32_t>(reply.ExtraValue));
    }
    if (reply.HasText) {
        flags |= kHasText | (reply.Kind & kKindMask);
        std::string field = reply.Text;
        size_t textLength = reply.Text.size();
        if (reply.Kind == 8) {
            field = reply.Number + reply.Separator + reply.Text;
            textLength = reply.Number.size();
        }
        // A field that fills the 207 bytes has no room for its NUL.
        const size_t count = field.size() < kTextSize ? field.size() : kTextSize;
        std::memcpy(record + kTextOffset, field.data(), count);
        if (count < kTextSize) record[kTextOffset + count] = 0;
        record[kTextLengthOffset] = static_cast<unsigned char>(textLength > 255 ? 255 : textLength);
    }
    if (reply.HasPointer) {
        uint32_t address = 0;
        if (!reply.NullPointer) {
            address = StoreLowText(reply.PointerText);
            if (address == 0) stored = false;
        }
        Put32(record + kPointerValueOffset, address);
        Put32(record + kPointerIntOffset, static_cast<uint32_t>(reply.PointerInt));
    }
    if (reply.HasTextLength) record[kTextLengthOffset] = static_cast<unsigned char>(reply.TextLength);
    record[0] = reply.HasFlags ? static_cast<unsigned char>(reply.Flags) : flags;
    for (const auto& poke : reply.Pokes) {
        for (size_t i = 0; i < poke.second.size() && poke.first + i < kRecordSize; ++i)
            record[poke.first + i] = static_cast<unsigned char>(poke.second[i]);
    }
    return stored;
}

std::string DescribeReply(const unsigned char* record)
{
    const uint8_t flags = record[0];
    std::string line = "reply flags=0x";
    line += kHexDigits[flags >> 4];
    line += kHexDigits[flags & 0x0F];
    if (flags & kHasKeyName) line += " key=" + Quote(GetField(record + kKeyNameOffset, kKeyNameSize));
    if (flags & kHasExtra) {
        line += " extratext=" + Quote(GetField(record + kExtraTextOffset, kExtraTextSize));
        line += " extravalue=" + std::to_string(static_cast<int32_t>(Get32(record + kExtraValueOffset)));
    }
    if (flags & kHasText) {
        const int kind = flags & kKindMask;
        line += " kind=" + std::to_string(kind);
        line += " textlength=" + std::to_string(record[kTextLengthOffset]);
        line += " text=" + Quote(GetField(record + kTextOffset, kTextSize));
        if (kind == 5) {
            const uint32_t address = Get32(record + kPointerValueOffset);
            std::string text;
            if (address == 0) {
                line += " pointer=null";
            } else if (FindLowText(address, &text)) {
                line += " pointer=" + Quote(text);
            } else {
                // Not one of ours: never read through it.
                char foreign[16];
                std::snprintf(foreign, sizeof foreign, "0x%08X", static_cast<unsigned>(address));
                line += std::string(" pointer=") + foreign;
            }
            line += " pointerint=" + std::to_string(static_cast<int32_t>(Get32(record + kPointerIntOffset)));
        }
    }
    return line;
}

} // namespace standin
