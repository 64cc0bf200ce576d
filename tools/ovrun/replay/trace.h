// A session trace as `ovrun replay` reads it: its runs and the request each
// run's header records. Nothing here touches the system: a trace comes from
// a user's machine, and everything in it is checked before it is used.
// The format is engine/trace_format.h's; the keys, common/editor_protocol.h's.
#pragma once

#include <string>
#include <vector>

#include "common/editor_protocol.h"
#include "engine/trace_format.h"

namespace replay {

// What a trace may weigh: a longer session has no place in a regression suite.
constexpr size_t kLargestTrace = 32u << 20;

struct TraceLine {
    int Number = 0;   // in the file, from 1
    std::string Text; // without its line end
};

// What the launcher read before its first command, as the header says.
struct TraceRequest {
    char Separator = '/';                       // the recording target's path separator
    std::string Values[kRequestKeyCount];       // [TEST], as read
    std::string Language;                       // [Orvane55] LANGUAGE
    std::string Components[kComponentKeyCount]; // [COMPOSANTE] COMPOSANTE_N; empty when not set
    std::string LibraryPath;                    // from "# loaded"
};

struct TraceRun {
    std::vector<TraceLine> Lines; // the whole run, header included
    TraceRequest Request;
    std::string Problem; // why it cannot be replayed; empty when it can
};

struct TraceFile {
    std::vector<TraceRun> Runs;
    std::string Problem; // why none of it can be replayed; empty when the runs say
};

TraceFile ReadTrace(const std::string& bytes);

// The trace's quoting (engine/trace_format.h), a whole text at a time.
std::string Quote(const std::string& bytes);
// The text of the quoted string that starts at line[*at] ('"'); *at moves
// past its closing quote. False, with *at unchanged, when it is not one
// (an escape the format does not know included).
bool Unquote(const std::string& line, size_t* at, std::string* text);

std::vector<TraceLine> SplitLines(const std::string& bytes);

bool StartsWith(const std::string& text, const char* prefix);
bool EndsWith(const std::string& text, const char* suffix);
// Equal but for the case of ASCII letters, as settings names compare.
bool SameName(const std::string& a, const std::string& b);

} // namespace replay
