// Text to and from a person at a console, in UTF-8. On Windows a console is
// reached through its Unicode interface, so that the text shows (and is
// typed) right whatever the console's code pages; anything else, a pipe, a
// file or NUL, gets the bytes as they are.
#pragma once

#include <cstdio>
#include <string>

// True when the descriptor is a console (Windows) or a terminal (Linux).
// NUL, /dev/null, pipes and files are not.
bool IsConsole(int descriptor);

// Writes UTF-8 text to the stream and flushes it.
void WriteText(std::FILE* stream, const std::string& utf8);

// Reads one byte of standard input, a typed character as its UTF-8 bytes
// when input is a console; false at the end of input. Nothing beyond the
// byte is taken from the descriptor, so a later reader gets the rest.
bool ReadInputByte(char* byte);
