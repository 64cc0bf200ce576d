// One trace replayed in a scratch folder of its own.
#include "scratch_run.h"

#include <chrono>
#include <cstdio>

#include "arguments.h"
#include "comparison.h"
#include "host.h"
#include "paths.h"
#include "rebuilt_settings.h"
#include "relocation.h"
#include "system_settings.h"
#include "trace.h"

namespace replay {

namespace {

const char kWinIni[] = "win.ini";
// The stand-in's status when strict mode ends the run at a command the
// script does not hold.
constexpr int kStrictExitStatus = 4;
// Calls the stand-in serves beyond the trace's lines, so that a replay that
// goes astray in a loop is ended.
constexpr size_t kSpareCalls = 64;

bool ReadBytes(const std::string& path, std::string* bytes, size_t limit)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0 && bytes->size() <= limit)
        bytes->append(buffer, count);
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    return read;
}

} // namespace

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

namespace {

std::string DescribeEnd(const LauncherEnd& end, long timeoutSeconds)
{
    if (!end.Started) return "the launcher could not be started: " + end.Failure;
    if (Interrupted()) return "interrupted";
    if (end.TimedOut) return "timed out after " + std::to_string(timeoutSeconds) + " s";
    if (!end.Exited) return "the launcher was ended by signal " + std::to_string(end.Status);
    if (end.Status == kStrictExitStatus)
        return "the stand-in ended the run at a command the trace does not hold (status 4)";
    return "the launcher ended with status " + std::to_string(end.Status);
}

// The first fault the stand-in found in its script, as its transcript says.
std::string ScriptFault(const std::string& transcript)
{
    for (const TraceLine& line : SplitLines(transcript))
        if (line.Text.compare(0, 13, "script fault ") == 0) return line.Text.substr(13);
    return "";
}

// One recorded run replayed in folder; empty when it passed, else why not.
std::string ReplayRun(const TraceRun& run, const std::string& folder, const std::string& launcher,
                      const std::string& standin, long timeoutSeconds)
{
    const char separator = kBackslashIsSeparator ? '\\' : '/';
    ReplayFolders folders;
    folders.Programs = JoinPath(folder, "programs");
    folders.Test = JoinPath(folder, "test");
    folders.Exe = JoinPath(folder, "exe");
    folders.Separator = separator;
    const std::string windows = kPrivateWindowsDirectory ? JoinPath(folder, "windows") : WindowsDirectoryName();
    const std::string programPath = JoinPath(folders.Programs, kLauncherFileName);
    for (const std::string& made : {folder, folders.Programs, folders.Test, folders.Exe})
        if (!MakeFolder(made)) return "cannot make the scratch folder " + made;
    if (kPrivateWindowsDirectory && !MakeFolder(windows)) return "cannot make the scratch folder " + windows;
    if (!CopyProgram(launcher, programPath) || !CopyProgram(standin, JoinPath(folders.Programs, kEngineLibraryName)))
        return "cannot copy the launcher and the stand-in into " + folders.Programs;

    const Relocation relocation = MakeRelocation(run.Request, folders);
    std::vector<TraceLine> expected;
    std::string script;
    for (const TraceLine& line : run.Lines) {
        expected.push_back({line.Number, RelocateLine(line.Text, relocation)});
        script += expected.back().Text + "\n";
    }
    const std::string scriptPath = JoinPath(folder, "script.txt");
    const std::string tracePath = JoinPath(folder, "replayed.txt");
    const std::string transcriptPath = JoinPath(folder, "transcript.txt");
    if (!WriteBytes(scriptPath, script)) return "cannot write " + scriptPath;

    // On Windows the settings files are the system's: the replay changes
    // the keys the launcher reads, under a journal, and puts them back.
    const std::string settingsPath = JoinPath(windows, kSettingsFileName);
    const std::string winIniPath = JoinPath(windows, kWinIni);
    const std::string rebuilt = RebuiltSettings(run.Request, folders, relocation, tracePath);
    Journal journal(windows);
    std::string problem;
    if (kPrivateWindowsDirectory && !WriteBytes(settingsPath, rebuilt))
        return "cannot write the settings file " + settingsPath;
    if (!kPrivateWindowsDirectory && !WriteSystemSettings(&journal, rebuilt, &problem)) return problem;
    ProgramRun program;
    program.InterruptsReachProgram = false;
    program.Path = programPath;
    program.CommandLine = LauncherCommandLine(programPath);
    program.Directory = folder;
    program.Environment = {{"OV_STANDIN_SCRIPT", scriptPath},
                           {"OV_STANDIN_STRICT", "1"},
                           {"OV_STANDIN_TRANSCRIPT", transcriptPath},
                           {"OV_STANDIN_MAX_CALLS", std::to_string(run.Lines.size() + kSpareCalls)}};
    if (kPrivateWindowsDirectory) program.Environment.emplace_back("WINDIR", windows);
    program.Unset = {"OV_STANDIN_MODE"};
    program.OutputPath = JoinPath(folder, "output.txt");
    program.TimeoutSeconds = timeoutSeconds;
    const LauncherEnd end = RunProgram(program);

    std::string replayed, transcript;
    ReadBytes(tracePath, &replayed, kLargestTrace);
    ReadBytes(transcriptPath, &transcript, kLargestTrace);
    // Read before the system's files are put back.
    const Divergence settingsLeft = CheckSettings(expected, settingsPath, winIniPath, ReadSetting);
    if (!kPrivateWindowsDirectory && !RestoreSystemSettings(&journal, &problem)) return problem;

    const std::string ending = DescribeEnd(end, timeoutSeconds);
    if (!end.Started || Interrupted()) return ending;
    const std::string fault = ScriptFault(transcript);
    if (!fault.empty()) return "not replayable: the stand-in cannot read it as a script: " + fault;
    Divergence divergence = CompareRuns(expected, SplitLines(replayed), ending);
    if (!divergence.Found && !(end.Exited && end.Status == 0 && !end.TimedOut))
        divergence = {true, expected.empty() ? 0 : expected.back().Number, "the launcher to end with status 0", ending};
    if (!divergence.Found) divergence = settingsLeft;
    if (!divergence.Found) return "";
    return "line " + std::to_string(divergence.Line) + ": expected " + divergence.Expected + " got " + divergence.Got;
}

} // namespace

