// The runs of a trace as the data of a page: one JSON value that the page's
// script draws. Every text in it is escaped for an HTML <script> block.
#pragma once

#include <string>
#include <vector>

#include "trace_model.h"

namespace traceview {

// [{"launcher":...,"header":[...],"report":...,"events":[...],"folds":[...]}, ...]
std::string RunsJson(const std::vector<RunView>& runs);

// A whole page: its title, the data its script reads (a JSON object), and
// the inline styles and script. It loads nothing: its Content-Security-Policy
// forbids every source but the inline ones.
std::string PageHtml(const std::string& title, const std::string& dataJson);

// A page of the trace's runs; name is the trace file's, as given.
std::string TracePage(const std::string& name, const std::vector<RunView>& runs);

} // namespace traceview
