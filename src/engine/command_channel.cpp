// Sending command texts to the engine and decoding its replies.
#include "engine/command_channel.h"

#include <cfloat>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/engine_loader.h"
#include "engine/session_trace.h"
#include "launcher/launch_context.h"

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
// Short fields go byte by byte: cheaper than three library calls.
static inline void CopyRecordField(char* destination, size_t offset, size_t count)
{
    const unsigned char* source = CommandRecord.Bytes + offset;
    size_t length = 0;
    if (count <= 16) {
        while (length < count && source[length] != 0) {
            destination[length] = static_cast<char>(source[length]);
            ++length;
        }
        while (length <= count)
            destination[length++] = '\0';
        return;
    }
    const void* nul = std::memchr(source, 0, count);
    length = nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - source) : count;
    std::memcpy(destination, source, length);
    std::memset(destination + length, 0, count + 1 - length);
}

// The number a reply's Text begins with is read from at most its first 40
// characters, up to the first NUL: byte i of that text, NUL past the 40th.
static inline unsigned char NumberByte(size_t i)
{
    return i < kNumberTextCapacity - 1 ? CommandRecord.Bytes[ReplyLayout::Text + i] : 0;
}

static inline bool IsAtoiSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// ReadDecimal of the number text, read in place.
static inline int32_t ReadNumberInteger()
{
    size_t i = 0;
    while (IsAtoiSpace(NumberByte(i)))
        ++i;
    bool negative = false;
    if (NumberByte(i) == '+' || NumberByte(i) == '-') negative = NumberByte(i++) == '-';
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    // Eighteen digits cannot overflow; held to the limit afterwards, the
    // value is what holding it at each digit gives.
    int64_t value = 0;
    const size_t fast = i + 18;
    for (unsigned char c = NumberByte(i); IsDigit(c) && i < fast; c = NumberByte(++i))
        value = value * 10 + (c - '0');
    if (value > limit) value = limit;
    for (unsigned char c = NumberByte(i); IsDigit(c); c = NumberByte(++i)) {
        if (value < limit) value = value * 10 + (c - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// atof of the number text. A plain decimal ([sign]digits[.digits], no
// exponent) of at most 19 digits whose digits make an integer of at most
// 2^53, is that integer divided by an exactly represented power of ten: one
// correctly rounded division, which gives the correctly rounded value that
// strtod gives. That holds only where doubles are evaluated in double
// precision (not on the x87 unit, where atof does everything), and in the C
// locale, which the launcher never leaves. Anything else goes to atof.
static double ReadNumberReal()
{
    if (FLT_EVAL_METHOD == 0) {
        static const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                              1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
        size_t i = 0;
        while (IsAtoiSpace(NumberByte(i)))
            ++i;
        const bool negative = NumberByte(i) == '-';
        if (NumberByte(i) == '+' || NumberByte(i) == '-') ++i;
        uint64_t mantissa = 0;
        int digits = 0;
        int fractionDigits = 0;
        for (; IsDigit(NumberByte(i)) && digits < 19; ++i, ++digits)
            mantissa = mantissa * 10 + static_cast<uint64_t>(NumberByte(i) - '0');
        if (NumberByte(i) == '.') {
            for (++i; IsDigit(NumberByte(i)) && digits < 19; ++i, ++digits, ++fractionDigits)
                mantissa = mantissa * 10 + static_cast<uint64_t>(NumberByte(i) - '0');
        }
        // More digits, an exponent or "0x" (hexadecimal) are strtod's to read.
        const unsigned char next = NumberByte(i);
        if (digits > 0 && mantissa <= (uint64_t{1} << 53) && !IsDigit(next) && next != 'e' && next != 'E' &&
            next != 'x' && next != 'X') {
            const double value = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
            return negative ? -value : value;
        }
    }
    char numberText[kNumberTextCapacity];
    size_t length = 0;
    while (NumberByte(length) != 0) {
        numberText[length] = static_cast<char>(NumberByte(length));
        ++length;
    }
    numberText[length] = '\0';
    return std::atof(numberText);
}

// A double beyond the range of float would make the conversion undefined.
static float ToFloat(double value)
{
    const double largest = std::numeric_limits<float>::max();
    if (value > largest) return std::numeric_limits<float>::infinity();
    if (value < -largest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// Formats as vsnprintf does into text (kFormatBufferSize bytes) and returns
// the length of the whole text. Plain characters, %s with a text, %c and %%
// are done here, which covers every command but "ENVI,%lu"; any other
// format goes to vsnprintf, which writes the same bytes, only slower.
static int FormatCommand(char* text, const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    size_t length = 0;
    const auto put = [&](const char* bytes, size_t count) {
        if (length < kFormatBufferSize - 1) {
            const size_t room = kFormatBufferSize - 1 - length;
            std::memcpy(text + length, bytes, count < room ? count : room);
        }
        length += count;
    };
    bool general = false;
    for (const char* at = format; *at != '\0' && !general;) {
        const char* percent = std::strchr(at, '%');
        if (percent == nullptr) {
            put(at, std::strlen(at));
            break;
        }
        put(at, static_cast<size_t>(percent - at));
        at = percent + 2;
        switch (percent[1]) {
        case 's': {
            // A null text is vsnprintf's to spell.
            const char* argument = va_arg(copy, const char*);
            if (argument == nullptr)
                general = true;
            else
                put(argument, std::strlen(argument));
            break;
        }
        case 'c': {
            const char character = static_cast<char>(va_arg(copy, int));
            put(&character, 1);
            break;
        }
        case '%':
            put("%", 1);
            break;
        default:
            general = true;
            break;
        }
    }
    va_end(copy);
    if (general || length > static_cast<size_t>(std::numeric_limits<int>::max()))
        return std::vsnprintf(text, kFormatBufferSize, format, arguments);
    text[length < kFormatBufferSize - 1 ? length : kFormatBufferSize - 1] = '\0';
    return static_cast<int>(length);
}

static inline void DecodeReplyInPlace();

// EnsureEngineStarted, without the call when the engine runs.
static inline bool EngineStarted() { return EngineState.Started == 1 || EnsureEngineStarted() == 1; }

// Sends a text of length bytes (at most 254) and decodes the reply.
static inline void Transmit(const char* text, size_t length)
{
    std::memset(CommandRecord.Bytes, 0, sizeof CommandRecord.Bytes);
    std::memcpy(CommandRecord.Bytes, text, length);
    const auto entry = reinterpret_cast<CommandEntry>(EngineState.OVCALLC);
    if (SessionTrace.Active)
        TraceCommand(entry, text, length);
    else
        entry(&CommandRecord);
    DecodeReplyInPlace();
}

int32_t SendCommand(const char* format, ...)
{
    // Most commands are fixed texts: sent as they are, with no copy.
    const size_t plain = std::strlen(format);
    if (plain <= kMaxCommandLength && std::memchr(format, '%', plain) == nullptr) {
        if (EngineStarted()) Transmit(format, plain);
        return 0;
    }
    char text[kFormatBufferSize];
    va_list arguments;
    va_start(arguments, format);
    int length = FormatCommand(text, format, arguments);
    va_end(arguments);
    if (length < 0) return 0;
    if (static_cast<size_t>(length) > kMaxCommandLength) {
        // The refused command must leave no trace in CommandResult, so the
        // notice's own reply is not kept either.
        if (SessionTrace.Active) TraceRefusedCommand(length);
        CommandResultRecord kept = CommandResult;
        SendCommand(LaunchContext.English ? kTooLongEnglish : kTooLongFrench, length);
        CommandResult = kept;
        return 0;
    }
    // The text may hold a NUL that a %c put there: it ends the command.
    if (EngineStarted()) Transmit(text, std::strlen(text));
    return 0;
}

int32_t ExecuteCommand(const char* text)
{
    size_t length = std::strlen(text);
    if (length > kMaxCommandLength) length = kMaxCommandLength;
    Transmit(text, length);
    return 0;
}

void DecodeReply() { DecodeReplyInPlace(); }

static inline void DecodeReplyInPlace()
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

    switch (kind) {
    case 1:
        CommandResult.IntResult = ReadNumberInteger();
        CommandResult.FloatResult = static_cast<float>(CommandResult.IntResult);
        break;
    case 2:
        CommandResult.LongResult = ReadNumberInteger();
        CommandResult.DoubleResult = CommandResult.LongResult;
        if (CommandResult.LongResult > -32768 && CommandResult.LongResult < 32767)
            CommandResult.IntResult = CommandResult.LongResult;
        break;
    case 3: {
        const double value = ReadNumberReal();
        CommandResult.FloatResult = ToFloat(value);
        if (value < 32767.0 && CommandResult.FloatResult > -32768.0f)
            CommandResult.IntResult = static_cast<int32_t>(CommandResult.FloatResult);
        break;
    }
    case 4:
        CommandResult.DoubleResult = ReadNumberReal();
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
        CommandResult.IntResult = ReadNumberInteger();
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
