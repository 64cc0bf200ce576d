// Reading one setting through the platform layer, shared by both targets'
// ReadSetting (host.h), which add what their target needs around it.
#pragma once

#include <string>

bool ReadSettingThroughLayer(const std::string& path, const std::string& section, const std::string& key,
                             std::string* value);
