// Shared fixture of the unit tests: a clean fake and clean process records
// before each test, and a way to run the entry procedure to its end.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"

class FakeTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::Reset(); }

    struct Outcome {
        int exitCode;     // WinMain's result, or the status given to exit
        bool endedByExit; // the process ended through OsExitProcess
    };

    Outcome RunLauncher();

    // An editor request in section TEST of Orvane.ini.
    void EditorRequest(const std::string& mode, const std::string& directory = "/work/test",
                       const std::string& param1 = "");

    std::vector<std::string>& Commands() { return fake::state.commands; }
    // The commands after the first one ("ENVI,...").
    std::vector<std::string> CommandsAfterEnvironment();
};

// Marks where the engine was stopped in a CommandTrace.
extern const char kStop[];
// The commands that reached the engine in order, with kStop at each FinInstance.
std::vector<std::string> CommandTrace();

// Builds a path with the platform's separator: Path({"", "a", "b"}) is "/a/b" on Linux.
std::string Path(const std::vector<std::string>& parts);
