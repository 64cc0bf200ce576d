// `ovrun trace view TRACE [--html FILE] [--chrome FILE] [--mermaid FILE]`:
// a session trace drawn as a page, exported for Perfetto and as a sequence
// diagram.
#pragma once

#include <string>

namespace traceview {

struct ViewOptions {
    std::string Trace;   // the trace file
    std::string Html;    // --html FILE; empty: none
    std::string Chrome;  // --chrome FILE; empty: none
    std::string Mermaid; // --mermaid FILE; empty: none
    bool Help = false;
};

// Fills options from the arguments after "trace". False with a one-line
// reason in error for wrong usage (no output named among them).
bool ParseViewArguments(int argc, const char* const* argv, ViewOptions* options, std::string* error);

const char* ViewUsageText();

// Exit statuses.
constexpr int kViewWritten = 0;
constexpr int kViewRefused = 2; // wrong usage, no trace, a file that cannot be written

// `ovrun trace ...` with the arguments after "trace"; returns the exit status.
int RunTraceCommand(int argc, const char* const* argv);

} // namespace traceview
