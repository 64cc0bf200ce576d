// ovrun's command line: a test name, its directory and a few options, in
// any order; "--" ends the options.
#include "arguments.h"

#include <cstring>
#include <string>

#include "whole_number.h"

// "--name VALUE" or "--name=VALUE". Returns false when argument is not this
// option; sets *missing when it is but no value follows.
bool TakeOptionValue(const char* name, int argc, const char* const* argv, int* index, std::string* value, bool* missing)
{
    const char* argument = argv[*index];
    const size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0) return false;
    if (argument[length] == '=') {
        *value = argument + length + 1;
        *missing = value->empty();
        return true;
    }
    if (argument[length] != '\0') return false;
    if (*index + 1 >= argc) {
        *missing = true;
        return true;
    }
    *value = argv[++*index];
    *missing = value->empty();
    return true;
}

bool ParseWaitSeconds(const std::string& text, long* seconds, std::string* error)
{
    unsigned long number = 0;
    if (!ParseWholeNumber(text.c_str(), 0, kLongestTimeoutSeconds, &number)) {
        *error = "--wait takes whole seconds, 0 to " + std::to_string(kLongestTimeoutSeconds) + ", not '" + text + "'";
        return false;
    }
    *seconds = static_cast<long>(number);
    return true;
}

bool ParseSeconds(const std::string& text, long* seconds, std::string* error)
{
    unsigned long number = 0;
    if (!ParseWholeNumber(text.c_str(), 1, kLongestTimeoutSeconds, &number)) {
        *error =
            "--timeout takes whole seconds, 1 to " + std::to_string(kLongestTimeoutSeconds) + ", not '" + text + "'";
        return false;
    }
    *seconds = static_cast<long>(number);
    return true;
}

namespace {

bool ParseKind(const std::string& name, TestKind* kind)
{
    if (name == "window")
        *kind = TestKind::Window;
    else if (name == "project")
        *kind = TestKind::Project;
    else if (name == "console")
        *kind = TestKind::Console;
    else
        return false;
    return true;
}

} // namespace

bool ParseArguments(int argc, const char* const* argv, RunOptions* options, std::string* error)
{
    *options = RunOptions();
    std::string operands[3];
    int operandCount = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const bool isOption = !optionsEnded && argument[0] == '-' && argument[1] != '\0';
        if (!isOption) {
            if (operandCount == 2) {
                *error = std::string("unexpected argument '") + argument + "'";
                return false;
            }
            operands[operandCount++] = argument;
            continue;
        }
        bool missing = false;
        std::string seconds;
        if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options->Help = true;
            return true;
        } else if (std::strcmp(argument, "--version") == 0) {
            options->Version = true;
            return true;
        } else if (std::strcmp(argument, "--program") == 0) {
            options->AsProgram = true;
        } else if (std::strcmp(argument, "--json") == 0) {
            options->Json = true;
        } else if (TakeOptionValue("--timeout", argc, argv, &i, &seconds, &missing)) {
            if (missing) {
                *error = "--timeout needs a value";
                return false;
            }
            if (!ParseSeconds(seconds, &options->TimeoutSeconds, error)) return false;
        } else if (TakeOptionValue("--wait", argc, argv, &i, &seconds, &missing)) {
            if (!ParseWaitSeconds(seconds, &options->WaitSeconds, error)) return false;
        } else if (TakeOptionValue("--launcher", argc, argv, &i, &options->Launcher, &missing) ||
                   TakeOptionValue("--exe-dir", argc, argv, &i, &options->ExecutableDirectory, &missing) ||
                   TakeOptionValue("--trace", argc, argv, &i, &options->TraceFile, &missing)) {
            if (missing) {
                *error = std::string(argument).substr(0, std::strcspn(argument, "=")) + " needs a value";
                return false;
            }
        } else {
            *error = std::string("unknown option '") + argument + "'";
            return false;
        }
    }
    if (operandCount == 0) {
        *error = "no test named (window, project or console)";
        return false;
    }
    if (!ParseKind(operands[0], &options->Kind)) {
        *error = "unknown test '" + operands[0] + "' (window, project or console)";
        return false;
    }
    if (operandCount == 2) {
        if (operands[1].empty()) {
            *error = "the directory is empty";
            return false;
        }
        options->Directory = operands[1];
    } else if (options->Kind != TestKind::Console) {
        *error = "the " + operands[0] + " test needs a directory";
        return false;
    }
    if (options->AsProgram && options->Kind != TestKind::Window) {
        *error = "--program applies to the window test only";
        return false;
    }
    return true;
}

const char* UsageText()
{
    return "usage: ovrun window DIR [--program] [OPTIONS]\n"
           "       ovrun project DIR [OPTIONS]\n"
           "       ovrun console [DIR] [OPTIONS]\n"
           "       ovrun replay TRACE|FOLDER... [OPTIONS]   (see ovrun replay --help)\n"
           "       ovrun trace view TRACE [--html FILE] [--chrome FILE] [--mermaid FILE]\n"
           "       ovrun --version\n"
           "Asks the launcher for a test as the editor does and prints its error report.\n"
           "  --program          run the window test as a program\n"
           "  --json             print the report as one JSON object\n"
           "  --launcher PATH    the launcher to start (default: the one beside ovrun)\n"
           "  --exe-dir DIR      the product's program directory (default: the launcher's)\n"
           "  --timeout SECONDS  end the launcher after SECONDS (on Windows with all it started)\n"
           "  --trace FILE       append a trace of the session with the engine to FILE\n"
           "  --wait SECONDS     wait up to SECONDS for another test in the same Windows\n"
           "                     directory to end (default 5)\n"
           "Exit status: 0 no runtime error, 1 runtime error reported, 2 wrong usage or\n"
           "input, 3 the launcher did not carry out the request or timed out, another test\n"
           "holds the Windows directory, or its settings could not be read or put back.\n";
}

const char* ModeLetter(TestKind kind)
{
    switch (kind) {
    case TestKind::Window:
        return "F";
    case TestKind::Project:
        return "P";
    case TestKind::Console:
        return "I";
    }
    return "";
}

const char* ProgramFlag(const RunOptions& options)
{
    if (options.Kind == TestKind::Project) return "P";
    if (options.Kind == TestKind::Window && options.AsProgram) return "P";
    return "";
}

std::string LauncherCommandLine(const std::string& launcherPath)
{
    if (launcherPath.find_first_of(" \t") == std::string::npos) return launcherPath;
    return "\"" + launcherPath + "\"";
}

std::string WithoutTrailingSeparators(const std::string& path, bool backslashIsSeparator)
{
    auto isSeparator = [&](char c) { return c == '/' || (backslashIsSeparator && c == '\\'); };
    // The root keeps its separator: "/" and, on Windows, "C:\" or "\".
    size_t root = 0;
    if (backslashIsSeparator && path.size() >= 2 && path[1] == ':') root = 2;
    if (path.size() > root && isSeparator(path[root])) ++root;
    size_t end = path.size();
    while (end > root && isSeparator(path[end - 1]))
        --end;
    return path.substr(0, end);
}
