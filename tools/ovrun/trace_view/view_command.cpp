// The command line of `ovrun trace view`, and writing what it asks for.
#include "view_command.h"

#include <cstring>

#include "arguments.h"
#include "console_text.h"
#include "exports.h"
#include "file_bytes.h"
#include "page_data.h"

namespace traceview {

namespace {

int Refuse(const std::string& message, bool withUsage)
{
    WriteText(stderr, "ovrun trace: " + message + "\n");
    if (withUsage) WriteText(stderr, ViewUsageText());
    return kViewRefused;
}

} // namespace

bool ParseViewArguments(int argc, const char* const* argv, ViewOptions* options, std::string* error)
{
    *options = ViewOptions();
    if (argc > 0 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        options->Help = true;
        return true;
    }
    if (argc == 0 || std::strcmp(argv[0], "view") != 0) {
        *error = argc == 0 ? "trace needs what to do (view)" : std::string("unknown trace command '") + argv[0] + "'";
        return false;
    }
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        bool missing = false;
        if (optionsEnded || argument[0] != '-' || argument[1] == '\0') {
            if (!options->Trace.empty() || argument[0] == '\0') {
                *error = argument[0] == '\0' ? "a trace named by an empty argument"
                                             : std::string("unexpected argument '") + argument + "'";
                return false;
            }
            options->Trace = argument;
        } else if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options->Help = true;
            return true;
        } else if (TakeOptionValue("--html", argc, argv, &i, &options->Html, &missing) ||
                   TakeOptionValue("--chrome", argc, argv, &i, &options->Chrome, &missing) ||
                   TakeOptionValue("--mermaid", argc, argv, &i, &options->Mermaid, &missing)) {
            if (missing) {
                *error = std::string(argument).substr(0, std::strcspn(argument, "=")) + " needs a file";
                return false;
            }
        } else {
            *error = std::string("unknown option '") + argument + "' of trace view";
            return false;
        }
    }
    if (options->Trace.empty()) {
        *error = "trace view needs a trace";
        return false;
    }
    if (options->Html.empty() && options->Chrome.empty() && options->Mermaid.empty()) {
        *error = "trace view needs an output: --html, --chrome or --mermaid";
        return false;
    }
    return true;
}

const char* ViewUsageText()
{
    return "usage: ovrun trace view TRACE [--html FILE] [--chrome FILE] [--mermaid FILE]\n"
           "Draws a session trace, every run of it; at least one output:\n"
           "  --html FILE     one self-contained page: header, lanes, loops folded, the error\n"
           "                  handed to the editor, a filter and the slowest calls\n"
           "  --chrome FILE   Chrome's Trace Event JSON, for ui.perfetto.dev or chrome://tracing\n"
           "  --mermaid FILE  a Mermaid sequence diagram, long loops folded\n"
           "Exit status: 0 written, 2 wrong usage, a file that is no trace, or an output that\n"
           "cannot be written.\n";
}

int RunTraceCommand(int argc, const char* const* argv)
{
    ViewOptions options;
    std::string error;
    if (!ParseViewArguments(argc, argv, &options, &error)) return Refuse(error, true);
    if (options.Help) {
        WriteText(stdout, ViewUsageText());
        return kViewWritten;
    }
    std::string bytes;
    if (!ReadFileBytes(options.Trace, &bytes, replay::kLargestTrace))
        return Refuse("cannot read the trace " + options.Trace, false);
    std::vector<RunView> runs;
    if (!ReadTraceView(bytes, &runs, &error)) return Refuse(options.Trace + ": " + error, false);
    const struct {
        const std::string& Path;
        std::string (*Make)(const std::string&, const std::vector<RunView>&);
    } outputs[] = {
        {options.Html, TracePage},
        {options.Chrome, [](const std::string&, const std::vector<RunView>& all) { return ChromeTraceJson(all); }},
        {options.Mermaid, [](const std::string&, const std::vector<RunView>& all) { return MermaidDiagram(all); }},
    };
    for (const auto& output : outputs)
        if (!output.Path.empty() && !WriteFileBytes(output.Path, output.Make(options.Trace, runs)))
            return Refuse("cannot write " + output.Path, false);
    return kViewWritten;
}

} // namespace traceview
