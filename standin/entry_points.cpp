// The four entry points of the engine library, and the stand-in's state for
// the life of the process.
//
// The library pins itself in memory at its first call: the launcher frees it
// at every engine stop and loads it again at the next start, and the script's
// place, the call count and the texts handed out by address must outlive that.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "block_check.h"
#include "console_text.h"
#include "interactive.h"
#include "reply.h"
#include "script.h"
#include "transcript.h"

#ifdef _WIN32
#include <windows.h>
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#define STANDIN_CALL __stdcall
#else
#include <dlfcn.h>
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#define STANDIN_CALL
#endif

STANDIN_EXPORT int32_t STANDIN_CALL AffTexteLongC();
STANDIN_EXPORT int32_t STANDIN_CALL OV4InitInstance(void* record, void* startupBlock);
STANDIN_EXPORT int32_t STANDIN_CALL FinInstance(void* record);
STANDIN_EXPORT int32_t STANDIN_CALL OVCALLC(void* record);

namespace standin {

namespace {

constexpr long kDefaultMaxCalls = 10000;
constexpr int kLimitExitStatus = 3;
// OV_STANDIN_STRICT=1: the first departure from the script ends the process.
constexpr int kStrictExitStatus = 4;
// A kind 5 text for which no memory below 4 GiB was found.
constexpr int kNoLowMemoryExitStatus = 5;

enum class Mode { Scripted, Interactive, Quiet };

struct EngineState {
    bool Configured = false;
    std::string TranscriptPath; // OV_STANDIN_TRANSCRIPT; empty: no transcript
    long MaxCalls = kDefaultMaxCalls;
    bool Strict = false; // OV_STANDIN_STRICT=1
    Mode CurrentMode = Mode::Quiet;
    std::string ScriptPath; // the script loaded, in scripted mode
    Script Loaded;
    size_t Next = 0;             // the first line not yet consumed
    bool ExhaustionTold = false; // the first command past the end was reported
    long Calls = 0;              // entry-point calls since the mode was set
    bool Running = false;        // from an accepted start to the next stop
    InteractiveEngine Interactive;
};

EngineState& State()
{
    static EngineState state;
    return state;
}

void Note(const std::string& line) { AppendTranscriptLine(State().TranscriptPath, line); }

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

void PinLibrary()
{
#ifdef _WIN32
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&PinLibrary), &self);
#else
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PinLibrary), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
#endif
}

Mode ChooseMode(std::string* scriptPath)
{
    *scriptPath = Variable("OV_STANDIN_SCRIPT");
    if (!scriptPath->empty()) return Mode::Scripted;
    const std::string forced = Variable("OV_STANDIN_MODE");
    if (forced == "interactive") return Mode::Interactive;
    if (forced == "quiet") return Mode::Quiet;
    // A person is there when both input and output are a console: NUL, a
    // pipe or a file on either side means a program or a test started it.
    return IsConsole(0) && IsConsole(1) ? Mode::Interactive : Mode::Quiet;
}

// A departure from the script: the transcript's line, the same words and
// where it happened on standard error, and under OV_STANDIN_STRICT=1 the
// end of the process once told.
void Tell(const std::string& event, const std::string& where)
{
    Note(event);
    std::fprintf(stderr, "OV553KRN stand-in: %s %s\n", event.c_str(), where.c_str());
    std::fflush(stderr);
}

void EndIfStrict()
{
    if (!State().Strict) return;
    Note("strict exit=" + std::to_string(kStrictExitStatus));
    std::fflush(nullptr);
    std::exit(kStrictExitStatus);
}

void LoadScript(EngineState& state)
{
    std::ifstream file(state.ScriptPath, std::ios::binary);
    if (!file) {
        state.Loaded = Script();
        state.Loaded.Faults.push_back("cannot read " + state.ScriptPath);
    } else {
        std::ostringstream text;
        text << file.rdbuf();
        state.Loaded = ParseScript(text.str(), [](const std::string& name) { return std::getenv(name.c_str()); });
    }
    for (const std::string& fault : state.Loaded.Faults)
        Tell("script fault " + Quote(fault), "in " + state.ScriptPath);
    if (!state.Loaded.Faults.empty()) EndIfStrict();
}

// Reads the variables. A change of mode or of script starts afresh: the
// script from its first line, the call count from 0.
void Configure()
{
    EngineState& state = State();
    if (!state.Configured) PinLibrary();
    state.TranscriptPath = Variable("OV_STANDIN_TRANSCRIPT");
    const long maxCalls = std::atol(Variable("OV_STANDIN_MAX_CALLS").c_str());
    state.MaxCalls = maxCalls > 0 ? maxCalls : kDefaultMaxCalls;
    state.Strict = Variable("OV_STANDIN_STRICT") == "1";
    std::string scriptPath;
    const Mode mode = ChooseMode(&scriptPath);
    if (state.Configured && mode == state.CurrentMode && scriptPath == state.ScriptPath) return;
    state.Configured = true;
    state.CurrentMode = mode;
    state.ScriptPath = scriptPath;
    state.Loaded = Script();
    state.Next = 0;
    state.ExhaustionTold = false;
    state.Calls = 0;
    state.Running = false;
    state.Interactive.Reset();
    if (mode == Mode::Scripted) LoadScript(state);
}

