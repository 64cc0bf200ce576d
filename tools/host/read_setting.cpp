// A key is absent when two reads with different defaults both give their
// default back: a value read from the file is the same whatever the default.
#include "read_setting.h"

#include <vector>

#include "platform.h"

namespace {

// A value the file could hold would come back whole, this size or less.
constexpr uint32_t kLargestValue = 65536;

bool ReadWithDefault(const std::string& path, const std::string& section, const std::string& key,
                     const char* defaultText, std::string* value)
{
    std::vector<char> buffer(kLargestValue);
    const uint32_t length = OsGetPrivateProfileString(section.c_str(), key.c_str(), defaultText, buffer.data(),
                                                      kLargestValue, path.c_str());
    value->assign(buffer.data(), length);
    return *value != defaultText;
}

} // namespace

bool ReadSettingThroughLayer(const std::string& path, const std::string& section, const std::string& key,
                             std::string* value)
{
    return ReadWithDefault(path, section, key, "\x01", value) || ReadWithDefault(path, section, key, "\x02", value);
}
