// One trace replayed in a scratch folder of its own.
#include "scratch_run.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "arguments.h"
#include "comparison.h"
#include "file_bytes.h"
#include "host.h"
#include "paths.h"
#include "rebuilt_settings.h"
#include "relocation.h"
#include "scratch_layout.h"
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

} // namespace

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

// How one recorded run went: passed, failed at a line of the trace file, or
// could not be run at all.
struct RunOutcome {
    int Line = 0;        // 0 with no Message: passed
    std::string Message; // why it failed, or why no replay can run here
    bool CannotRun = false;
};

RunOutcome Failed(int line, const std::string& message)
{
    RunOutcome outcome;
    outcome.Line = line;
    outcome.Message = message;
    return outcome;
}

RunOutcome CannotRun(const std::string& why)
{
    RunOutcome outcome = Failed(0, why);
    outcome.CannotRun = true;
    return outcome;
}

// Room left in the longest path for a file in a directory of the replay.
constexpr size_t kRoomForAFile = 16;

// path, under the existing folder, made folder by folder.
bool MakeFolders(const std::string& folder, const std::string& path, char separator)
{
    for (size_t at = path.find(separator, folder.size() + 1); at != std::string::npos;
         at = path.find(separator, at + 1))
        if (!MakeFolder(path.substr(0, at))) return false;
    return MakeFolder(path);
}

// The stand-in's script fault "line N: ..." with N, a line of the run's
// script, as the line of the trace file.
RunOutcome ScriptFaultOutcome(const std::string& fault, const std::vector<TraceLine>& script)
{
    std::string text = fault;
    const int scriptLine = LineNamed(fault);
    // The script holds the run's lines from its first, blank ones included.
    const int first = script.empty() ? 0 : script.front().Number;
    int line = first;
    if (scriptLine >= 1 && !script.empty() && scriptLine <= script.back().Number - first + 1) {
        line = first + scriptLine - 1;
        const std::string was = "line " + std::to_string(scriptLine);
        text.replace(text.find(was), was.size(), "line " + std::to_string(line));
    }
    return Failed(line, "not replayable: the stand-in cannot read it as a script: " + text);
}

// The last line of the trace file a replay that ran out of time reached.
int LineReached(const Divergence& divergence, const std::vector<TraceLine>& expected)
{
    if (!divergence.Found) return expected.empty() ? 0 : expected.back().Number;
    // A replay that stopped inside a line (a command sent, no reply) reached
    // that line; one that stopped before it, the last line before it.
    if (divergence.Got.compare(0, 9, "nothing: ") != 0) return divergence.Line;
    int reached = divergence.Line;
    for (const TraceLine& line : expected)
        if (line.Number < divergence.Line && !line.Text.empty()) reached = line.Number;
    return reached;
}

