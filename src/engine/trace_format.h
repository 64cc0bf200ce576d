// The session trace's format, in one place: the lines that mark its runs and
// its header, and its quoting both ways. The trace writer, the stand-in's
// script reader and ovrun replay use it.
//
// A run of the trace:
//   # OVTST552 5.5, Linux 64-bit              the launcher and its target
//   # run of 2026-12-09 17:17:57
//   # [TEST] LIGNEDECOMMANDE="..."            the six request keys, in order,
//   ...                                        then LANGUAGE and each
//   # [Orvane55] LANGUAGE="..."               component key that is set
//   # [COMPOSANTE] COMPOSANTE_0="..."
//   # end of the settings read
//   ... commands, replies and comments, each a line ...
//   # the launcher ends
// A run appended to a file that holds one begins with the run separator.
#pragma once

#include <cstddef>

// The setting that names the trace file: Orvane.ini [OVTST552] TRACE.
constexpr char kTraceSettingSection[] = "OVTST552";
constexpr char kTraceSettingKey[] = "TRACE";

constexpr char kTraceRunSeparator[] = "# ======== the next run ========";
constexpr char kTraceHeaderStart[] = "# OVTST552 ";
constexpr char kTraceDatePrefix[] = "# run of ";
// "# [SECTION] KEY=" and the value quoted: a setting the header records.
constexpr char kTraceSettingFormat[] = "# [%s] %s=";
constexpr char kTraceHeaderEnd[] = "# end of the settings read";
constexpr char kTraceLoadedPrefix[] = "# loaded ";
constexpr char kTraceRunEnd[] = "# the launcher ends";
// Ends a line that did not fit and was cut.
constexpr char kTraceCutMark[] = " [cut]";

// The quoting: between double quotes, \" \\ \$ and \xHH for every byte below
// 32 and from 127 up. Puts the byte's escaped form into escaped and returns
// its length, 1, 2 or 4.
size_t EscapeTraceByte(unsigned char byte, char escaped[4]);

// Reads back the escape whose backslash came just before text[*at], as the
// stand-in reads its scripts: the escapes above, \n \r \t \0, and \x with
// one or two hex digits. False for any other escape, which nothing writes,
// with *at unchanged; else *byte is its byte and *at moves past it.
bool ReadTraceEscape(const char* text, size_t length, size_t* at, char* byte);
