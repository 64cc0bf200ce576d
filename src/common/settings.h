// The launcher's settings file, Orvane.ini in the Windows directory, and the
// two writes through which everything else changes it.
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

// Called after every write of the settings file with its result, when set:
// the session trace records the writes through it.
typedef void (*SettingsWriteObserver)(const char* file, const char* section, const char* key, const char* value,
                                      int32_t result);
extern SettingsWriteObserver SettingsWriteTrace; // null unless a session is traced

// Reads section/key of the settings file into buffer (cut to size-1 bytes).
uint32_t ReadSetting(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size);
