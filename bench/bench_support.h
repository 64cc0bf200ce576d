// Helpers of the benchmarks: a scratch Windows directory handed to the
// platform layer as $WINDIR, and settings files of a chosen size.
#pragma once

#include <string>

#include "scratch_directory.h"

// A scratch directory set as $WINDIR while the object lives.
class ScratchWindowsDirectory {
  public:
    ScratchWindowsDirectory() : directory_("ovbench"), windir_("WINDIR", directory_.Path().c_str()) {}
    std::string operator/(const std::string& name) const { return directory_ / name; }

  private:
    ScratchDirectory directory_;
    ScopedEnvironment windir_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);

// A settings file of about `size` bytes: sections [S0], [S1], ... of ten
// keys each, CRLF lines, and last of all section [LAST] holding Key=Value.
std::string SettingsOfSize(size_t size);
