// What keeps a run from losing the user's settings, per target: files
// written and removed durably, the lock of a Windows directory, the ends a
// run can be told to make (SIGTERM, SIGHUP, a closed console), and the test
// hook that kills a run at a numbered step.
#pragma once

#include <string>

// Reads the whole file; false when it cannot be opened or read (a file held
// open without sharing, a folder, no permission).
bool ReadWholeFile(const std::string& path, std::string* bytes);
// Writes bytes into a new file beside path, flushes it to disk and puts it
// in path's place in one step, then flushes the folder.
bool WriteFileDurably(const std::string& path, const std::string& bytes);
// Replaces the file's bytes durably, as WriteFileDurably does, if it still
// holds seen (on Linux under the lock the profile layer's writers take on
// its folder, so that no write of another program is lost); true when it
// was replaced or had changed meanwhile, false when the write failed.
bool ReplaceUnchangedFile(const std::string& path, const std::string& seen, const std::string& bytes);
// Removes the file and flushes its folder; true when it is gone.
bool RemoveFileDurably(const std::string& path);
// Flushes an existing file's bytes to disk; true when there is no file.
bool FlushFileToDisk(const std::string& path);

long CurrentProcessId();

// Takes the lock of the Windows directory for the rest of the process (a
// lock file there on Linux, a named mutex derived from its name on Windows,
// both released by the system when the process ends however it ends),
// waiting up to waitSeconds. False when another process holds it: *holder
// is its process id as it left it ("" when unknown), or *problem says why
// no lock could be had.
bool LockWindowsDirectory(const std::string& directory, long waitSeconds, std::string* holder, std::string* problem);

// Gives the lock back before the process ends.
void UnlockWindowsDirectory();

// From now on SIGTERM and SIGHUP (on Linux), or a console closed, logged
// off or shut down (on Windows), set EndRequested() and end the program
// RunProgram waits for; on Windows the process is given a few seconds more
// to put the settings back before the system ends it.
void CatchEndRequests();
bool EndRequested();

// The test hook: when OVRUN_TEST_KILL_AT is n, the n-th call kills the
// process at once, as a power cut or a task kill would.
void KillPoint();