// One recorded run replayed in folder.
RunOutcome ReplayRun(const TraceRun& run, const std::string& folder, const std::string& launcher,
                     const std::string& standin, long timeoutSeconds, traceview::ReplayedRun* shown)
{
    const char separator = kBackslashIsSeparator ? '\\' : '/';
    // The launcher is given the folders in its spelling (on Windows its code
    // page); ovrun's own calls take them in UTF-8.
    std::string launcherFolder;
    if (!LauncherTextFromUtf8(folder, &launcherFolder))
        return CannotRun("the scratch folder " + folder + " holds characters outside the launcher's code page");
    const ReplayFolders folders = LayOutFolders(launcherFolder, run.Request, separator, kLongestPath - kRoomForAFile);
    const ReplayFolders own = {Utf8FromLauncherText(folders.Programs), Utf8FromLauncherText(folders.Test),
                               Utf8FromLauncherText(folders.Exe), separator};
    const std::string windows = kPrivateWindowsDirectory ? JoinPath(folder, "windows") : WindowsDirectoryName();
    const std::string programPath = JoinPath(own.Programs, kLauncherFileName);
    if (!MakeFolder(folder)) return CannotRun("cannot make the scratch folder " + folder);
    for (const std::string& made : {own.Programs, own.Test, own.Exe})
        if (!MakeFolders(folder, made, separator)) return CannotRun("cannot make the scratch folder " + made);
    if (kPrivateWindowsDirectory && !MakeFolder(windows)) return CannotRun("cannot make the scratch folder " + windows);
    if (!CopyProgram(launcher, programPath) || !CopyProgram(standin, JoinPath(own.Programs, kEngineLibraryName)))
        return CannotRun("cannot copy the launcher and the stand-in into " + own.Programs);

    const Relocation relocation = MakeRelocation(run.Request, folders);
    shown->Moved = relocation;
    int tooLongAt = 0;
    const std::string tooLong = CommandLengthProblem(run, relocation, &tooLongAt);
    if (!tooLong.empty()) return Failed(tooLongAt, "not replayable here: " + tooLong);
    std::vector<TraceLine> expected;
    std::string script;
    int previous = run.Lines.empty() ? 0 : run.Lines.front().Number - 1;
    for (const TraceLine& line : run.Lines) {
        expected.push_back({line.Number, RelocateLine(line.Text, relocation)});
        // The blank lines the reading dropped keep the script's lines where
        // the run has them.
        script.append(static_cast<size_t>(line.Number - previous - 1), '\n');
        script += expected.back().Text + "\n";
        previous = line.Number;
    }
    const std::string scriptPath = JoinPath(folder, "script.txt");
    const std::string tracePath = JoinPath(folder, "replayed.txt");
    const std::string launcherTracePath = JoinPath(launcherFolder, "replayed.txt");
    const std::string transcriptPath = JoinPath(folder, "transcript.txt");
    if (!WriteFileBytes(scriptPath, script)) return CannotRun("cannot write " + scriptPath);

    // On Windows the settings files are the system's: the replay changes
    // the keys the launcher reads, under a journal, and puts them back.
    const std::string settingsPath = JoinPath(windows, kSettingsFileName);
    const std::string winIniPath = JoinPath(windows, kWinIni);
    const std::string rebuilt = RebuiltSettings(run.Request, folders, relocation, launcherTracePath);
    Journal journal(windows);
    std::string problem;
    if (kPrivateWindowsDirectory && !WriteFileBytes(settingsPath, rebuilt))
        return CannotRun("cannot write the settings file " + settingsPath);
    if (!kPrivateWindowsDirectory && !WriteSystemSettings(&journal, rebuilt, &problem)) return CannotRun(problem);
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
    ReadFileBytes(tracePath, &replayed, kLargestTrace);
    ReadFileBytes(transcriptPath, &transcript, kLargestTrace);
    // Read before the system's files are put back.
    const Divergence settingsLeft = CheckSettings(expected, settingsPath, winIniPath, ReadSetting);
    if (!kPrivateWindowsDirectory && !RestoreSystemSettings(&journal, &problem)) return CannotRun(problem);

    const std::string ending = DescribeEnd(end, timeoutSeconds);
    if (!end.Started) return CannotRun("the launcher " + launcher + " cannot be started: " + end.Failure);
    if (Interrupted()) return Failed(0, ending);
    const std::string fault = ScriptFault(transcript);
    if (!fault.empty()) return ScriptFaultOutcome(fault, run.Lines);
    std::vector<TraceLine> replayedLines = SplitLines(replayed);
    Divergence divergence = CompareRuns(expected, replayedLines, ending);
    shown->Aligned = divergence.Found;
    if (end.TimedOut) {
        const int reached = LineReached(divergence, expected);
        return Failed(reached, "line " + std::to_string(reached) + ": " + ending + ", the last line it reached");
    }
    if (!divergence.Found && !(end.Exited && end.Status == 0))
        divergence = {true, expected.empty() ? 0 : expected.back().Number, "the launcher to end with status 0", ending};
    if (!divergence.Found) divergence = settingsLeft;
    if (!divergence.Found) return RunOutcome();
    shown->Recorded = std::move(expected);
    shown->Replayed = std::move(replayedLines);
    shown->Difference = divergence;
    // Told as recorded: the scratch folder's paths back to the recorded ones.
    const Relocation back = Reversed(relocation);
    return Failed(divergence.Line, "line " + std::to_string(divergence.Line) + ": expected " +
                                       RelocateLine(divergence.Expected, back) + " got " +
                                       RelocateLine(divergence.Got, back));
}

std::atomic<bool> CannotRunFound{false}; // a replay found that none can run here

} // namespace

bool CannotRunSeen() { return CannotRunFound; }

void ReplayTrace(TraceResult* result, const std::string& launcher, const std::string& standin,
                 const ReplayOptions& options, std::vector<traceview::ReplayedRun>* shownRuns)
{
    const auto started = std::chrono::steady_clock::now();
    result->Ran = true;
    // Every failure has its line in the file: the first when nothing names one.
    auto fail = [&](int line, const std::string& message) {
        result->Line = line > 0 ? line : 1;
        result->Message = message;
    };
    std::string bytes;
    if (!ReadFileBytes(result->Path, &bytes, kLargestTrace)) {
        fail(1, "not replayable: it cannot be read");
        return;
    }
    const TraceFile trace = ReadTrace(bytes);
    const bool several = trace.Runs.size() > 1;
    if (!trace.Problem.empty()) {
        fail(LineNamed(trace.Problem), "not replayable: " + trace.Problem);
        return;
    }
    for (size_t index = 0; index < trace.Runs.size(); ++index) {
        const TraceRun& run = trace.Runs[index];
        if (run.Problem.empty()) continue;
        const int line = LineNamed(run.Problem);
        fail(line > 0            ? line
             : run.Lines.empty() ? 0
                                 : run.Lines.front().Number,
             (several ? "run " + std::to_string(index + 1) + ": " : std::string()) + "not replayable: " + run.Problem);
        return;
    }
    std::string problem;
    const std::string scratch = MakeScratchFolder(&problem);
    if (scratch.empty()) {
        result->CannotRun = problem;
        CannotRunFound = true;
        return;
    }
    const long timeout = options.TimeoutSeconds > 0 ? options.TimeoutSeconds : kDefaultTimeoutSeconds;
    for (size_t index = 0; index < trace.Runs.size() && result->Message.empty(); ++index) {
        const std::string folder = several ? JoinPath(scratch, ("r" + std::to_string(index + 1)).c_str()) : scratch;
        traceview::ReplayedRun shown;
        shown.Number = index + 1;
        const RunOutcome outcome = ReplayRun(trace.Runs[index], folder, launcher, standin, timeout, &shown);
        if (shownRuns != nullptr) shownRuns->push_back(std::move(shown));
        if (outcome.CannotRun) {
            result->CannotRun = outcome.Message;
            CannotRunFound = true;
            break;
        }
        if (!outcome.Message.empty()) fail(outcome.Line, outcome.Message);
    }
    result->Passed = result->Message.empty() && result->CannotRun.empty();
    if (options.Keep)
        result->KeptFolder = scratch;
    else
        RemoveFolder(scratch);
    result->Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

} // namespace replay
