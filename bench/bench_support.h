// Helpers of the benchmarks: a scratch Windows directory handed to the
// platform layer as $WINDIR, and settings files of a chosen size.
#pragma once

#include <string>

// A fresh directory under $TMPDIR (or /tmp), set as $WINDIR while the
// object lives; removed with its files when it goes.
class ScratchWindowsDirectory {
  public:
    ScratchWindowsDirectory();
    ~ScratchWindowsDirectory();
    ScratchWindowsDirectory(const ScratchWindowsDirectory&) = delete;
    ScratchWindowsDirectory& operator=(const ScratchWindowsDirectory&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    std::string oldWindir_;
    bool hadWindir_ = false;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);

// A settings file of about `size` bytes: sections [S0], [S1], ... of ten
// keys each, CRLF lines, and last of all section [LAST] holding Key=Value.
std::string SettingsOfSize(size_t size);
