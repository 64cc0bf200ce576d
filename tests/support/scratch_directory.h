// A scratch directory and a scoped environment variable, shared by the Linux
// layer's tests, the stand-in's tests and the benchmarks.
#pragma once

#include <optional>
#include <string>

// A fresh directory under $TMPDIR (or /tmp) named prefix-XXXXXX, removed with
// everything in it (directory permissions restored first) when it goes.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(const std::string& prefix = "ovtest");
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
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};
