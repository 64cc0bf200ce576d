// The launcher's settings file, Orvane.ini in the Windows directory, and the
// writes through which the launcher changes it and WIN.INI.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSettingsFileNameCapacity = 16;

// "Orvane.ini" from the first step after the window class is registered.
extern char SettingsFileName[kSettingsFileNameCapacity];

// Writes value under section/key of the settings file; a null or empty value
// deletes the key. Returns nonzero on success. On failure the user is told
// through the engine, in the user's language, and 0 is returned.
int32_t WriteSetting(const char* section, const char* key, const char* value);
// Writes the low 16 bits of value as a signed decimal text; never deletes.
int32_t WriteIntegerSetting(const char* section, const char* key, int32_t value);

// Writes value under section/key of WIN.INI, an empty value as it is (a null
// one deletes the key). Returns nonzero on success; a failure is not told.
int32_t WriteWinIniSetting(const char* section, const char* key, const char* value);

// Reads section/key of the settings file into buffer (cut to size-1 bytes).
uint32_t ReadSetting(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size);

// Empties SettingsFileName, as at process start. For tests only.
void ResetSettingsForTests();