void ReplayTrace(TraceResult* result, const std::string& launcher, const std::string& standin,
                 const ReplayOptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    result->Ran = true;
    std::string bytes;
    if (!ReadBytes(result->Path, &bytes, kLargestTrace)) {
        result->Message = "not replayable: it cannot be read";
        return;
    }
    const TraceFile trace = ReadTrace(bytes);
    const bool several = trace.Runs.size() > 1;
    auto runName = [&](size_t index) { return several ? "run " + std::to_string(index + 1) + ": " : std::string(); };
    if (!trace.Problem.empty()) {
        result->Message = "not replayable: " + trace.Problem;
        return;
    }
    for (size_t index = 0; index < trace.Runs.size(); ++index) {
        if (!trace.Runs[index].Problem.empty()) {
            result->Message = runName(index) + "not replayable: " + trace.Runs[index].Problem;
            return;
        }
    }
    const std::string scratch = MakeScratchFolder();
    if (scratch.empty()) {
        result->Message = "no scratch folder can be made";
        return;
    }
    const long timeout = options.TimeoutSeconds > 0 ? options.TimeoutSeconds : kDefaultTimeoutSeconds;
    for (size_t index = 0; index < trace.Runs.size() && result->Message.empty(); ++index) {
        const std::string folder = several ? JoinPath(scratch, ("run-" + std::to_string(index + 1)).c_str()) : scratch;
        const std::string failure = ReplayRun(trace.Runs[index], folder, launcher, standin, timeout);
        if (!failure.empty()) result->Message = runName(index) + failure;
    }
    result->Passed = result->Message.empty();
    if (options.Keep)
        result->KeptFolder = scratch;
    else
        RemoveFolder(scratch);
    result->Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

} // namespace replay
