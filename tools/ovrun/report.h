// The error report that the launcher leaves in section TEST of Orvane.ini,
// and the two ways ovrun prints it: one compiler-style line, or one JSON
// object. Values are the settings file's bytes (Windows-1252); what is
// printed is UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "common/editor_protocol.h" // the keys, kStoredLineFeed

struct ErrorReport {
    std::string Values[kReportKeyCount]; // "" for a key that is absent
};

// True when CR is "*E*": the launcher reported a runtime error.
bool IsRuntimeError(const ErrorReport& report);

// Windows-1252 to UTF-8, each byte to the character Windows gives it (the
// five unassigned bytes 0x81 0x8D 0x8F 0x90 0x9D to U+0081 ... U+009D, so
// that every byte has a character and back). With storedLineFeeds, 0xF5 is a
// line feed instead of U+00F5.
std::string Utf8FromWindows1252(std::string_view text, bool storedLineFeeds);

// "NOMOBJET:NLIGNE:NCOL: error: MESSAGE [window NOMFEN, type TYPEOBJET]\n",
// the message's stored line feeds as line breaks.
std::string CompilerStyleLine(const ErrorReport& report);

// {"CR":"...",...,"TYPEOBJET":"..."} and "\n": all eight keys in report
// order, every value a string. The mapping is reversible: encoding a value
// back to Windows-1252 as above, with "\n" in MESSAGE as 0xF5 (a settings
// value never holds a real line feed), gives the file's bytes again.
std::string ReportJson(const ErrorReport& report);
