// The replay's request written into the system's settings files key by
// key, from the rebuilt file's lines, under the journal.
#include "system_settings.h"

#include <vector>

#include "common/editor_protocol.h"
#include "paths.h"
#include "run_guard.h"

namespace replay {

namespace {

// Set when a replay could not begin its journal or put the settings back.
std::string Failure;

// Every key the launcher reads or writes, in the order the rebuilt file
// holds them: the request and the report, LANGUAGE, the components, TRACE,
// and WIN.INI's LIGNEDECOMMANDE.
std::vector<SettingKey> LauncherKeys()
{
    std::vector<SettingKey> keys;
    for (const char* key : kRequestKeys)
        keys.push_back({false, kTestSection, key, true});
    for (const char* key : kReportKeys)
        keys.push_back({false, kTestSection, key, true});
    keys.push_back({false, kProductSection, kLanguageKey, true});
    for (int component = 0; component < kComponentKeyCount; ++component)
        keys.push_back({false, kComponentSection, "COMPOSANTE_" + std::to_string(component), true});
    keys.push_back({false, "OVTST552", "TRACE", true});
    keys.push_back({true, kProductSection, kRequestKeys[kCommandLine], true});
    return keys;
}

// The value of section/key in the rebuilt file ("[S]\r\nK=V\r\n" lines);
// false when it has none.
bool RebuiltValue(const std::string& rebuilt, const SettingKey& key, std::string* value)
{
    std::string section;
    for (size_t start = 0; start < rebuilt.size();) {
        size_t end = rebuilt.find("\r\n", start);
        if (end == std::string::npos) end = rebuilt.size();
        const std::string line = rebuilt.substr(start, end - start);
        start = end + 2;
        if (!line.empty() && line[0] == '[') {
            section = line.substr(1, line.size() - 2);
        } else if (section == key.Section && line.compare(0, key.Key.size() + 1, key.Key + "=") == 0) {
            *value = line.substr(key.Key.size() + 1);
            return true;
        }
    }
    return false;
}

} // namespace

bool WriteSystemSettings(Journal* journal, const std::string& rebuilt, std::string* problem)
{
    const std::vector<SettingKey> keys = LauncherKeys();
    if (!journal->Begin(keys, problem)) {
        Failure = *problem;
        return false;
    }
    for (const SettingKey& key : keys) {
        // The launcher itself deletes an earlier report; WIN.INI's line is its own.
        if (key.WinIni) continue;
        std::string value, now;
        const bool wanted = RebuiltValue(rebuilt, key, &value);
        const bool present = ReadKey(key, &now);
        if (wanted == present && (!wanted || value == now)) continue;
        const bool written = WriteKey(key, wanted ? value.c_str() : nullptr);
        KillPoint();
        if (!written) {
            *problem = "cannot write [" + key.Section + "] " + key.Key + " into the settings file";
            std::string why;
            if (!RestoreSystemSettings(journal, &why)) *problem += "; " + why;
            return false;
        }
    }
    return true;
}

bool RestoreSystemSettings(Journal* journal, std::string* problem)
{
    if (journal->Restore(true, problem)) return true;
    Failure = *problem;
    return false;
}

std::string SystemSettingsProblem()
{
    if (!Failure.empty()) return Failure;
    return UnreadableSettingsFile(WindowsDirectoryName());
}

} // namespace replay
