// The session trace's header: the launcher and its target, the run's date,
// and every setting the launcher reads before its first command.
#include "engine/trace_header.h"

#include "common/editor_protocol.h"
#include "common/settings.h"
#include "common/text.h"
#include "engine/startup_block.h"
#include "engine/trace_format.h"
#include "engine/trace_line.h"

constexpr uint32_t kRequestValueCapacity = 300; // as the launcher reads the request

static void WriteRequestLine(AppendFileHandle file, const char* section, const char* key)
{
    char value[kRequestValueCapacity];
    ReadSetting(section, key, "", value, sizeof value);
    TraceAppendFormat(kTraceSettingFormat, section, key);
    TraceAppendQuoted(value);
    TraceWriteLine(file);
}

void WriteTraceHeader(AppendFileHandle file, uint32_t existingSize, char lastByte)
{
    // A run whose engine never returned ends in the middle of its last line.
    if (existingSize > 0 && lastByte != '\n') TraceWriteLine(file);
    if (existingSize > 0) {
        TraceAppend(kTraceRunSeparator);
        TraceWriteLine(file);
    }
    TraceAppend(kTraceHeaderStart);
    TraceAppendFormat("%s, %s %u-bit", kVersionText, kPathSeparator == '\\' ? "Windows" : "Linux",
                      static_cast<unsigned>(sizeof(void*) * 8));
    TraceWriteLine(file);
    OsLocalTime now;
    OsGetLocalTime(&now);
    TraceAppend(kTraceDatePrefix);
    TraceAppendFormat("%04u-%02u-%02u %02u:%02u:%02u", now.year, now.month, now.day, now.hour, now.minute, now.second);
    TraceWriteLine(file);
    for (const char* key : kRequestKeys)
        WriteRequestLine(file, kTestSection, key);
    WriteRequestLine(file, kProductSection, kLanguageKey);
    // The components that are set, as each start of the engine reads them
    // into its start-up block: a replay needs them too.
    char value[kComponentValueCapacity];
    for (int index = 0; index < kComponentKeyCount; ++index) {
        char key[16];
        FormatText(key, sizeof key, "COMPOSANTE_%d", index);
        ReadSetting(kComponentSection, key, "", value, sizeof value);
        if (value[0] == '\0') continue;
        TraceAppendFormat(kTraceSettingFormat, kComponentSection, key);
        TraceAppendQuoted(value);
        TraceWriteLine(file);
    }
    // Everything the launcher reads before its first command is above.
    TraceAppend(kTraceHeaderEnd);
    TraceWriteLine(file);
}
