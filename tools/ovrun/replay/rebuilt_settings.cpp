// The settings file a replay starts the launcher with.
#include "rebuilt_settings.h"

#include "relocation.h"

namespace replay {

std::string RebuiltSettings(const TraceRequest& request, const ReplayFolders& folders, const Relocation& relocation,
                            const std::string& tracePath)
{
    std::string values[kRequestKeyCount];
    for (int key = 0; key < kRequestKeyCount; ++key)
        values[key] = request.Values[key];
    values[kCommandLine] = RelocateText(values[kCommandLine], relocation);
    // The directories become the scratch folder's, whatever they were, and
    // keep a trailing separator where they had one.
    auto moved = [&](int key, const std::string& root) {
        const std::string& recorded = request.Values[key];
        if (recorded.empty()) return recorded;
        const std::string bare = BareDirectory(recorded, request.Separator);
        std::string directory = bare.empty() ? root : RelocateText(bare, relocation);
        if (EndsWithSeparator(recorded, request.Separator)) directory += folders.Separator;
        return directory;
    };
    values[kExecutableDirectory] = moved(kExecutableDirectory, folders.Exe);
    values[kCurrentDirectory] = moved(kCurrentDirectory, folders.Test);
    auto section = [](const char* name) { return std::string("[") + name + "]\r\n"; };
    std::string file = section(kTestSection);
    for (int key = 0; key < kRequestKeyCount; ++key)
        file += std::string(kRequestKeys[key]) + "=" + values[key] + "\r\n";
    if (!request.Language.empty()) file += section(kProductSection) + kLanguageKey + "=" + request.Language + "\r\n";
    bool componentSection = false;
    for (int component = 0; component < kComponentKeyCount; ++component) {
        if (request.Components[component].empty()) continue;
        if (!componentSection) file += section(kComponentSection);
        componentSection = true;
        file += "COMPOSANTE_" + std::to_string(component) + "=" + request.Components[component] + "\r\n";
    }
    return file + section(kTraceSettingSection) + kTraceSettingKey + "=" + tracePath + "\r\n";
}

} // namespace replay
