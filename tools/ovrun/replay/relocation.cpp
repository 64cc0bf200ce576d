// Moving a recorded run's directories into a replay's scratch folder.
#include "relocation.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "trace.h"

namespace replay {

namespace {

bool IsSeparator(char c, const Relocation& relocation) { return c == '/' || c == relocation.FromSeparator; }

// A byte that may stand inside a path name: a directory found right after
// one is part of a longer name, not a directory of its own.
bool IsPathByte(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) || byte >= 0x80 || std::strchr("._-~/\\:", c) != nullptr;
}

} // namespace

std::string BareDirectory(std::string path, char separator)
{
    while (!path.empty() && (path.back() == separator || path.back() == '/'))
        path.pop_back();
    return path;
}

bool EndsWithSeparator(const std::string& path, char separator)
{
    return !path.empty() && (path.back() == separator || path.back() == '/');
}

Relocation MakeRelocation(const TraceRequest& request, const ReplayFolders& folders)
{
    Relocation relocation;
    relocation.FromSeparator = request.Separator;
    relocation.ToSeparator = folders.Separator;
    const std::string& library = request.LibraryPath;
    const size_t slash = library.find_last_of(request.Separator == '\\' ? "\\/" : "/");
    const std::string programs =
        slash == std::string::npos ? "" : BareDirectory(library.substr(0, slash), request.Separator);
    const std::string test = BareDirectory(request.Values[kCurrentDirectory], request.Separator);
    const std::string exe = BareDirectory(request.Values[kExecutableDirectory], request.Separator);
    auto add = [&](const std::string& from, const std::string& to) {
        if (from.empty()) return;
        for (const auto& entry : relocation.Directories)
            if (entry.first == from) return;
        relocation.Directories.emplace_back(from, to);
    };
    add(programs, folders.Programs);
    add(test, folders.Test);
    add(exe, folders.Exe);
    std::stable_sort(relocation.Directories.begin(), relocation.Directories.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    return relocation;
}

std::string RelocateText(const std::string& text, const Relocation& relocation)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        bool moved = false;
        if (i == 0 || !IsPathByte(text[i - 1])) {
            for (const auto& entry : relocation.Directories) {
                const std::string& from = entry.first;
                if (text.compare(i, from.size(), from) != 0) continue;
                const size_t after = i + from.size();
                if (after < text.size() && !IsSeparator(text[after], relocation)) continue;
                out += entry.second;
                i = after;
                if (i < text.size()) {
                    out += relocation.ToSeparator;
                    ++i;
                }
                moved = true;
                break;
            }
        }
        if (!moved) out += text[i++];
    }
    return out;
}

std::string RelocateLine(const std::string& line, const Relocation& relocation)
{
    std::string out;
    size_t i = 0;
    while (i < line.size()) {
        std::string text;
        size_t after = i;
        if (line[i] != '"') {
            out += line[i++];
        } else if (Unquote(line, &after, &text)) {
            // set[N]="..." gives the record's bytes as they are.
            const bool raw = out.size() >= 2 && out.compare(out.size() - 2, 2, "]=") == 0;
            out += raw ? line.substr(i, after - i) : Quote(RelocateText(text, relocation));
            i = after;
        } else {
            // A quote that is never closed, or holds an escape the format
            // does not know: the launcher wrote no such line, and no reading
            // of the rest from a later quote would be one either. It stays
            // as it is, so that each line is scanned once.
            out.append(line, i, std::string::npos);
            break;
        }
    }
    return out;
}

} // namespace replay
