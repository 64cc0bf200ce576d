// The cost of one command: SendCommand against an engine whose OVCALLC
// answers at once, one benchmark per kind of reply, each beside a baseline
// that does the least the record requires (clear the 255 bytes, copy the
// text in, one indirect call, read the flags, copy the key and the text
// out). bench/ratios.py divides the one by the other.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/command_channel.h"
#include "engine/engine_loader.h"

namespace {

// One reply as the engine writes it: only the bytes the kind needs.
struct ReplyShape {
    const char* Name;
    uint8_t Flags;
    const char* Text; // Text field; null: none written
    uint8_t TextLength;
};

const char kPointerText[] = "12,FEN,OBJ.PRO,Message";

// The replies the test loops and the console see, and the other kinds.
const ReplyShape kShapes[] = {
    {"none", 0x00, nullptr, 0},
    {"key", 0x80, nullptr, 0},
    {"key_extra", 0xC0, nullptr, 0},
    {"kind1_int", 0x91, "2", 1},
    {"kind2_long", 0x92, "32767", 5},
    {"kind3_float", 0x93, "-12.7", 5},
    {"kind4_double", 0x94, "3.14159", 7},
    {"kind5_pointer", 0x95, "", 0},
    {"kind8_int_text", 0x98, "12\0ABC", 2},
    {"text_long", 0x90,
     "Le moteur a termin\xE9 l'\xE9"
     "cran sans erreur; ce texte occupe quatre-vingts caract\xE8res.",
     80},
};
constexpr size_t kShapeCount = sizeof kShapes / sizeof kShapes[0];

const ReplyShape* currentShape = &kShapes[0];

// The engine: writes the reply over the request and returns.
int32_t OV_ENGINE_CALL AnswerAtOnce(void* record)
{
    using namespace ReplyLayout;
    auto* bytes = static_cast<unsigned char*>(record);
    const ReplyShape& shape = *currentShape;
    bytes[Flags] = shape.Flags;
    if (shape.Flags & HasKeyName) std::memcpy(bytes + KeyName, "RET", KeyNameSize);
    if (shape.Flags & HasExtra) {
        std::memcpy(bytes + ExtraText, "EXTRA\0", 6);
        bytes[ExtraValue] = 7;
    }
    if (shape.Flags & HasText) {
        bytes[TextLength] = shape.TextLength;
        const size_t size = (shape.Flags & KindMask) == 8 ? 7 : shape.TextLength;
        std::memcpy(bytes + Text, shape.Text, size);
        if ((shape.Flags & KindMask) == 5) {
            const auto pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(kPointerText));
            std::memcpy(bytes + PointerValue, &pointer, 4);
        }
    }
    return 1;
}

void UseAnsweringEngine(const ReplyShape& shape)
{
    currentShape = &shape;
    EngineState.Started = 1;
    EngineState.OVCALLC = &AnswerAtOnce;
}

// The least work: the same engine, reached through a pointer the compiler
// cannot see through, and only the copies the reply needs.
struct BaselineResult {
    char KeyName[4];
    char Text[208];
};
unsigned char baselineRecord[kCommandRecordSize];
BaselineResult baselineResult;
CommandEntry volatile baselineEngine = &AnswerAtOnce;

void BaselineCommand(const char* text)
{
    std::memset(baselineRecord, 0, sizeof baselineRecord);
    std::memcpy(baselineRecord, text, std::strlen(text));
    baselineEngine(baselineRecord);
    const uint8_t flags = baselineRecord[ReplyLayout::Flags];
    if (flags & ReplyLayout::HasKeyName) {
        std::memcpy(baselineResult.KeyName, baselineRecord + ReplyLayout::KeyName, ReplyLayout::KeyNameSize);
        baselineResult.KeyName[3] = '\0';
    }
    if (flags & ReplyLayout::HasText) {
        const size_t length = baselineRecord[ReplyLayout::TextLength];
        std::memcpy(baselineResult.Text, baselineRecord + ReplyLayout::Text, length);
        baselineResult.Text[length] = '\0';
    }
}

// The baseline, and the number of a typed reply read with the C library, as
// the reply's kind asks: the least that decoding a number costs.
double baselineNumber;

void BaselineCommandWithNumber(const char* text)
{
    BaselineCommand(text);
    const uint8_t flags = baselineRecord[ReplyLayout::Flags];
    const int kind = flags & ReplyLayout::KindMask;
    if (!(flags & ReplyLayout::HasText)) return;
    if (kind == 1 || kind == 2 || kind == 8)
        baselineNumber = std::atoi(baselineResult.Text);
    else if (kind == 3 || kind == 4)
        baselineNumber = std::atof(baselineResult.Text);
}

void BM_SendCommand(benchmark::State& state)
{
    const ReplyShape& shape = kShapes[state.range(0)];
    UseAnsweringEngine(shape);
    state.SetLabel(shape.Name);
    for (auto _ : state) {
        SendCommand("ECRAN,SAISIE");
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(CommandResult);
    EngineState.Started = 0;
}

void BM_Baseline(benchmark::State& state)
{
    const ReplyShape& shape = kShapes[state.range(0)];
    currentShape = &shape;
    state.SetLabel(shape.Name);
    // Through a pointer the compiler cannot follow, as SendCommand's text is.
    const char* volatile text = "ECRAN,SAISIE";
    for (auto _ : state) {
        BaselineCommand(text);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(baselineResult);
}

void BM_BaselineWithNumber(benchmark::State& state)
{
    const ReplyShape& shape = kShapes[state.range(0)];
    currentShape = &shape;
    state.SetLabel(shape.Name);
    const char* volatile text = "ECRAN,SAISIE";
    for (auto _ : state) {
        BaselineCommandWithNumber(text);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(baselineNumber);
}

// The window test's report of an unhandled key: one %s to format. The
// baseline is handed the finished text.
void BM_SendCommandFormatted(benchmark::State& state)
{
    UseAnsweringEngine(kShapes[0]);
    const char* volatile key = "XYZ";
    for (auto _ : state) {
        SendCommand("INFO,OVTouche=%s", key);
        benchmark::ClobberMemory();
    }
    EngineState.Started = 0;
}

void BM_BaselineFormatted(benchmark::State& state)
{
    currentShape = &kShapes[0];
    const char* volatile text = "INFO,OVTouche=XYZ";
    for (auto _ : state) {
        BaselineCommand(text);
        benchmark::ClobberMemory();
    }
}

void EveryShape(benchmark::internal::Benchmark* benchmark)
{
    for (size_t i = 0; i < kShapeCount; ++i)
        benchmark->Arg(static_cast<int64_t>(i));
}

// The kinds whose reply carries a number: 1, 2, 3, 4 and 8.
void NumberShapes(benchmark::internal::Benchmark* benchmark)
{
    for (size_t i = 0; i < kShapeCount; ++i) {
        const int kind = kShapes[i].Flags & ReplyLayout::KindMask;
        if ((kShapes[i].Flags & ReplyLayout::HasText) &&
            (kind == 1 || kind == 2 || kind == 3 || kind == 4 || kind == 8))
            benchmark->Arg(static_cast<int64_t>(i));
    }
}

} // namespace

BENCHMARK(BM_SendCommand)->Apply(EveryShape);
BENCHMARK(BM_Baseline)->Apply(EveryShape);
BENCHMARK(BM_BaselineWithNumber)->Apply(NumberShapes);
BENCHMARK(BM_SendCommandFormatted);
BENCHMARK(BM_BaselineFormatted);
