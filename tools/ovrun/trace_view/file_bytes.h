// Whole files as bytes, for the trace's pages and exports.
#pragma once

#include <string>

namespace traceview {

// False when the file cannot be read; reading stops past limit bytes.
bool ReadFileBytes(const std::string& path, std::string* bytes, size_t limit);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace traceview
