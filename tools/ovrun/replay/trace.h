// A session trace as `ovrun replay` reads it: its runs and the request each
// run's header records. Nothing here touches the system: a trace comes from
// a user's machine, and everything in it is checked before it is used.
//
// A run of the trace, as the launcher writes it:
//   # OVTST552 5.5, Linux 64-bit              the launcher and its target
//   # run of 2026-12-09 17:17:57
//   # [TEST] LIGNEDECOMMANDE="..."            the six request keys, in order,
//   ...                                        then LANGUAGE and each
//   # [Orvane55] LANGUAGE="..."               component key that is set
//   # [COMPOSANTE] COMPOSANTE_0="..."
//   # end of the settings read
//   ... commands, replies and comments, each a line ...
//   # the launcher ends
// Runs appended to one file are separated by "# ======== the next run ========".
#pragma once

#include <string>
#include <vector>

namespace replay {

// What a trace may weigh: a longer session has no place in a regression suite.
constexpr size_t kLargestTrace = 32u << 20;

constexpr int kRequestKeyCount = 6;
extern const char* const kRequestKeys[kRequestKeyCount];
enum RequestKey { kCommandLine, kCommand, kExecutableDirectory, kCurrentDirectory, kParam1, kParam2 };
constexpr int kComponentKeyCount = 10;

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

// The trace's quoting: between double quotes, \" \\ \$ and \xHH for every
// byte below 32 and from 127 up.
std::string Quote(const std::string& bytes);
// The text of the quoted string that starts at line[*at] ('"'), with the
// script's escapes (also \n \r \t \0); *at moves past its closing quote.
// False, with *at unchanged, when it is not one.
bool Unquote(const std::string& line, size_t* at, std::string* text);

std::vector<TraceLine> SplitLines(const std::string& bytes);

// The header's first and last lines, and the line naming the engine library.
extern const char kHeaderStart[];
extern const char kHeaderEnd[];
extern const char kLoadedPrefix[];

bool StartsWith(const std::string& text, const char* prefix);
bool EndsWith(const std::string& text, const char* suffix);
// Equal but for the case of ASCII letters, as settings names compare.
bool SameName(const std::string& a, const std::string& b);

} // namespace replay
