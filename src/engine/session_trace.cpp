// Writing the session trace. Every line is built in one fixed buffer and
// handed to the system at once; commands and replies are script lines the
// stand-in engine replays, everything else is a comment.
#include "engine/session_trace.h"

#include <cstring>

#include "common/error_description.h"
#include "common/hex_digits.h"
#include "common/launch_context.h"
#include "common/settings.h"
#include "common/text.h"
#include "engine/command_record.h"
#include "engine/engine_library.h"
#include "engine/startup_block.h"
#include "engine/trace_format.h"
#include "engine/trace_header.h"
#include "engine/trace_line.h"

SessionTraceRecord SessionTrace;

static const char kEnvironmentCommand[] = "ENVI,";
static const char kDescriptionCommand[] = "DFTOCS";
constexpr size_t kTraceDirectoryCapacity = 260; // the Windows directory, as Windows bounds a path

static char Description[kErrorDescriptionCapacity]; // a kind 5 error description, as the launcher copies it
static uint64_t CallStart;                          // the clock when the engine was called

static void WriteLine(bool ending = true) { TraceWriteLine(SessionTrace.File, ending); }

// A line of its own: one of the format's marks.
static void MarkLine(const char* line)
{
    TraceAppend(line);
    WriteLine();
}

static void CommentLine(const char* text)
{
    TraceAppend("# ");
    MarkLine(text);
}

// The milliseconds since CallStart, to a tenth, as a comment.
static void AppendElapsed()
{
    const uint64_t ticks = OsQueryPerformanceCounter() - CallStart;
    const uint64_t tenths = ticks * 10000 / OsQueryPerformanceFrequency();
    TraceAppendFormat("  # %llu.%llu ms", static_cast<unsigned long long>(tenths / 10),
                      static_cast<unsigned long long>(tenths % 10));
}

static size_t FieldLength(const unsigned char* field, size_t size)
{
    const void* nul = std::memchr(field, 0, size);
    return nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - field) : size;
}

static bool IsAbsolutePath(const char* path)
{
    if (path[0] == '/' || path[0] == '\\') return true;
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    return kPathSeparator == '\\' && letter && path[1] == ':';
}

// The trace file's full path into SessionTrace.Path; false when it has none.
static bool ResolveTracePath(const char* value)
{
    if (IsAbsolutePath(value)) return !CopyText(SessionTrace.Path, value);
    char directory[kTraceDirectoryCapacity];
    if (OsGetWindowsDirectory(directory, sizeof directory) == 0) return false;
    const int length =
        FormatText(SessionTrace.Path, sizeof SessionTrace.Path, "%s%c%s", directory, kPathSeparator, value);
    return length > 0 && static_cast<size_t>(length) < sizeof SessionTrace.Path;
}

void StartSessionTrace()
{
    char value[kTracePathCapacity];
    const uint32_t length = ReadSetting(kTraceSettingSection, kTraceSettingKey, "", value, sizeof value);
    if (value[0] == '\0') return;
    uint32_t existingSize = 0;
    char lastByte = 0;
    // A value that filled the buffer may have been cut: never open a file it does not name.
    if (length + 1 < sizeof value && ResolveTracePath(value))
        SessionTrace.File = OsOpenAppendFile(SessionTrace.Path, &existingSize, &lastByte);
    if (SessionTrace.File == nullptr) {
        if (SessionTrace.Path[0] == '\0') CopyText(SessionTrace.Path, value);
        SessionTrace.OpenFailed = 1;
        return;
    }
    TraceHooks = &kSessionTraceHooks;
    WriteTraceHeader(SessionTrace.File, existingSize, lastByte);
}

void EndSessionTrace()
{
    if (SessionTrace.File == nullptr) return;
    MarkLine(kTraceRunEnd);
    OsCloseAppendFile(SessionTrace.File);
    SessionTrace.File = nullptr;
    TraceHooks = nullptr;
}

