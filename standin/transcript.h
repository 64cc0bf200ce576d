// The transcript: one line per event, appended to the file named by
// OV_STANDIN_TRANSCRIPT and flushed at once, so that a run that ends abruptly
// still leaves every line written before its end.
#pragma once

#include <string>

namespace standin {

// A quoted text: the bytes between double quotes, with '"' and '\' escaped by
// a backslash, \n \r \t for those controls, and \xHH (always two upper-case
// hex digits) for every other byte below 32 and every byte from 127 up.
std::string Quote(const std::string& bytes);

// Appends one line (a newline is added) to the file at path; an empty path
// writes nothing. Opens, writes and closes the file for each line.
void AppendTranscriptLine(const std::string& path, const std::string& line);

} // namespace standin
