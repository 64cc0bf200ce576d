// Sending command texts to the engine and decoding its replies.
#include "engine/command_channel.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/launch_context.h"
#include "common/text.h"
#include "common/trace_hooks.h"
#include "engine/engine_loader.h"

CommandResultRecord CommandResult;

constexpr size_t kFormatBufferSize = 300;  // room to measure a text a little too long
constexpr size_t kNumberTextCapacity = 41; // at most 40 characters and NUL

static const char kTooLongFrench[] = "INFO,Commande trop longue pour le moteur (%d caract\xE8res, 254 au plus).";
static const char kTooLongEnglish[] = "INFO,Command too long for the engine (%d characters, 254 at most).";

int32_t EnsureEngineStarted()
{
    if (EngineState.Started == 1) return 1;
    LoadEngine();
    if (StartEngine(&CommandRecord) == 0) return 0;
    ResetCommandResult();
    EngineState.Started = 1;
    return 1;
}

// Copies count bytes of the record from offset as strncpy does (stopping at
// a NUL, filling the rest with NULs) into a field of count+1 bytes, ends it.
static void CopyRecordField(char* destination, size_t offset, size_t count)
{
    const unsigned char* source = CommandRecord.Bytes + offset;
    const void* nul = std::memchr(source, 0, count);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - source) : count;
    std::memcpy(destination, source, length);
    std::memset(destination + length, 0, count + 1 - length);
}

// The number a reply's Text begins with, read whatever TextLength says:
// its first 40 characters at most, up to a NUL, copied into buffer.
static const char* NumberText(char (&buffer)[kNumberTextCapacity])
{
    CopyRecordField(buffer, ReplyLayout::Text, kNumberTextCapacity - 1);
    return buffer;
}

// A double beyond the range of float would make the conversion undefined.
static float ToFloat(double value)
{
    const double largest = std::numeric_limits<float>::max();
    if (value > largest) return std::numeric_limits<float>::infinity();
    if (value < -largest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// Decodes the reply now in CommandRecord into CommandResult.
static void DecodeReply()
{
    using namespace ReplyLayout;
    const uint8_t flags = CommandRecord.Bytes[Flags];
    CommandResult.PointerResult = nullptr;
    if (flags & HasKeyName) CopyRecordField(CommandResult.KeyName, KeyName, KeyNameSize);
    if (flags & HasExtra) {
        CopyRecordField(CommandResult.ExtraText, ExtraText, ExtraTextSize);
        CommandResult.ExtraValue = static_cast<int32_t>(ReadRecord32(ExtraValue));
    }
    if (!(flags & HasText)) return;

    // A length beyond the Text field is held to it (and so to TextResult).
    const size_t textLength = CommandRecord.Bytes[TextLength];
    CopyRecordField(CommandResult.TextResult, Text, textLength < TextSize ? textLength : TextSize);

    // Integers are held to the 32-bit range by ReadDecimal, where atoi's
    // overflow is undefined.
    char number[kNumberTextCapacity];
    switch (flags & KindMask) {
    case 1:
        CommandResult.IntResult = ReadDecimal(NumberText(number));
        CommandResult.FloatResult = static_cast<float>(CommandResult.IntResult);
        break;
    case 2:
        CommandResult.LongResult = ReadDecimal(NumberText(number));
        CommandResult.DoubleResult = CommandResult.LongResult;
        if (CommandResult.LongResult > -32768 && CommandResult.LongResult < 32767)
            CommandResult.IntResult = CommandResult.LongResult;
        break;
    case 3: {
        const double value = std::atof(NumberText(number));
        CommandResult.FloatResult = ToFloat(value);
        if (value < 32767.0 && CommandResult.FloatResult > -32768.0f)
            CommandResult.IntResult = static_cast<int32_t>(CommandResult.FloatResult);
        break;
    }
    case 4:
        CommandResult.DoubleResult = std::atof(NumberText(number));
        break;
    case 5:
        CommandResult.PointerResult = reinterpret_cast<const char*>(static_cast<uintptr_t>(ReadRecord32(PointerValue)));
        CommandResult.IntResult = static_cast<int32_t>(ReadRecord32(PointerInt));
        break;
    case 8: {
        // The number, one separator, then a text that should end inside the
        // record (it starts at 49 or later, so it always fits TextResult);
        // one that does not is taken only as far as the record goes.
        const size_t start = Text + 1 + textLength;
        CommandResult.IntResult = ReadDecimal(NumberText(number));
        CommandResult.TextResult[0] = '\0';
        if (start < kCommandRecordSize) CopyRecordField(CommandResult.TextResult, start, kCommandRecordSize - start);
        break;
    }
    default:
        break;
    }
}

int32_t SendCommand(const char* format, ...)
{
    // A text without a placeholder is sent as it is; any other is formatted
    // and measured first.
    const char* text = format;
    size_t length = std::strlen(format);
    char formatted[kFormatBufferSize];
    if (std::memchr(format, '%', length) != nullptr) {
        va_list arguments;
        va_start(arguments, format);
        const int formattedLength = std::vsnprintf(formatted, sizeof formatted, format, arguments);
        va_end(arguments);
        if (formattedLength < 0) return 0;
        text = formatted;
        length = static_cast<size_t>(formattedLength);
    }
    if (length > kMaxCommandLength) {
        // The refused command must leave no trace in CommandResult, so the
        // notice's own reply is not kept either.
        if (TraceHooks != nullptr) TraceHooks->CommandRefused(static_cast<int>(length));
        const CommandResultRecord kept = CommandResult;
        SendCommand(LaunchContext.English ? kTooLongEnglish : kTooLongFrench, static_cast<int>(length));
        CommandResult = kept;
        return 0;
    }
    // A refused start drops the command.
    if (EnsureEngineStarted() == 0) return 0;
    std::memset(CommandRecord.Bytes, 0, sizeof CommandRecord.Bytes);
    // A NUL that a %c put in the text ends the command.
    const size_t sent = std::strlen(text);
    std::memcpy(CommandRecord.Bytes, text, sent);
    if (TraceHooks != nullptr) TraceHooks->CommandSending(text, sent);
    EngineState.OVCALLC(&CommandRecord);
    if (TraceHooks != nullptr) TraceHooks->CommandAnswered(text, sent);
    DecodeReply();
    return 0;
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

void ResetCommandChannelForTests()
{
    std::memset(&CommandRecord, 0, sizeof CommandRecord);
    std::memset(&CommandResult, 0, sizeof CommandResult);
}
