// The launcher's entry procedure and its window.
#pragma once

#include <cstdint>

#include "platform.h"

// Runs the whole start-up, one test mode and the exit sequence; returns the
// exit code, 0 on every path. Only the instance is used.
extern "C" int OV_WINAPI WinMain(InstanceHandle instance, InstanceHandle previousInstance, char* commandTail,
                                 int showCommand);

// The procedure of the window class "TEST": everything to the default.
intptr_t OV_WINAPI LauncherWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Leaves in buffer the directory of the loaded module's file, without its
// last separator, and returns its length; 0 and an empty buffer when the
// module is not loaded. The byte at index 0 is never taken as a separator.
int16_t ModuleDirectory(const char* moduleFileName, char* buffer, int16_t size);

// Every process-wide record as at process start: the launcher's own, and each
// module's through its reset. For tests only.
void ResetProcessStateForTests();
