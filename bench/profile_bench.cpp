// The Linux profile layer: reading one key and writing one key in files of
// 1 KiB, 64 KiB and 1 MiB. The key is in the file's last section, the worst
// place for a search. A write alternates two values of the same length, so
// that every write changes the file (and is flushed to disk).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "platform.h"

namespace {

void BM_ProfileRead(benchmark::State& state)
{
    ScratchWindowsDirectory windows;
    WriteFileBytes(windows / "Orvane.ini", SettingsOfSize(static_cast<size_t>(state.range(0))));
    char buffer[300];
    for (auto _ : state) {
        OsGetPrivateProfileString("LAST", "Key", "", buffer, sizeof buffer, "Orvane.ini");
        benchmark::DoNotOptimize(buffer);
    }
    if (std::string(buffer) != "Value") state.SkipWithError("the key was not read");
}

void BM_ProfileWrite(benchmark::State& state)
{
    ScratchWindowsDirectory windows;
    WriteFileBytes(windows / "Orvane.ini", SettingsOfSize(static_cast<size_t>(state.range(0))));
    bool odd = false;
    for (auto _ : state) {
        odd = !odd;
        if (OsWritePrivateProfileString("LAST", "Key", odd ? "Value1" : "Value2", "Orvane.ini") == 0) {
            state.SkipWithError("the write failed");
            break;
        }
    }
}

// A read right after each write: what the launcher's handoff does.
void BM_ProfileWriteThenRead(benchmark::State& state)
{
    ScratchWindowsDirectory windows;
    WriteFileBytes(windows / "Orvane.ini", SettingsOfSize(static_cast<size_t>(state.range(0))));
    char buffer[300];
    bool odd = false;
    for (auto _ : state) {
        odd = !odd;
        OsWritePrivateProfileString("LAST", "Key", odd ? "Value1" : "Value2", "Orvane.ini");
        OsGetPrivateProfileString("LAST", "Key", "", buffer, sizeof buffer, "Orvane.ini");
        benchmark::DoNotOptimize(buffer);
    }
}

void Sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_ProfileRead)->Apply(Sizes);
BENCHMARK(BM_ProfileWrite)->Apply(Sizes);
BENCHMARK(BM_ProfileWriteThenRead)->Apply(Sizes);