// Ends the process once the bound is passed, so that no run loops forever.
void CountCall()
{
    EngineState& state = State();
    if (++state.Calls <= state.MaxCalls) return;
    Note("limit calls=" + std::to_string(state.MaxCalls) + " exit=" + std::to_string(kLimitExitStatus));
    std::fflush(nullptr);
    std::exit(kLimitExitStatus);
}

void BeginCall()
{
    Configure();
    CountCall();
}

Reply EscapeReply()
{
    Reply reply;
    reply.HasKey = true;
    reply.Key = "ESC";
    return reply;
}

// The next script line answers the command when it matches; a mismatch
// consumes nothing and ends the screen with "ESC", as does an empty script.
// Both are told on standard error, the end of the script once.
Reply ScriptedReply(const std::string& command)
{
    EngineState& state = State();
    if (state.Next >= state.Loaded.Lines.size()) {
        if (state.ExhaustionTold || !state.Loaded.Faults.empty()) {
            Note("script exhausted");
        } else {
            state.ExhaustionTold = true;
            Tell("script exhausted", "at call " + Quote(command));
            EndIfStrict();
        }
        return EscapeReply();
    }
    const ScriptLine& line = state.Loaded.Lines[state.Next];
    if (!Matches(line, command)) {
        Tell("mismatch line=" + std::to_string(line.LineNumber) + " expected=" + DescribePattern(line),
             "at call " + Quote(command));
        EndIfStrict();
        return EscapeReply();
    }
    ++state.Next;
    return line.Answer;
}

int32_t ScriptedStart()
{
    EngineState& state = State();
    if (state.Next < state.Loaded.Lines.size() && state.Loaded.Lines[state.Next].IsStart)
        return state.Loaded.Lines[state.Next++].StartResult;
    return 1;
}

bool IsZero(const unsigned char* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

} // namespace

} // namespace standin

using namespace standin;

int32_t STANDIN_CALL AffTexteLongC()
{
    BeginCall();
    Note("afftextelongc");
    return 0;
}

int32_t STANDIN_CALL OV4InitInstance(void* record, void* startupBlock)
{
    BeginCall();
    EngineState& state = State();
    const auto* bytes = static_cast<const unsigned char*>(record);
    Note(std::string("start record=") + (bytes == nullptr ? "null" : IsZero(bytes, kRecordSize) ? "zero" : "used"));
    if (state.Running) Note("fault \"start while an instance is running\"");
    for (const std::string& line : DescribeStartupBlock(static_cast<const unsigned char*>(startupBlock)))
        Note(line);
    const int32_t result = state.CurrentMode == Mode::Scripted ? ScriptedStart() : 1;
    Note("start result=" + std::to_string(result));
    if (result != 0) state.Running = true;
    return result;
}

int32_t STANDIN_CALL FinInstance(void* record)
{
    BeginCall();
    EngineState& state = State();
    Note("stop");
    if (record == nullptr) Note("fault \"stop with a null record\"");
    if (!state.Running) Note("fault \"stop without a started instance\"");
    state.Running = false;
    return 1;
}

int32_t STANDIN_CALL OVCALLC(void* record)
{
    BeginCall();
    EngineState& state = State();
    if (record == nullptr) {
        Note("fault \"call with a null record\"");
        return 0;
    }
    auto* bytes = static_cast<unsigned char*>(record);
    std::vector<std::string> faults;
    const std::string command = ReadCommand(bytes, &faults);
    Note("call " + Quote(command));
    for (const std::string& fault : faults)
        Note("fault " + Quote(fault));
    if (!state.Running) Note("fault \"call without a started instance\"");

    Reply reply;
    switch (state.CurrentMode) {
    case Mode::Scripted:
        reply = ScriptedReply(command);
        break;
    case Mode::Interactive:
        reply = state.Interactive.Respond(command);
        break;
    case Mode::Quiet:
        reply = QuietReply(command);
        break;
    }
    if (!WriteReply(reply, bytes)) {
        // The record carries 32 bits of the address: a cut one would send
        // the launcher to another place, so the run stops here instead.
        Tell("fault \"no memory below 4 GiB for the pointer text\"", "in the reply to " + Quote(command));
        Note("stopped exit=" + std::to_string(kNoLowMemoryExitStatus));
        std::fflush(nullptr);
        std::exit(kNoLowMemoryExitStatus);
    }
    Note(DescribeReply(bytes));
    return 1;
}
