// Laying out a replay's scratch folder to the recorded directories' lengths.
#include "scratch_layout.h"

#include <algorithm>

#include "engine/command_record.h"

namespace replay {

namespace {

// The longest name one folder of the padding gets; well under every
// system's limit on a name.
constexpr size_t kLongestPaddingName = 200;
// What a padded folder is filled with.
constexpr char kPadding = '-';

// A path under folder of exactly length bytes that begins with role, or
// empty when none fits.
std::string PathOfLength(const std::string& folder, const std::string& role, char separator, size_t length)
{
    std::string path = folder + separator + role;
    if (path.size() > length) return "";
    size_t name = role.size();
    while (path.size() < length) {
        // A new folder costs its separator and one byte of name at least.
        if (name >= kLongestPaddingName && length - path.size() >= 2) {
            path += separator;
            name = 0;
        }
        path += kPadding;
        ++name;
    }
    return path;
}

} // namespace

ReplayFolders LayOutFolders(const std::string& folder, const TraceRequest& request, char separator, size_t longestPath)
{
    ReplayFolders folders;
    folders.Separator = separator;
    // The recorded directories as the relocation finds them, each tagged
    // with the role it is moved to.
    ReplayFolders roles;
    roles.Programs = "programs";
    roles.Test = "test";
    roles.Exe = "exe";
    const Relocation recorded = MakeRelocation(request, roles);
    auto layOut = [&](const std::string& role, std::string* path) {
        *path = folder + separator + role;
        for (const auto& entry : recorded.Directories) {
            if (entry.second != role) continue;
            const size_t length = entry.first.size();
            if (length > longestPath) return;
            for (const std::string& name : {role, role.substr(0, 1)}) {
                const std::string padded = PathOfLength(folder, name, separator, length);
                if (!padded.empty()) {
                    *path = padded;
                    return;
                }
            }
        }
    };
    layOut(roles.Programs, &folders.Programs);
    layOut(roles.Test, &folders.Test);
    layOut(roles.Exe, &folders.Exe);
    return folders;
}

Relocation Reversed(const Relocation& relocation)
{
    Relocation reversed;
    reversed.FromSeparator = relocation.ToSeparator;
    reversed.ToSeparator = relocation.FromSeparator;
    for (const auto& entry : relocation.Directories)
        reversed.Directories.emplace_back(entry.second, entry.first);
    std::stable_sort(reversed.Directories.begin(), reversed.Directories.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    return reversed;
}

std::string CommandLengthProblem(const TraceRun& run, const Relocation& relocation, int* line)
{
    bool lengthsKept = true;
    for (const auto& entry : relocation.Directories)
        lengthsKept = lengthsKept && entry.first.size() == entry.second.size();
    if (lengthsKept) return "";
    const std::string limit = std::to_string(kMaxCommandLength);
    const std::string why = ", and no scratch folder of the recorded folders' lengths can be made here";
    for (const TraceLine& traceLine : run.Lines) {
        *line = traceLine.Number;
        // The recording does not keep such a command's text: whether it
        // stays over the limit once moved cannot be told.
        if (StartsWith(traceLine.Text, "# a command of ") && EndsWith(traceLine.Text, ", not sent"))
            return "line " + std::to_string(*line) + ": a command over the engine's " + limit +
                   " characters was not sent" + why;
        std::string command;
        size_t at = 0;
        if (!Unquote(traceLine.Text, &at, &command)) continue;
        const size_t moved = RelocateText(command, relocation).size();
        if (moved > kMaxCommandLength)
            return "line " + std::to_string(*line) + ": the command would be " + std::to_string(moved) +
                   " characters in the scratch folder, over the engine's " + limit + why;
    }
    return "";
}

} // namespace replay
