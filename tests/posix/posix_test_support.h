// Helpers of the Linux platform tests: scratch directories, whole-file bytes,
// and running a step without root's power to ignore file permissions.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// (permissions restored first) when the object goes.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets or (null) removes an environment variable; puts it back when it goes.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value);
    ~ScopedEnvironment();

  private:
    std::string name_;
    std::optional<std::string> old_;
};

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
