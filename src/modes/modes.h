// The test modes: the window and project tests, the interactive console, and
// the handoff of a runtime error to the editor. Each mode takes the launcher's
// error place (window name of 264 bytes, object name of 104 bytes, object
// type) and stops the engine before it returns.
#pragma once

#include <cstddef>
#include <cstdint>

void RunWindowTest(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType);
void RunProjectTest(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType);
void RunConsole(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType);

// Sends the one message for a key that the tests do not handle.
void ReportUnhandledKey(const char* keyName);

// Asks whether to edit the source and, on a yes in a launcher the editor
// started, writes the error's place into section TEST of the settings file.
void ErrorHandoff(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType);

// The console's 16-bit code of a key name; 0 for any name not 1 to 3 long.
uint16_t ComputeKeyCode(const char* keyName);
// Makes path (upper-cased) the current drive and directory.
void MakeDirectoryCurrent(const char* path);
// Tests that drive letter: holds a disk, without a system dialog.
int16_t ProbeDrive(char driveLetter);

// Zero the console's and the error handoff's process-wide texts, as at
// process start. For tests only.
void ResetConsoleForTests();
void ResetErrorHandoffForTests();
