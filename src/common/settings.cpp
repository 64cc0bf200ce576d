// Reads and writes of the settings file.
#include "common/settings.h"

#include <cstring>

#include "common/launch_context.h"
#include "common/text.h"
#include "common/trace_hooks.h"
#include "engine/command_channel.h"
#include "platform.h"

char SettingsFileName[kSettingsFileNameCapacity];

static const char kWriteFailedFrench[] = "INFO,Impossible d'\xE9"
                                         "crire dans ORVANE.INI.\nFichier prot\xE9g\xE9 ou d\xE9passant 64Ko";
static const char kWriteFailedEnglish[] =
    "INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko";

uint32_t ReadSetting(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size)
{
    return OsGetPrivateProfileString(section, key, defaultText, buffer, size, SettingsFileName);
}

int32_t WriteSetting(const char* section, const char* key, const char* value)
{
    if (value != nullptr && value[0] == '\0') value = nullptr;
    int32_t result = OsWritePrivateProfileString(section, key, value, SettingsFileName);
    if (TraceHooks != nullptr) TraceHooks->SettingWritten(SettingsFileName, section, key, value, result);
    if (result != 0) return result;
    // Told through the engine, which reaches up from here: one of the two
    // circles the design wants (the engine's start reads this file). The
    // message holds no placeholder; it is passed as the format.
    SendCommand(LaunchContext.English ? kWriteFailedEnglish : kWriteFailedFrench);
    return 0;
}

int32_t WriteIntegerSetting(const char* section, const char* key, int32_t value)
{
    char text[12];
    FormatText(text, sizeof text, "%d", static_cast<int>(static_cast<int16_t>(value & 0xFFFF)));
    return WriteSetting(section, key, text);
}

int32_t WriteWinIniSetting(const char* section, const char* key, const char* value)
{
    const int32_t result = OsWriteProfileString(section, key, value);
    if (TraceHooks != nullptr) TraceHooks->SettingWritten("WIN.INI", section, key, value, result);
    return result;
}

void ResetSettingsForTests() { std::memset(SettingsFileName, 0, sizeof SettingsFileName); }
