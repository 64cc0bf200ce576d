// A session trace as `ovrun replay` reads it: its runs, the request each
// run's header records, the directories to move into a scratch folder, the
// settings file rebuilt from the header, and the comparison of a recorded
// run with its replay. Nothing here touches the system: a trace comes from a
// user's machine, and everything in it is checked before it is used.
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
#include <utility>
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

// Where the recorded directories go: each recorded directory (without its
// trailing separators) and the directory that takes its place.
struct Relocation {
    char FromSeparator = '/';
    char ToSeparator = '/';
    std::vector<std::pair<std::string, std::string>> Directories; // longest first
};

// The scratch folder's directories, spelt for the target that replays.
struct ReplayFolders {
    std::string Programs; // the launcher and the engine library
    std::string Test;     // REPCOURANT
    std::string Exe;      // REPEXE when it is neither of the others
    char Separator = '/';
};

Relocation MakeRelocation(const TraceRequest& request, const ReplayFolders& folders);

// A text with each recorded directory, and the separator that follows it,
// moved: "OUVRE,C:\Projets\_OV_GO.OVW /RE" -> "OUVRE,/tmp/x/test/_OV_GO.OVW /RE".
std::string RelocateText(const std::string& text, const Relocation& relocation);
// A trace line with every quoted text moved but the raw bytes of set[N]= items.
std::string RelocateLine(const std::string& line, const Relocation& relocation);

// The Orvane.ini to replay the run with: the header's request, its
// directories moved into the folders, and TRACE naming tracePath. CRLF lines.
std::string RebuiltSettings(const TraceRequest& request, const ReplayFolders& folders, const Relocation& relocation,
                            const std::string& tracePath);

// The first place where a replay differs from the recorded run, when there is one.
struct Divergence {
    bool Found = false;
    int Line = 0;         // in the trace file
    std::string Expected; // as recorded (moved into the scratch folder)
    std::string Got;      // as replayed, or what stood in its place
};

// The events of both runs compared in order, with times, dates, addresses
// and the library's path masked. replayEnd says how the replayed run ended,
// for a replay that stops short.
Divergence CompareRuns(const std::vector<TraceLine>& recorded, const std::vector<TraceLine>& replayed,
                       const std::string& replayEnd);

// The lines of a run that CompareRuns compares, in order, as it compares
// them: the header and blank lines left out, times and the like masked.
std::vector<TraceLine> ComparedEvents(const std::vector<TraceLine>& lines);

// The settings writes of the recorded run against the files the replay left
// (their bytes; empty for a file that is not there).
Divergence CheckSettings(const std::vector<TraceLine>& recorded, const std::string& settingsFile,
                         const std::string& winIni);

std::vector<TraceLine> SplitLines(const std::string& bytes);

} // namespace replay
