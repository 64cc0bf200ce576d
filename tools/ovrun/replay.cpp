// Running replays: a scratch folder per trace, the launcher and the stand-in
// copied into it, the settings rebuilt from the trace's header, one launcher
// run per recorded run, and the report.
#include "replay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "arguments.h"
#include "console_text.h"
#include "host.h"
#include "paths.h"
#include "replay_page.h"
#include "replay_trace.h"

namespace replay {

namespace {

const char kEngineLibrary[] = "OV553KRN.DLL";
const char kSettingsFile[] = "Orvane.ini";
const char kWinIni[] = "win.ini";
// The stand-in's status when strict mode ends the run at a command the
// script does not hold.
constexpr int kStrictExitStatus = 4;
// Calls the stand-in serves beyond the trace's lines, so that a replay that
// goes astray in a loop is ended.
constexpr size_t kSpareCalls = 64;

struct TraceResult {
    explicit TraceResult(const std::string& path) : Name(path), Path(path) {}
    std::string Name;
    std::string Path;
    bool Ran = false; // false: interrupted before it began
    bool Passed = false;
    std::string Message; // why it failed
    double Seconds = 0;
    std::string KeptFolder;                   // with --keep
    std::vector<traceview::ReplayedRun> Runs; // for --html
};

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

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// A settings file of the Windows directory as it was: its bytes, or its absence.
struct SavedFile {
    std::string Path;
    bool Present = false;
    std::string Bytes;
};

SavedFile Save(const std::string& path)
{
    SavedFile saved;
    saved.Path = path;
    saved.Present = IsRegularFile(path) && ReadBytes(path, &saved.Bytes, static_cast<size_t>(-1));
    return saved;
}

void Restore(const SavedFile& saved)
{
    if (saved.Present)
        WriteBytes(saved.Path, saved.Bytes);
    else
        std::remove(saved.Path.c_str());
}

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
                      const std::string& standin, long timeoutSeconds, traceview::ReplayedRun* shown)
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
    if (!CopyProgram(launcher, programPath) || !CopyProgram(standin, JoinPath(folders.Programs, kEngineLibrary)))
        return "cannot copy the launcher and the stand-in into " + folders.Programs;

    const Relocation relocation = MakeRelocation(run.Request, folders);
    shown->Moved = relocation;
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

    // On Windows the settings files are the system's: they are put back as
    // they were, byte for byte, however the run ends.
    const SavedFile settingsBefore = Save(JoinPath(windows, kSettingsFile));
    const SavedFile winIniBefore = Save(JoinPath(windows, kWinIni));
    if (!WriteBytes(settingsBefore.Path, RebuiltSettings(run.Request, folders, relocation, tracePath))) {
        if (!kPrivateWindowsDirectory) Restore(settingsBefore);
        return "cannot write the settings file " + settingsBefore.Path;
    }
    ProgramRun program;
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

    std::string replayed, settings, winIni, transcript;
    ReadBytes(tracePath, &replayed, kLargestTrace);
    ReadBytes(settingsBefore.Path, &settings, kLargestTrace);
    ReadBytes(winIniBefore.Path, &winIni, kLargestTrace);
    ReadBytes(transcriptPath, &transcript, kLargestTrace);
    if (!kPrivateWindowsDirectory) {
        Restore(settingsBefore);
        Restore(winIniBefore);
    }

    const std::string ending = DescribeEnd(end, timeoutSeconds);
    if (!end.Started || Interrupted()) return ending;
    const std::string fault = ScriptFault(transcript);
    if (!fault.empty()) return "not replayable: the stand-in cannot read it as a script: " + fault;
    std::vector<TraceLine> replayedLines = SplitLines(replayed);
    Divergence divergence = CompareRuns(expected, replayedLines, ending);
    shown->Aligned = divergence.Found;
    if (!divergence.Found && !(end.Exited && end.Status == 0 && !end.TimedOut))
        divergence = {true, expected.empty() ? 0 : expected.back().Number, "the launcher to end with status 0", ending};
    if (!divergence.Found) divergence = CheckSettings(expected, settings, winIni);
    if (!divergence.Found) return "";
    shown->Recorded = std::move(expected);
    shown->Replayed = std::move(replayedLines);
    shown->Difference = divergence;
    return "line " + std::to_string(divergence.Line) + ": expected " + divergence.Expected + " got " + divergence.Got;
}

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
        traceview::ReplayedRun shown;
        shown.Number = index + 1;
        const std::string failure = ReplayRun(trace.Runs[index], folder, launcher, standin, timeout, &shown);
        if (!failure.empty()) result->Message = runName(index) + failure;
        if (!options.Html.empty()) result->Runs.push_back(std::move(shown));
    }
    result->Passed = result->Message.empty();
    if (options.Keep)
        result->KeptFolder = scratch;
    else
        RemoveFolder(scratch);
    result->Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

