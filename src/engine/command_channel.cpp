// Sending command texts to the engine and decoding its replies.
#include "engine/command_channel.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/engine_loader.h"
#include "launcher/launch_context.h"
#include "launcher/text.h"

CommandRecordBytes CommandRecord;
CommandResultRecord CommandResult;

constexpr size_t kFormatBufferSize = 256;
constexpr size_t kNumberTextCapacity = 41; // at most 40 characters and NUL

static const char kTooLongFrench[] = "INFO,Commande trop longue pour le moteur (%d caract\xE8res, 254 au plus).";
static const char kTooLongEnglish[] = "INFO,Command too long for the engine (%d characters, 254 at most).";

static uint32_t ReadLittleEndian32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Copies count bytes of the record as strncpy does (stopping at a NUL and
// filling the rest with NULs) into a field of count+1 bytes, then ends it.
static void CopyRecordField(char* destination, size_t offset, size_t count)
{
    size_t i = 0;
    for (; i < count && CommandRecord.Bytes[offset + i] != 0; ++i)
        destination[i] = static_cast<char>(CommandRecord.Bytes[offset + i]);
    for (; i <= count; ++i)
        destination[i] = '\0';
}

// A double beyond the range of float would make the conversion undefined.
static float ToFloat(double value)
{
    const double largest = std::numeric_limits<float>::max();
    if (value > largest) return std::numeric_limits<float>::infinity();
    if (value < -largest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

int32_t SendCommand(const char* format, ...)
{
    char text[kFormatBufferSize];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return 0;
    if (static_cast<size_t>(length) > kMaxCommandLength) {
        // The refused command must leave no trace in CommandResult, so the
        // notice's own reply is not kept either.
        CommandResultRecord kept = CommandResult;
        SendCommand(LaunchContext.English ? kTooLongEnglish : kTooLongFrench, length);
        CommandResult = kept;
        return 0;
    }
    if (EnsureEngineStarted() == 1) ExecuteCommand(text);
    return 0;
}

int32_t ExecuteCommand(const char* text)
{
    std::memset(CommandRecord.Bytes, 0, sizeof CommandRecord.Bytes);
    size_t length = std::strlen(text);
    if (length > kMaxCommandLength) length = kMaxCommandLength;
    std::memcpy(CommandRecord.Bytes, text, length);
    reinterpret_cast<CommandEntry>(EngineState.OVCALLC)(&CommandRecord);
    DecodeReply();
    return 0;
}

void DecodeReply()
{
    using namespace ReplyLayout;
    const unsigned char* record = CommandRecord.Bytes;
    const uint8_t flags = record[Flags];
    CommandResult.PointerResult = nullptr;
    if (flags & HasKeyName) CopyRecordField(CommandResult.KeyName, KeyName, KeyNameSize);
    if (flags & HasExtra) {
        CopyRecordField(CommandResult.ExtraText, ExtraText, ExtraTextSize);
        CommandResult.ExtraValue = static_cast<int32_t>(ReadLittleEndian32(record + ExtraValue));
    }
    if (!(flags & HasText)) return;

    // A length beyond the Text field is held to it (and so to TextResult).
    const size_t textLength = record[TextLength];
    CopyRecordField(CommandResult.TextResult, Text, textLength < TextSize ? textLength : TextSize);

    const int kind = flags & KindMask;
    char numberText[kNumberTextCapacity];
    if (kind == 1 || kind == 2 || kind == 3 || kind == 4 || kind == 8)
        CopyRecordField(numberText, Text, kNumberTextCapacity - 1);

    switch (kind) {
    case 1:
        CommandResult.IntResult = ReadDecimal(numberText);
        CommandResult.FloatResult = static_cast<float>(CommandResult.IntResult);
        break;
    case 2:
        CommandResult.LongResult = ReadDecimal(numberText);
        CommandResult.DoubleResult = CommandResult.LongResult;
        if (CommandResult.LongResult > -32768 && CommandResult.LongResult < 32767)
            CommandResult.IntResult = CommandResult.LongResult;
        break;
    case 3: {
        const double value = std::atof(numberText);
        CommandResult.FloatResult = ToFloat(value);
        if (value < 32767.0 && CommandResult.FloatResult > -32768.0f)
            CommandResult.IntResult = static_cast<int32_t>(CommandResult.FloatResult);
        break;
    }
    case 4:
        CommandResult.DoubleResult = std::atof(numberText);
        break;
    case 5:
        CommandResult.PointerResult =
            reinterpret_cast<const char*>(static_cast<uintptr_t>(ReadLittleEndian32(record + PointerValue)));
        CommandResult.IntResult = static_cast<int32_t>(ReadLittleEndian32(record + PointerInt));
        break;
    case 8: {
        // The number, one separator, then a text that should end inside the
        // record; one that does not is taken only as far as the record goes.
        const size_t start = Text + 1 + textLength;
        CommandResult.IntResult = ReadDecimal(numberText);
        CommandResult.TextResult[0] = '\0';
        if (start < kCommandRecordSize) {
            size_t length = 0;
            while (start + length < kCommandRecordSize && record[start + length] != 0 &&
                   length + 1 < kTextResultCapacity)
                ++length;
            std::memcpy(CommandResult.TextResult, record + start, length);
            CommandResult.TextResult[length] = '\0';
        }
        break;
    }
    default:
        break;
    }
}

void ResetCommandResult()
{
    CommandResult.KeyName[0] = '\0';
    CommandResult.IntResult = 0;
    CommandResult.LongResult = 0;
    CommandResult.FloatResult = 0.0f;
    CommandResult.DoubleResult = 0.0;
    CommandResult.TextResult[0] = '\0';
    CommandResult.PointerResult = nullptr;
    CommandResult.ExtraText[0] = '\0';
    CommandResult.ExtraValue = 0;
}
