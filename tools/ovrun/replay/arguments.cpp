// The command line of `ovrun replay`.
#include <cstring>

#include "arguments.h"
#include "replay.h"
#include "whole_number.h"

namespace replay {

bool ParseReplayArguments(int argc, const char* const* argv, ReplayOptions* options, std::string* error)
{
    *options = ReplayOptions();
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        if (optionsEnded || argument[0] != '-' || argument[1] == '\0') {
            if (argument[0] == '\0') {
                *error = "a trace or folder named by an empty argument";
                return false;
            }
            options->Traces.push_back(argument);
            continue;
        }
        bool missing = false;
        std::string value;
        long number = 0;
        if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options->Help = true;
            return true;
        } else if (std::strcmp(argument, "--keep") == 0) {
            options->Keep = true;
        } else if (TakeOptionValue("--jobs", argc, argv, &i, &value, &missing)) {
            unsigned long jobs = 0;
            if (missing || !ParseWholeNumber(value.c_str(), 1, 256, &jobs)) {
                *error = "--jobs takes a number of replays at a time, 1 to 256, not '" + value + "'";
                return false;
            }
            options->Jobs = static_cast<unsigned>(jobs);
        } else if (TakeOptionValue("--timeout", argc, argv, &i, &value, &missing)) {
            // An empty value is refused as not a number.
            if (!ParseSeconds(value, &number, error)) return false;
            options->TimeoutSeconds = number;
        } else if (TakeOptionValue("--wait", argc, argv, &i, &value, &missing)) {
            if (!ParseWaitSeconds(value, &options->WaitSeconds, error)) return false;
        } else if (TakeOptionValue("--launcher", argc, argv, &i, &options->Launcher, &missing) ||
                   TakeOptionValue("--standin", argc, argv, &i, &options->Standin, &missing) ||
                   TakeOptionValue("--junit", argc, argv, &i, &options->Junit, &missing) ||
                   TakeOptionValue("--html", argc, argv, &i, &options->Html, &missing)) {
            if (missing) {
                *error = std::string(argument).substr(0, std::strcspn(argument, "=")) + " needs a value";
                return false;
            }
        } else {
            *error = std::string("unknown option '") + argument + "' of replay";
            return false;
        }
    }
    if (options->Traces.empty()) {
        *error = "replay needs a trace or a folder of traces";
        return false;
    }
    return true;
}

const char* ReplayUsageText()
{
    return "usage: ovrun replay TRACE|FOLDER... [OPTIONS]\n"
           "Runs each session trace again (a folder: every *.txt in it, sorted) with the stand-in\n"
           "engine beside a copy of the launcher, and compares the replay with the trace.\n"
           "  --launcher PATH    the launcher to copy (default: the one beside ovrun)\n"
           "  --standin PATH     the stand-in engine (default: from the build or the package)\n"
           "  --junit FILE       also write the results as JUnit XML\n"
           "  --html FILE        also write a page of the results: each failure beside its recording\n"
           "  --jobs N           replays side by side (default: one per processor; on Windows\n"
           "                     always one after the other)\n"
           "  --timeout SECONDS  end a replay after SECONDS (default 60)\n"
           "  --keep             keep the scratch folders and print where they are\n"
           "  --wait SECONDS     on Windows, wait up to SECONDS for another test in the Windows\n"
           "                     directory to end (default 5)\n"
           "Under GITHUB_ACTIONS=true each failure is also printed as an ::error workflow command.\n"
           "Exit status: 0 every trace passed, 1 one failed or could not be replayed, 2 wrong\n"
           "usage or a --junit file that cannot be written, 3 the replays could not run (a\n"
           "launcher or stand-in missing or unusable, no scratch folder; on Windows the Windows\n"
           "directory held by another test, settings that could not be read or put back).\n";
}

} // namespace replay