bool EndsWithTxt(const std::string& name)
{
    if (name.size() < 4) return false;
    std::string suffix = name.substr(name.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return suffix == ".txt";
}

// The traces named: files as they are, folders as the *.txt files in them,
// sorted. False with a reason for a name that is neither.
bool CollectTraces(const std::vector<std::string>& names, std::vector<TraceResult>* traces, std::string* error)
{
    for (const std::string& name : names) {
        if (IsRegularFile(name)) {
            traces->emplace_back(name);
            continue;
        }
        if (!IsDirectory(name)) {
            *error = "no trace or folder at '" + name + "'";
            return false;
        }
        std::vector<std::string> files = FilesIn(name);
        files.erase(
            std::remove_if(files.begin(), files.end(), [](const std::string& file) { return !EndsWithTxt(file); }),
            files.end());
        if (files.empty()) {
            *error = "no trace (*.txt) in the folder '" + name + "'";
            return false;
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            const std::string path = JoinPath(name, file.c_str());
            traces->emplace_back(path);
        }
    }
    return true;
}

// The stand-in beside ovrun (a build), in standin/ beside it (the Windows
// package), or where the Linux package installs it.
std::string FindStandin()
{
    const std::string own = OwnDirectory();
    if (own.empty()) return "";
    for (const char* relative : {kEngineLibrary, "standin/OV553KRN.DLL", OV_INSTALLED_STANDIN}) {
        const std::string path = JoinPath(own, relative);
        if (IsRegularFile(path)) return path;
    }
    return "";
}

std::string XmlText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += static_cast<unsigned char>(c) < 32 ? '?' : c;
        }
    }
    return out;
}

std::string JunitXml(const std::vector<TraceResult>& results, double seconds)
{
    size_t failures = 0;
    for (const TraceResult& result : results)
        failures += result.Passed ? 0 : 1;
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites tests=\"" +
                      std::to_string(results.size()) + "\" failures=\"" + std::to_string(failures) + "\" time=\"" +
                      time + "\">\n  <testsuite name=\"ovrun replay\" tests=\"" + std::to_string(results.size()) +
                      "\" failures=\"" + std::to_string(failures) + "\" time=\"" + time + "\">\n";
    for (const TraceResult& result : results) {
        std::snprintf(time, sizeof time, "%.3f", result.Seconds);
        xml += "    <testcase classname=\"replay\" name=\"" + XmlText(result.Name) + "\" time=\"" + time + "\"";
        if (result.Passed) {
            xml += "/>\n";
        } else {
            const std::string message = XmlText(result.Ran ? result.Message : "not run: interrupted");
            xml += ">\n      <failure message=\"" + message + "\">" + message + "</failure>\n    </testcase>\n";
        }
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

std::vector<traceview::ReplayedTrace> PageTraces(std::vector<TraceResult>& results)
{
    std::vector<traceview::ReplayedTrace> traces;
    for (TraceResult& result : results)
        traces.push_back(
            {result.Name, result.Ran, result.Passed, result.Message, result.Seconds, std::move(result.Runs)});
    return traces;
}

int Refuse(int status, const std::string& message)
{
    WriteText(stderr, "ovrun replay: " + message + "\n");
    return status;
}

} // namespace

int RunReplays(const ReplayOptions& options)
{
    std::vector<TraceResult> results;
    std::string error;
    if (!CollectTraces(options.Traces, &results, &error)) return Refuse(kWrongUsage, error);

    const std::string launcher =
        options.Launcher.empty() ? JoinPath(OwnDirectory(), kLauncherFileName) : AbsolutePath(options.Launcher);
    if (launcher.empty() || !IsRegularFile(launcher))
        return Refuse(kCannotRun, "no launcher at '" + (options.Launcher.empty() ? launcher : options.Launcher) +
                                      "'; name one with --launcher");
    const std::string standin = options.Standin.empty() ? FindStandin() : AbsolutePath(options.Standin);
    if (standin.empty() || !IsRegularFile(standin))
        return Refuse(kCannotRun, options.Standin.empty()
                                      ? "no stand-in engine beside ovrun, in standin/ or in the package; name one "
                                        "with --standin"
                                      : "no stand-in engine at '" + options.Standin + "'");

    CatchInterrupts();
    const auto started = std::chrono::steady_clock::now();
    const unsigned jobs = options.Jobs > 0 ? options.Jobs : ProcessorCount();
    RunSideBySide(results.size(), jobs, [&](size_t index) {
        if (!Interrupted()) ReplayTrace(&results[index], launcher, standin, options);
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    size_t passed = 0, notRun = 0;
    std::string report;
    for (const TraceResult& result : results) {
        if (!result.Ran) {
            ++notRun;
            continue;
        }
        passed += result.Passed ? 1 : 0;
        report += result.Passed ? "PASS " + result.Name + "\n" : "FAIL " + result.Name + ": " + result.Message + "\n";
        if (!result.KeptFolder.empty()) report += "  kept in " + result.KeptFolder + "\n";
    }
    report += std::to_string(passed) + " passed, " + std::to_string(results.size() - passed - notRun) + " failed";
    if (notRun > 0) report += ", " + std::to_string(notRun) + " not run (interrupted)";
    WriteText(stdout, report + "\n");
    if (!options.Junit.empty() && !WriteBytes(options.Junit, JunitXml(results, seconds)))
        return Refuse(kSomeFailed, "cannot write the JUnit file " + options.Junit);
    if (!options.Html.empty() && !WriteBytes(options.Html, traceview::ReplayPage(PageTraces(results))))
        return Refuse(kSomeFailed, "cannot write the page " + options.Html);
    return passed == results.size() ? kAllPassed : kSomeFailed;
}

} // namespace replay
