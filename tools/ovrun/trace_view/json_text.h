// JSON strings for the files `ovrun trace view` writes, safe inside an HTML
// page as well: a value may come from a trace, which is untrusted.
#pragma once

#include <string>

namespace traceview {

// text (UTF-8) as a JSON string, quotes included. Besides what JSON needs,
// < > & and U+2028 U+2029 are escaped, so that the string can stand in an
// HTML <script> block without ending it or being read as markup.
std::string JsonString(const std::string& text);

// A trace's bytes, decoded for display (DisplayText), as a JSON string.
std::string JsonTraceText(const std::string& bytes);

// A number with at most one decimal, as the trace gives times.
std::string JsonNumber(double value);

} // namespace traceview
