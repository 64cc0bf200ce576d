// Shared by host.cpp and run_guard.cpp: the flag SIGTERM and SIGHUP set once
// CatchEndRequests ran, which ends the program RunProgram waits for.
#pragma once

#include <csignal>

extern volatile sig_atomic_t EndRequestSeen;
void NoteEndRequest(int);
