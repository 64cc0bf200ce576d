// A replay's reading of a trace, which comes from a user's machine: any
// bytes as a trace file. Whatever they hold, reading, moving and comparing
// end without a fault, and a run found replayable rebuilds a settings file
// of the four sections a replay writes and nothing else, its directories
// and trace inside the scratch folder; a run compared with itself does not
// diverge.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "comparison.h"
#include "rebuilt_settings.h"
#include "relocation.h"
#include "trace.h"

using namespace replay;

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Every line of the rebuilt file is a section the replay writes or a key of
// it, and TRACE names the replay's own trace.
void CheckRebuiltSettings(const std::string& file, const ReplayFolders& folders, const std::string& tracePath)
{
    static const char* const kSections[] = {"[TEST]", "[Orvane55]", "[COMPOSANTE]", "[OVTST552]"};
    std::string section;
    int traces = 0;
    size_t start = 0;
    while (start < file.size()) {
        const size_t end = file.find("\r\n", start);
        Check(end != std::string::npos);
        const std::string line = file.substr(start, end - start);
        Check(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        start = end + 2;
        if (line[0] == '[') {
            bool known = false;
            for (const char* name : kSections)
                known = known || line == name;
            Check(known);
            section = line;
            continue;
        }
        Check(!section.empty() && line.find('=') != std::string::npos);
        if (StartsWith(line, "TRACE=")) {
            Check(section == "[OVTST552]" && line == "TRACE=" + tracePath);
            ++traces;
        }
        if (StartsWith(line, "REPCOURANT=") && line.size() > 11) Check(StartsWith(line.substr(11), folders.Test));
        if (StartsWith(line, "REPEXE=") && line.size() > 7)
            Check(StartsWith(line.substr(7), folders.Programs) || StartsWith(line.substr(7), folders.Test) ||
                  StartsWith(line.substr(7), folders.Exe));
    }
    Check(traces == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const TraceFile file = ReadTrace(bytes);
    for (size_t index = 0; index < file.Runs.size(); ++index) {
        const TraceRun& run = file.Runs[index];
        // Each run moved the other way round from the one before.
        ReplayFolders folders;
        folders.Separator = index % 2 == 0 ? '/' : '\\';
        const std::string root = index % 2 == 0 ? "/scratch/r" : "C:\\scratch\\r";
        folders.Programs = root + folders.Separator + "programs";
        folders.Test = root + folders.Separator + "test";
        folders.Exe = root + folders.Separator + "exe";
        const Relocation relocation = MakeRelocation(run.Request, folders);
        std::vector<TraceLine> moved;
        for (const TraceLine& line : run.Lines)
            moved.push_back({line.Number, RelocateLine(line.Text, relocation)});
        Check(!CompareRuns(moved, moved, "").Found);
        CompareRuns(run.Lines, moved, "");
        const std::string tracePath = root + folders.Separator + "replayed.txt";
        const std::string settings = RebuiltSettings(run.Request, folders, relocation, tracePath);
        if (run.Problem.empty()) CheckRebuiltSettings(settings, folders, tracePath);
        // The recorded writes, read back from no file: every key absent.
        auto absent = [](const std::string&, const std::string&, const std::string&, std::string*) { return false; };
        CheckSettings(moved, "Orvane.ini", "WIN.INI", absent);
    }
    return 0;
}