// Kind 8: the number of TextLength bytes, one separator, then a text that
// runs to a NUL or the record's end. A number part that the script cannot
// give (a NUL in it, or no room for the separator) goes as raw bytes: from
// Text to the last byte the launcher reads, each terminator included.
static void AppendNumberAndText(size_t textLength)
{
    using namespace ReplyLayout;
    const unsigned char* text = CommandRecord.Bytes + Text;
    const size_t tailStart = Text + 1 + textLength;
    if (textLength < TextSize && std::memchr(text, 0, textLength) == nullptr) {
        TraceAppend(" number=");
        TraceAppendQuoted(text, textLength);
        if (text[textLength] != ',') {
            TraceAppend(" separator=");
            TraceAppendQuoted(text + textLength, 1);
        }
        TraceAppend(" text=");
        TraceAppendQuoted(CommandRecord.Bytes + tailStart,
                          FieldLength(CommandRecord.Bytes + tailStart, kCommandRecordSize - tailStart));
        return;
    }
    constexpr size_t kNumberRead = 40;
    size_t end = FieldLength(text, kNumberRead);
    if (end < kNumberRead) ++end;
    if (tailStart < kCommandRecordSize) {
        size_t tail = tailStart - Text + FieldLength(CommandRecord.Bytes + tailStart, kCommandRecordSize - tailStart);
        if (Text + tail < kCommandRecordSize) ++tail;
        if (tail > end) end = tail;
    }
    TraceAppendFormat(" textlength=%u set[%u]=", static_cast<unsigned>(textLength), static_cast<unsigned>(Text));
    TraceAppendQuoted(text, end);
}

// Kind 5: the text at the pointer only after DFTOCS, the one reply whose text
// the launcher reads, and only as far as it reads it; elsewhere the values.
static void AppendPointer(const char* command, size_t commandLength)
{
    using namespace ReplyLayout;
    const uint32_t address = ReadRecord32(PointerValue);
    const int32_t pointerInt = static_cast<int32_t>(ReadRecord32(PointerInt));
    const bool described = commandLength == sizeof kDescriptionCommand - 1 &&
                           std::memcmp(command, kDescriptionCommand, commandLength) == 0;
    if (address == 0) {
        TraceAppendFormat(" pointer=null pointerint=%d", static_cast<int>(pointerInt));
    } else if (described) {
        CopyErrorDescription(Description, reinterpret_cast<const char*>(static_cast<uintptr_t>(address)));
        TraceAppend(" pointer=");
        TraceAppendQuoted(Description);
        TraceAppendFormat(" pointerint=%d", static_cast<int>(pointerInt));
    } else {
        TraceAppendFormat(" set[%u]=", static_cast<unsigned>(PointerValue));
        TraceAppendQuoted(CommandRecord.Bytes + PointerValue, 8);
    }
}

// The reply in the record as script items that write every byte the
// launcher reads: the ordinary items, and raw ones where those fall short.
static void AppendReply(const char* command, size_t commandLength)
{
    using namespace ReplyLayout;
    const unsigned char* record = CommandRecord.Bytes;
    const uint8_t flags = record[Flags];
    uint8_t given = 0;
    if (flags & HasKeyName) {
        TraceAppend(" key=");
        TraceAppendQuoted(record + KeyName, FieldLength(record + KeyName, KeyNameSize));
        given |= HasKeyName;
    }
    if (flags & HasExtra) {
        TraceAppend(" extratext=");
        TraceAppendQuoted(record + ExtraText, FieldLength(record + ExtraText, ExtraTextSize));
        TraceAppendFormat(" extravalue=%d", static_cast<int>(static_cast<int32_t>(ReadRecord32(ExtraValue))));
        given |= HasExtra;
    }
    if (flags & HasText) {
        const int kind = flags & KindMask;
        const size_t textLength = record[TextLength];
        TraceAppendFormat(" kind=%d", kind);
        given |= static_cast<uint8_t>(HasText | kind);
        if (kind == 8) {
            AppendNumberAndText(textLength);
        } else {
            const size_t length = FieldLength(record + Text, TextSize);
            TraceAppend(" text=");
            TraceAppendQuoted(record + Text, length);
            if (textLength != length) TraceAppendFormat(" textlength=%u", static_cast<unsigned>(textLength));
            if (kind == 5) AppendPointer(command, commandLength);
        }
    }
    if (flags != given) TraceAppendFormat(" flags=0x%02X", flags);
    if (flags == 0) TraceAppend(" none");
}

