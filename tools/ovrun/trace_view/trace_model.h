// A session trace as `ovrun trace view` draws it: each run's header, its
// events in order (engine starts and calls with their replies and times,
// settings writes, the launcher's own notes), the loops long enough to fold,
// and the error report handed to the editor. Built on the replay's reader,
// but lenient: a run cut short, an older header or a failed write is shown,
// with what is wrong with it, rather than refused. Texts keep the trace's
// bytes (Windows-1252, or anything); the writers decode them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "comparison.h"
#include "report.h"
#include "trace.h"

namespace traceview {

// Who an event belongs to: the settings files the editor reads, the
// launcher itself, or a call from the launcher to the engine.
enum class Lane { Editor, Launcher, Engine };

enum class EventKind {
    Start,   // @start => ...: the engine's start and its answer
    Call,    // a command and its reply
    Read,    // a setting the launcher read before its first command, from the header
    Write,   // a settings write or delete
    Note,    // any other comment of the launcher's: loaded, stop, start-up block...
    Unknown, // a line that is none of these
};

struct TraceEvent {
    EventKind Kind = EventKind::Note;
    Lane Owner = Lane::Launcher;
    int Line = 0;                                           // in the trace file
    std::string Text;                                       // the command sent, the write, or the note
    std::vector<std::pair<std::string, std::string>> Reply; // the reply's items: name (empty for a bare word) and value
    std::string Key;                                        // the reply's key: what ended the screen
    double Milliseconds = -1;                               // the engine's time; -1 when none was recorded
    bool Answered = true;                                   // false: the engine never returned
    bool Failed = false;                                    // a settings write that failed
    bool Handoff = false;                                   // part of the error handoff to the editor
};

// consecutive calls that repeat one loop: Period calls, Repetitions times.
struct Fold {
    size_t First = 0; // index of the first event folded
    size_t Period = 0;
    size_t Repetitions = 0;
    size_t Count() const { return Period * Repetitions; }
};

struct RunView {
    std::string Launcher;                                    // "OVTST552 5.5, Linux 64-bit"
    std::string Date;                                        // "2026-12-10 02:19:42"
    std::vector<std::pair<std::string, std::string>> Header; // "[TEST] REPCOURANT" and its value
    std::vector<TraceEvent> Events;
    std::vector<Fold> Folds; // in order, never overlapping
    bool HasReport = false;  // the run handed a runtime error to the editor
    ErrorReport Report;      // its last write of each report key
    std::string Problem;     // why a replay would refuse the run; empty when it would not
};

// A loop folds when it repeats at least this often, with at most this many calls a turn.
constexpr size_t kFoldRepetitions = 4;
constexpr size_t kLongestLoop = 8;

// The runs of a trace file. False, with the reason, for a file that is no
// trace at all (empty, binary, too large, no run with the launcher's header).
bool ReadTraceView(const std::string& bytes, std::vector<RunView>* runs, std::string* error);

// The loops of events to fold, found from the first event on.
std::vector<Fold> FindFolds(const std::vector<TraceEvent>& events);

// "FENETRE / ECRAN,SAISIE": the commands of one turn of a fold.
std::string FoldLabel(const std::vector<TraceEvent>& events, const Fold& fold);

// "8,997".
std::string CountText(size_t count);

// The command word: the text up to its first comma ("OUVRE" of "OUVRE,...").
std::string CommandWord(const std::string& command);

// The trace's bytes for display, as UTF-8: Windows-1252 decoded, control
// bytes and the five unassigned ones as visible \xHH escapes.
std::string DisplayText(const std::string& bytes);

} // namespace traceview
