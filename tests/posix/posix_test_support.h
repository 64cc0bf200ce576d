// Helpers of the Linux platform tests: whole-file bytes, the current
// directory, and running a step without root's power to ignore file
// permissions (scratch directories: tests/support).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scratch_directory.h"

// Changes the current directory; changes it back when it goes.
class ScopedCurrentDirectory {
  public:
    explicit ScopedCurrentDirectory(const std::string& path);
    ~ScopedCurrentDirectory();

  private:
    std::string old_;
};

// The file's bytes; nullopt when it cannot be read.
std::optional<std::string> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// Names in a directory, sorted; "." and ".." left out.
std::vector<std::string> ListDirectory(const std::string& path);
// Makes a directory, creating its parents too.
void MakeDirectory(const std::string& path);

// Runs body in a child process and returns what it returns (0 to 255), or
// -1 when the child did not exit. As root the child first drops the
// capabilities that let root ignore file permissions.
int RunWithoutFileOverride(const std::function<int()>& body);

// The bytes a row of the case table spells: C escapes inside double quotes.
std::string DecodeEscaped(const std::string& field);
