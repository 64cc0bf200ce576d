// ovrun: asks the launcher for a test from the command line, the way the
// product's editor does, and prints the error report it leaves behind.
//
// It writes the request into section TEST of Orvane.ini (LIGNEDECOMMANDE,
// COMMANDE=EDITEUR, REPEXE, REPCOURANT, PARAM1, PARAM2) after removing the
// report of an earlier run, starts the launcher, waits for it, and reads the
// report back: one compiler-style line (or, with --json, one object) when
// it holds a runtime error. The settings file is reached through the same
// platform layer as the launcher's.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "common/editor_protocol.h"
#include "console_text.h"
#include "engine/trace_format.h"
#include "host.h"
#include "journal.h"
#include "paths.h"
#include "platform.h"
#include "replay/replay.h"
#include "report.h"
#include "run_guard.h"
#include "settings_guard.h"
#include "view_command.h"

namespace {

// Returned for a key that is not there; no settings value holds this byte.
const char kAbsent[] = "\n";

constexpr int kNoError = 0;
constexpr int kRuntimeError = 1;
constexpr int kBadInput = 2;
constexpr int kLauncherFailed = 3;
// The stand-in engine's exit status when its call limit is reached.
constexpr int kStandinCallLimitStatus = 3;

int Fail(int status, const std::string& message)
{
    WriteText(stderr, "ovrun: " + message + "\n");
    return status;
}

// A value of any length: the read is retried with a larger buffer while it
// fills the one it was given.
std::string ReadSetting(const char* key)
{
    std::vector<char> buffer(512);
    for (;;) {
        const uint32_t size = static_cast<uint32_t>(buffer.size());
        const uint32_t length =
            OsGetPrivateProfileString(kTestSection, key, "", buffer.data(), size, kSettingsFileName);
        if (length + 1 < size) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

bool WriteSetting(const char* key, const char* value)
{
    const bool written = OsWritePrivateProfileString(kTestSection, key, value, kSettingsFileName) != 0;
    KillPoint();
    return written;
}

// The keys a run may change, each recorded in the journal first: the
// report and the request stay after the run, as the editor's do, and are
// put back only when the run did not end as it should; TRACE is the run's
// alone.
std::vector<SettingKey> RunKeys(bool trace)
{
    std::vector<SettingKey> keys;
    for (const char* key : kReportKeys)
        keys.push_back({false, kTestSection, key, false});
    for (const char* key : kRequestKeys)
        keys.push_back({false, kTestSection, key, false});
    keys.push_back({true, kProductSection, kRequestKeys[kCommandLine], false});
    if (trace) keys.push_back({false, kTraceSettingSection, kTraceSettingKey, true});
    return keys;
}

// DIR made absolute; empty, after saying why, when it is not a directory.
std::string ExistingDirectory(const std::string& given, const char* what)
{
    const std::string absolute = AbsolutePath(given);
    if (absolute.empty() || !IsDirectory(absolute)) {
        Fail(kBadInput, std::string(what) + " '" + given + "' is not a directory");
        return "";
    }
    return WithoutTrailingSeparators(absolute, kBackslashIsSeparator);
}

// Where a settings file named without a directory lives, for messages.
std::string SettingsFileWhere()
{
    const std::string directory = WindowsDirectoryName();
    return directory.empty() ? kSettingsFileName : JoinPath(directory, kSettingsFileName);
}

// WIN.INI's LIGNEDECOMMANDE is published only while a test runs: a launcher
// that was ended, or ended before its exit sequence, may have left it.
void WithdrawCommandLine()
{
    char value[8];
    OsGetProfileString(kProductSection, kRequestKeys[kCommandLine], kAbsent, value, sizeof value);
    if (std::string(value) != kAbsent) OsWriteProfileString(kProductSection, kRequestKeys[kCommandLine], nullptr);
}

// The launcher's end as one message when it did not carry out the request,
// else empty. A launcher that ended well but left COMMANDE armed stopped
// before its exit sequence: it could not load its engine.
std::string WhatWentWrong(const LauncherEnd& end, bool leftRequest, long timeoutSeconds)
{
    if (end.TimedOut)
        return "timed out after " + std::to_string(timeoutSeconds) +
               " s: the launcher was still running and has been ended";
    if (!end.Exited) return "the launcher was ended by signal " + std::to_string(end.Status);
    if (end.Status != 0) {
        // Windows reports a crash as an NTSTATUS code, 0xC0000005 and the like.
        char status[16];
        if (end.Status < 0)
            std::snprintf(status, sizeof status, "0x%08X", static_cast<unsigned>(end.Status));
        else
            std::snprintf(status, sizeof status, "%d", end.Status);
        std::string message = std::string("the launcher ended with status ") + status;
        // The launcher's own exit is always 0; a 3 is most likely the stand-in's.
        if (end.Status == kStandinCallLimitStatus)
            message += ", as the stand-in engine ends a run that reaches its call limit (OV_STANDIN_MAX_CALLS)";
        return message;
    }
    if (leftRequest)
        return "the launcher did not carry out the request: it ended without taking COMMANDE back, as it does when "
               "it cannot load its engine, " +
               std::string(kEngineLibraryName);
    return "";
}

// The launcher's spelling of a path it is given; false, after saying why,
// where its code page cannot hold the path (on Windows).
bool ForLauncher(const std::string& path, const char* what, std::string* text)
{
    if (LauncherTextFromUtf8(path, text)) return true;
    Fail(kBadInput, std::string(what) + " '" + path +
                        "' holds characters outside the code page the launcher reads its settings in: it cannot "
                        "reach it");
    return false;
}

// The earlier run's report goes first, so that nothing of it can be read as
// this run's; then the request, in the editor's order. On a failed write the
// request is disarmed again, so that no later start takes it up.
bool WriteRequest(const std::string& commandLine, const std::string& executableDirectory,
                  const std::string& testDirectory, const RunOptions& options)
{
    for (const char* key : kReportKeys)
        if (!WriteSetting(key, nullptr)) return false;
    const bool written = WriteSetting(kRequestKeys[kCommandLine], commandLine.c_str()) &&
                         WriteSetting(kRequestKeys[kCommand], kEditorMarker) &&
                         WriteSetting(kRequestKeys[kExecutableDirectory], executableDirectory.c_str()) &&
                         WriteSetting(kRequestKeys[kCurrentDirectory], testDirectory.c_str()) &&
                         WriteSetting(kRequestKeys[kParam1], ProgramFlag(options)) &&
                         WriteSetting(kRequestKeys[kParam2], ModeLetter(options.Kind));
    if (!written) WriteSetting(kRequestKeys[kCommand], nullptr);
    return written;
}

int Run(const RunOptions& options)
{
    const std::string windowsDirectoryProblem = WindowsDirectoryProblem();
    if (!windowsDirectoryProblem.empty()) return Fail(kBadInput, windowsDirectoryProblem);

    std::string testDirectory;
    if (!options.Directory.empty()) {
        testDirectory = ExistingDirectory(options.Directory, "the test directory");
        if (testDirectory.empty()) return kBadInput;
    } else {
        testDirectory = CurrentDirectoryPath();
        if (testDirectory.empty()) return Fail(kBadInput, "the current directory cannot be named");
    }

    std::string launcher;
    if (!options.Launcher.empty()) {
        launcher = AbsolutePath(options.Launcher);
        if (launcher.empty() || !IsRegularFile(launcher))
            return Fail(kBadInput, "no launcher at '" + options.Launcher + "'");
    } else {
        const std::string here = OwnDirectory();
        launcher = JoinPath(here, kLauncherFileName);
        if (here.empty() || !IsRegularFile(launcher))
            return Fail(kBadInput, "no launcher beside ovrun (" + launcher + "); name one with --launcher");
    }

    std::string executableDirectory = DirectoryOf(launcher);
    if (!options.ExecutableDirectory.empty()) {
        executableDirectory = ExistingDirectory(options.ExecutableDirectory, "--exe-dir");
        if (executableDirectory.empty()) return kBadInput;
    }

    // The launcher takes a relative name in the Windows directory; the user
    // means the current one.
    std::string traceFile = options.TraceFile;
    if (!traceFile.empty() && !IsAbsolute(traceFile)) {
        const std::string here = CurrentDirectoryPath();
        if (here.empty()) return Fail(kBadInput, "the current directory cannot be named");
        traceFile = JoinPath(here, traceFile.c_str());
    }
    // The launcher would only tell the engine, which a script never sees.
    if (!traceFile.empty() && !CanAppendTo(traceFile))
        return Fail(kBadInput, "cannot create or append to the trace file " + traceFile);

    const std::string commandLine = LauncherCommandLine(launcher);
    std::string launcherCommandLine, launcherExecutableDirectory, launcherTestDirectory, launcherTraceFile;
    if (!ForLauncher(commandLine, "the launcher's path", &launcherCommandLine) ||
        !ForLauncher(executableDirectory, "the executable directory", &launcherExecutableDirectory) ||
        !ForLauncher(testDirectory, "the test directory", &launcherTestDirectory) ||
        !ForLauncher(traceFile, "the trace file", &launcherTraceFile))
        return kBadInput;

    CatchEndRequests();
    const std::string windowsDirectory = WindowsDirectoryName();
    const int guarded = GuardWindowsDirectory(windowsDirectory, options.WaitSeconds, "ovrun");
    if (guarded != 0) return guarded;
    Journal journal(windowsDirectory);
    std::string problem;
    if (!journal.Begin(RunKeys(!traceFile.empty()), &problem)) return Fail(kLauncherFailed, problem);
    // Every key back as it was, when the run did not go as it should.
    auto undo = [&](int status, const std::string& message) {
        std::string why;
        if (!journal.Restore(true, &why)) return Fail(kLauncherFailed, message + "; " + why);
        return Fail(status, message);
    };

    if (!WriteRequest(launcherCommandLine, launcherExecutableDirectory, launcherTestDirectory, options))
        return undo(kBadInput, "cannot write the settings file " + SettingsFileWhere());
    if (!traceFile.empty()) {
        const bool written = OsWritePrivateProfileString(kTraceSettingSection, kTraceSettingKey,
                                                         launcherTraceFile.c_str(), kSettingsFileName) != 0;
        KillPoint();
        if (!written) return undo(kBadInput, "cannot write the settings file " + SettingsFileWhere());
    }

    ProgramRun run;
    run.Path = launcher;
    run.CommandLine = commandLine;
    run.TimeoutSeconds = options.TimeoutSeconds;
    const LauncherEnd end = RunProgram(run);
    if (EndRequested())
        return undo(kLauncherFailed, "ended by a signal: the launcher was ended, the request withdrawn, and the "
                                     "settings put back as they were before the run");
    if (!end.Started) return undo(kBadInput, "cannot start the launcher " + launcher + ": " + end.Failure);
    // The launcher removes COMMANDE as its last step with the settings file;
    // one that stopped before left it armed, and no later start may take it.
    const bool leftRequest = ReadSetting(kRequestKeys[kCommand]) == kEditorMarker;
    if (leftRequest) WriteSetting(kRequestKeys[kCommand], nullptr);
    const std::string failure = WhatWentWrong(end, leftRequest, options.TimeoutSeconds);
    if (!failure.empty()) WithdrawCommandLine();
    const int status = failure.empty() ? kNoError : Fail(kLauncherFailed, failure);

    ErrorReport report;
    for (int i = 0; i < kReportKeyCount; ++i)
        report.Values[i] = ReadSetting(kReportKeys[i]);
    const bool runtimeError = IsRuntimeError(report);
    if (options.Json)
        WriteText(stdout, ReportJson(report));
    else if (runtimeError)
        WriteText(stdout, CompilerStyleLine(report));
    // TRACE back as it was; the journal goes.
    if (!journal.Restore(false, &problem)) return Fail(kLauncherFailed, problem);
    if (status != kNoError) return status;
    return runtimeError ? kRuntimeError : kNoError;
}

} // namespace

int main(int argc, char** argv)
{
    UseBinaryOutput(stdout);
    UseBinaryOutput(stderr);
    // ovrun works in UTF-8; on Windows argv would hold '?' for a character
    // outside the code page.
    const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    const char* const* utf8 = pointers.data();
    if (argc >= 2 && std::string(utf8[1]) == "replay") {
        replay::ReplayOptions options;
        std::string error;
        if (!replay::ParseReplayArguments(argc - 2, utf8 + 2, &options, &error)) {
            Fail(kBadInput, error);
            WriteText(stderr, replay::ReplayUsageText());
            return replay::kWrongUsage;
        }
        if (options.Help) {
            WriteText(stdout, replay::ReplayUsageText());
            return replay::kAllPassed;
        }
        // On Linux replays keep to scratch Windows directories of their own.
        const std::string windows = WindowsDirectoryName();
        const int guarded = kPrivateWindowsDirectory
                                ? RecoverWindowsDirectory(windows, "ovrun replay")
                                : GuardWindowsDirectory(windows, options.WaitSeconds, "ovrun replay");
        if (guarded != 0) return guarded;
        return replay::RunReplays(options);
    }
    if (argc >= 2 && std::string(argv[1]) == "trace") return traceview::RunTraceCommand(argc - 2, argv + 2);
    RunOptions options;
    std::string error;
    if (!ParseArguments(argc, utf8, &options, &error)) {
        Fail(kBadInput, error);
        WriteText(stderr, UsageText());
        return kBadInput;
    }
    if (options.Help) {
        WriteText(stdout, UsageText());
        return kNoError;
    }
    if (options.Version) {
        WriteText(stdout, "ovrun " OV_VERSION "\n");
        return kNoError;
    }
    return Run(options);
}
