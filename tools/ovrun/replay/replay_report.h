// What a replay found, and the three ways it is told: one line per trace on
// standard output, GitHub's workflow commands for each failure, and JUnit
// XML. Every text printed is valid UTF-8 whatever the bytes of a name or a
// message, so that a CI server's parser never stops at one.
#pragma once

#include <string>
#include <vector>

namespace replay {

struct TraceResult {
    explicit TraceResult(const std::string& path) : Name(path), Path(path) {}
    std::string Name; // the trace as given, in UTF-8 (the system's bytes on Linux)
    std::string Path; // as the system takes it
    bool Ran = false; // false: interrupted before it began
    bool Passed = false;
    int Line = 0;          // the line of the trace file the failure is at; 0: none
    std::string Message;   // why it failed; a divergence's begins with "line N: "
    std::string CannotRun; // why no replay can run here, which is no fault of the trace
    double Seconds = 0;
    std::string KeptFolder; // with --keep
};

// The bytes as they are where they are valid UTF-8 and no control
// character; any other byte as \xHH.
std::string ReadableText(const std::string& bytes);
// The text with & < > " as XML and HTML entities, for an element's text or
// an attribute's value.
std::string MarkupText(const std::string& text);

// The number after the first "line " in text, or 0.
int LineNamed(const std::string& text);

// "PASS NAME" or "FAIL NAME: MESSAGE" per trace run, "  kept in FOLDER"
// with --keep, then the counts. With annotations, each failure is followed
// by "::error file=NAME,line=N,title=...::FILE:N: MESSAGE".
std::string ConsoleReport(const std::vector<TraceResult>& results, bool annotations);

// One test case per trace with its file and line; seconds is the whole run's.
std::string JunitXml(const std::vector<TraceResult>& results, double seconds);

} // namespace replay
