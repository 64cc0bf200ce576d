// Scripts of replies: a plain-text list, consumed in order, of the commands
// the stand-in expects and the reply it gives to each. The syntax is in
// README.md.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reply.h"

namespace standin {

struct ScriptLine {
    int LineNumber = 0;
    bool IsStart = false;    // "@start": consumed only by OV4InitInstance
    int32_t StartResult = 1; // what OV4InitInstance returns
    std::string Pattern;     // the expected command, or its beginning
    bool Prefix = false;     // Pattern is a prefix
    Reply Answer;
};

struct Script {
    std::vector<ScriptLine> Lines;
    std::vector<std::string> Faults; // "line N: ..."; a script with faults has no lines
};

// Looks an environment variable up for ${NAME}; null when it is not set.
using VariableLookup = std::function<const char*(const std::string& name)>;

Script ParseScript(const std::string& text, const VariableLookup& lookup);

bool Matches(const ScriptLine& line, const std::string& command);

// The pattern as a transcript shows it: quoted, with * after a prefix;
// "@start" for a start line.
std::string DescribePattern(const ScriptLine& line);

} // namespace standin
