// The command channel: one printf-style operation that sends a command text
// to the engine in the 255-byte request and reply record and decodes the
// reply into CommandResult.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/command_record.h"
#include "platform.h"

constexpr size_t kKeyNameCapacity = 4;
constexpr size_t kTextResultCapacity = 208;
constexpr size_t kExtraTextCapacity = 11;

// The decoded replies. Every field but PointerResult keeps its value until a
// reply sets it again; PointerResult is null after every command whose reply
// does not set it.
struct CommandResultRecord {
    char KeyName[kKeyNameCapacity];       // the key that ended the screen, empty when none
    int32_t IntResult;                    // kinds 1, 5, 8; kinds 2 and 3 within -32768..32767 exclusive
    int32_t LongResult;                   // kind 2
    float FloatResult;                    // kinds 1, 3
    double DoubleResult;                  // kinds 2, 4
    char TextResult[kTextResultCapacity]; // the reply text
    const char* PointerResult;            // kind 5: a NUL-terminated text owned by the engine
    char ExtraText[kExtraTextCapacity];
    int32_t ExtraValue;
};

extern CommandResultRecord CommandResult;

// Formats the command, starts the engine when needed, sends the text and
// decodes the reply. Returns 0 always. A text longer than 254 characters is
// not sent: the user is told instead and CommandResult keeps its values.
int32_t SendCommand(const char* format, ...) OV_PRINTF_FORMAT(1, 2);
// Returns 1 when the engine is started on return. Loads and starts it when
// no instance runs, then empties CommandResult; ends the process when the
// library cannot be loaded completely.
int32_t EnsureEngineStarted();
// Empties every field of CommandResult; after each start the engine accepted.
void ResetCommandResult();
// Zeroes the record and CommandResult, as at process start. For tests only.
void ResetCommandChannelForTests();
