// Reply decoding: a run of commands, each answered by an arbitrary reply
// record, with engine stops and refused starts between them. After every
// command CommandResult must be what the reply table gives (fields the reply
// does not set keep their values), the request must be the text then zeros,
// decoding must leave the engine's bytes alone, and a text over 254
// characters must never reach the engine.
//
// Input, one step after another (16 at most):
//   action (1)   low 4 bits 0: stop the engine, nothing else in the step
//                0x10: the next start is refused
//                0x20: a kind 5 reply points to a text that follows
//                0x40: the command is 200 characters longer
//                0x80: a format byte follows: 0 the text is the format
//                (when it holds no %), 1 "%s%c%s" with a byte that follows
//                put in its middle, 2 "%%%s", 3 "%s" (as without 0x80)
//   length (1)   of the command text, which follows (NUL bytes cut it)
//   pointer text length (2) and the text, when 0x20
//   reply (255)  written over the request; a short one leaves the rest
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/launch_context.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "fake_platform.h"
#include "fuzz_support.h"

namespace {

// Enough for fields kept across replies, stops and restarts; more steps per
// input only make each input dearer.
constexpr int kMaxSteps = 16;

void RunStep(ByteStream& input, ReferenceResult& expected, int step)
{
    const uint8_t action = input.Byte();
    if ((action & 0x0F) == 0) {
        StopEngine();
        return;
    }
    const bool refuseStart = (action & 0x10) != 0;
    const uint8_t shape = (action & 0x80) != 0 ? input.Byte() % 4 : 3;
    const char middle = shape == 1 ? static_cast<char>(input.Byte()) : '\0';
    const size_t commandLength = input.Byte() + ((action & 0x40) != 0 ? 200 : 0);
    std::string text = input.Bytes(commandLength);
    text.resize(text.find('\0') != std::string::npos ? text.find('\0') : text.size());
    // The command as formatted; a NUL that %c puts in ends it.
    const std::string first = text.substr(0, text.size() / 2), second = text.substr(text.size() / 2);
    const std::string formatted = shape == 1 ? first + middle + second : shape == 2 ? "%" + text : text;
    const std::string command = formatted.substr(0, formatted.find('\0'));
    std::string pointed;
    uint32_t pointedAddress = 0;
    if (action & 0x20) {
        pointed = input.Bytes(input.Word());
        pointed.resize(pointed.find('\0') != std::string::npos ? pointed.find('\0') : pointed.size());
        pointedAddress = PlaceLowText(pointed);
    }
    std::string reply = input.Bytes(kCommandRecordSize);
    if (pointedAddress != 0 && reply.size() >= 9) std::memcpy(&reply[5], &pointedAddress, 4);

    fake::Reply answer; // flags 0: the fake writes byte 0, then the edit
    // Called inside this step's SendCommand, while reply lives.
    answer.edit = [at = reply.data(), count = reply.size()](unsigned char* record) { std::memcpy(record, at, count); };
    fake::state.replies.assign(1, answer);
    fake::state.initResults.clear();
    if (refuseStart) fake::state.initResults.push_back(0);

    const bool wasStarted = EngineState.Started == 1;
    const size_t sentBefore = fake::state.commands.size();
    if (shape == 0 && text.find('%') == std::string::npos) {
        // A text without % is a format without directives: the fixed-text
        // way that most commands take.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-security"
        SendCommand(text.c_str());
#pragma clang diagnostic pop
    } else if (shape == 1)
        SendCommand("%s%c%s", first.c_str(), middle, second.c_str());
    else if (shape == 2)
        SendCommand("%%%s", text.c_str());
    else
        SendCommand("%s", text.c_str());
    const size_t sent = fake::state.commands.size() - sentBefore;
    const auto context = [&] { return "step " + std::to_string(step) + " command " + Escaped(command); };

    for (size_t i = sentBefore; i < fake::state.commands.size(); ++i)
        FUZZ_CHECK(fake::state.commands[i].size() <= kMaxCommandLength, context());

    if (formatted.size() > kMaxCommandLength) {
        // Refused: at most the notice went out, and nothing of its reply stays.
        FUZZ_CHECK(sent <= 1, context());
        if (sent == 1) {
            const std::string& notice = fake::state.commands.back();
            FUZZ_CHECK(notice.compare(0, 5, "INFO,") == 0 &&
                           notice.find(std::to_string(formatted.size())) != std::string::npos,
                       context() + ": notice " + Escaped(notice));
        }
    } else if (refuseStart && !wasStarted) {
        FUZZ_CHECK(sent == 0, context() + ": a command went out without a started engine");
    } else {
        FUZZ_CHECK(sent == 1, context());
        FUZZ_CHECK(fake::state.commands.back() == command, context());
        const std::vector<unsigned char>& request = fake::state.requests.back();
        for (size_t i = 0; i < kCommandRecordSize; ++i)
            FUZZ_CHECK(request[i] == (i < command.size() ? static_cast<unsigned char>(command[i]) : 0),
                       context() + ": request byte " + std::to_string(i));
        unsigned char record[kCommandRecordSize];
        std::memcpy(record, request.data(), sizeof record);
        record[0] = 0;
        std::memcpy(record, reply.data(), reply.size());
        FUZZ_CHECK(std::memcmp(record, CommandRecord.Bytes, sizeof record) == 0,
                   context() + ": decoding changed the record");
        if (!wasStarted) expected = ReferenceResult();
        ReferenceDecode(record, &expected);
    }
    CheckCommandResult(expected, context);
    if (CommandResult.PointerResult != nullptr &&
        CommandResult.PointerResult == reinterpret_cast<const char*>(static_cast<uintptr_t>(pointedAddress)))
        FUZZ_CHECK(pointed == CommandResult.PointerResult, context() + ": the pointed text");
}

// Every input begins with a started engine, a cleared result and empty
// records. A start (which builds the start-up block) costs more than the
// rest of a short input, so it is paid again only after an input has left
// the engine stopped; starts, refused or not, still follow an input's stops.
void BeginInput()
{
    if (EngineState.Started != 1) {
        fake::Reset();
        if (EnsureEngineStarted() != 1) std::abort();
    }
    fake::State& state = fake::state;
    state.replies.clear();
    state.initResults.clear();
    state.commands.clear();
    state.requests.clear();
    state.log.clear();
    state.blocks.clear();
    state.initRecords.clear();
    std::memset(&CommandRecord, 0, sizeof CommandRecord);
    ResetCommandResult();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BeginInput();
    ByteStream input(data, size);
    LaunchContext.English = input.Byte() & 1;
    ReferenceResult expected;
    for (int step = 0; input.Remaining() > 0 && step < kMaxSteps; ++step)
        RunStep(input, expected, step);
    return 0;
}