static bool IsEnvironmentCommand(const char* text, size_t length)
{
    const size_t prefix = sizeof kEnvironmentCommand - 1;
    return length >= prefix && std::memcmp(text, kEnvironmentCommand, prefix) == 0;
}

static void TraceCommandSending(const char* text, size_t length)
{
    // The ENVI address differs in every run: a prefix, and the text as a comment.
    const bool environment = IsEnvironmentCommand(text, length);
    TraceAppendQuoted(reinterpret_cast<const unsigned char*>(text),
                      environment ? sizeof kEnvironmentCommand - 1 : length);
    TraceAppend(environment ? "* =>" : " =>");
    // Written before the call, so a call that never returns still shows.
    WriteLine(false);
    CallStart = OsQueryPerformanceCounter();
}

static void TraceCommandAnswered(const char* text, size_t length)
{
    AppendReply(text, length);
    AppendElapsed();
    if (IsEnvironmentCommand(text, length)) {
        TraceAppend(", sent ");
        TraceAppendQuoted(reinterpret_cast<const unsigned char*>(text), length);
    }
    WriteLine();
}

static void TraceCommandRefused(int length)
{
    TraceAppendFormat("# a command of %d characters, longer than %u, not sent", length,
                      static_cast<unsigned>(kMaxCommandLength));
    WriteLine();
}

static void TraceEngineLoaded(ModuleHandle library, const char* missingEntryPoint)
{
    if (library == nullptr) {
        TraceAppendFormat("# %s could not be loaded", kEngineLibraryName);
        WriteLine();
        return;
    }
    // The path is where this machine keeps the library: a comment.
    char path[kDirectoryCapacity];
    if (OsGetModuleFileName(library, path, sizeof path) == 0) CopyText(path, kEngineLibraryName);
    TraceAppend(kTraceLoadedPrefix);
    TraceAppendQuoted(path);
    WriteLine();
    if (missingEntryPoint == nullptr) return;
    TraceAppend("# entry point ");
    TraceAppend(missingEntryPoint);
    TraceAppend(" missing");
    WriteLine();
}

static void TraceEngineStarting(const void* block)
{
    if (block == nullptr) {
        TraceAppend("# start-up block: none, no memory for it");
    } else {
        TraceAppend("# start-up block ");
        const unsigned char* bytes = static_cast<const unsigned char*>(block);
        for (uint32_t i = 0; i < kStartupBlockSize; ++i) {
            const char pair[2] = {kHexDigits[bytes[i] >> 4], kHexDigits[bytes[i] & 0x0F]};
            TraceAppend(pair, 2);
        }
    }
    WriteLine();
    CallStart = OsQueryPerformanceCounter();
}

static void TraceEngineStarted(int32_t result)
{
    if (result == 1)
        TraceAppend("@start => accept");
    else if (result == 0)
        TraceAppend("@start => refuse");
    else
        TraceAppendFormat("@start => result=%d", static_cast<int>(result));
    AppendElapsed();
    WriteLine();
}

static void TraceEngineStopping() { CommentLine("stop"); }

static void TraceSettingWritten(const char* file, const char* section, const char* key, const char* value,
                                int32_t result)
{
    const bool deletion = key == nullptr || value == nullptr || value[0] == '\0';
    TraceAppendFormat("# %s %.16s [", deletion ? "delete" : "write", file);
    TraceAppend(section);
    TraceAppend("]");
    // A null key deletes the whole section.
    if (key != nullptr) {
        TraceAppend(" ");
        TraceAppend(key);
    }
    if (!deletion) {
        TraceAppend("=");
        TraceAppendQuoted(value);
    }
    TraceAppend(result != 0 ? ": done" : ": failed");
    WriteLine();
}

const TraceHookTable kSessionTraceHooks = {
    TraceEngineLoaded,   TraceEngineStarting,  TraceEngineStarted,  TraceEngineStopping,
    TraceCommandSending, TraceCommandAnswered, TraceCommandRefused, TraceSettingWritten,
};

void ResetSessionTraceForTests()
{
    std::memset(&SessionTrace, 0, sizeof SessionTrace);
    TraceHooks = nullptr;
    std::memset(Description, 0, sizeof Description);
    CallStart = 0;
    ResetTraceLineForTests();
}
