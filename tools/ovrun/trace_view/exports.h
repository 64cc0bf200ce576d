// The trace for other tools: Chrome's Trace Event JSON, which Perfetto and
// chrome://tracing open, and a Mermaid sequence diagram.
#pragma once

#include <string>
#include <vector>

#include "trace_model.h"

namespace traceview {

// {"traceEvents":[...]}: per run a process (pid = the run's number), one
// complete event ("X") per engine start and call on thread 1, an instant
// event ("i") per settings write on thread 2 and one for the error handoff.
// The trace records each call's own time only, so a call's ts is the sum of
// the times of the calls before it in its run.
std::string ChromeTraceJson(const std::vector<RunView>& runs);

// "sequenceDiagram" with Editor (settings), Launcher and Engine, an arrow per
// command and reply and per settings write; a fold becomes one loop block
// holding its first turn, and a comment says how many calls were folded.
std::string MermaidDiagram(const std::vector<RunView>& runs);

} // namespace traceview
