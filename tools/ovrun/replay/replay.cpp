// Running replays: the traces named, each replayed (scratch_run.cpp), and
// the report.
#include "replay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "common/editor_protocol.h"
#include "console_text.h"
#include "file_bytes.h"
#include "host.h"
#include "paths.h"
#include "scratch_run.h"
#include "system_settings.h"

namespace replay {

namespace {

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
    const std::string inStandinFolder = std::string("standin/") + kEngineLibraryName;
    for (const char* relative : {kEngineLibraryName, inStandinFolder.c_str(), OV_INSTALLED_STANDIN}) {
        const std::string path = JoinPath(own, relative);
        if (IsRegularFile(path)) return path;
    }
    return "";
}

// The runs each trace replayed, as its page shows them.
std::vector<traceview::ReplayedTrace> PageTraces(const std::vector<TraceResult>& results,
                                                 std::vector<std::vector<traceview::ReplayedRun>>& shown)
{
    std::vector<traceview::ReplayedTrace> traces;
    for (size_t index = 0; index < results.size(); ++index) {
        const TraceResult& result = results[index];
        traces.push_back(
            {result.Name, result.Ran, result.Passed, result.Message, result.Seconds, std::move(shown[index])});
    }
    return traces;
}

int Refuse(int status, const std::string& message)
{
    WriteText(stderr, ReadableText("ovrun replay: " + message) + "\n");
    return status;
}

} // namespace

int RunReplays(const ReplayOptions& options)
{
    std::vector<TraceResult> results;
    std::string error;
    if (!CollectTraces(options.Traces, &results, &error)) return Refuse(kWrongUsage, error);
    // Found now, not once every replay has run.
    if (!options.Junit.empty() && !CanAppendTo(options.Junit))
        return Refuse(kWrongUsage, "the JUnit file " + options.Junit + " cannot be written");

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

    const std::string cannotLoad = LibraryProblem(standin);
    if (!cannotLoad.empty())
        return Refuse(kCannotRun, "the stand-in engine " + standin + " cannot be loaded: " + cannotLoad);
    std::string problem;
    const std::string scratch = MakeScratchFolder(&problem);
    if (scratch.empty()) return Refuse(kCannotRun, problem);
    RemoveFolder(scratch);

    // A settings file that cannot be read must never be taken for absent.
    if (!kPrivateWindowsDirectory && !SystemSettingsProblem().empty())
        return Refuse(kCannotRun, SystemSettingsProblem());
    CatchInterrupts();
    const auto started = std::chrono::steady_clock::now();
    // Where the settings files are the system's, one replay at a time.
    const unsigned jobs = kPrivateWindowsDirectory ? options.Jobs : 1;
    std::vector<std::vector<traceview::ReplayedRun>> shown(results.size());
    RunSideBySide(results.size(), jobs, [&](size_t index) {
        if (!Interrupted() && !CannotRunSeen() && SystemSettingsProblem().empty())
            ReplayTrace(&results[index], launcher, standin, options, options.Html.empty() ? nullptr : &shown[index]);
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // No report of traces when the replays could not run: none of them is at fault.
    for (const TraceResult& result : results) {
        if (!result.CannotRun.empty()) return Refuse(kCannotRun, "the replays cannot run: " + result.CannotRun);
    }
    const char* actions = std::getenv("GITHUB_ACTIONS");
    WriteText(stdout, ConsoleReport(results, actions != nullptr && std::string(actions) == "true"));
    if (!options.Junit.empty() && !WriteFileBytes(options.Junit, JunitXml(results, seconds)))
        return Refuse(kSomeFailed, "cannot write the JUnit file " + options.Junit);
    if (!options.Html.empty() && !WriteFileBytes(options.Html, traceview::ReplayPage(PageTraces(results, shown))))
        return Refuse(kSomeFailed, "cannot write the page " + options.Html);
    if (!kPrivateWindowsDirectory && !SystemSettingsProblem().empty())
        return Refuse(kCannotRun, SystemSettingsProblem());
    size_t passed = 0;
    for (const TraceResult& result : results)
        passed += result.Passed ? 1 : 0;
    return passed == results.size() ? kAllPassed : kSomeFailed;
}

} // namespace replay
