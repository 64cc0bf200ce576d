// Whole files as bytes: traces, scripts, reports and pages.
#pragma once

#include <string>

// False when the file cannot be read; reading stops past limit bytes.
bool ReadFileBytes(const std::string& path, std::string* bytes, size_t limit);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
