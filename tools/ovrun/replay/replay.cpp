// Running replays: the traces named, each replayed (scratch_run.cpp), and
// the report.
#include "replay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "common/editor_protocol.h"
#include "console_text.h"
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

    // A settings file that cannot be read must never be taken for absent.
    if (!kPrivateWindowsDirectory && !SystemSettingsProblem().empty())
        return Refuse(kCannotRun, SystemSettingsProblem());
    CatchInterrupts();
    const auto started = std::chrono::steady_clock::now();
    // Where the settings files are the system's, one replay at a time.
    const unsigned jobs = kPrivateWindowsDirectory ? options.Jobs : 1;
    RunSideBySide(results.size(), jobs, [&](size_t index) {
        if (!Interrupted() && SystemSettingsProblem().empty()) ReplayTrace(&results[index], launcher, standin, options);
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
    if (!kPrivateWindowsDirectory && !SystemSettingsProblem().empty())
        return Refuse(kCannotRun, SystemSettingsProblem());
    return passed == results.size() ? kAllPassed : kSomeFailed;
}

} // namespace replay
