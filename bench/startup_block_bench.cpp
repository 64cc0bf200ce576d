// The cost of a start-up block: BuildStartupBlock with the real Linux layer,
// Orvane.ini in a scratch Windows directory, without a component and with
// all ten. Each build reads the ten COMPOSANTE keys from the file.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "common/settings.h"
#include "common/text.h"
#include "engine/engine_loader.h"
#include "engine/startup_block.h"

namespace {

// The request the editor writes, as in a real start.
std::string Request(int components)
{
    std::string text = "[TEST]\r\nLIGNEDECOMMANDE=/RE\r\nCOMMANDE=EDITEUR\r\nREPEXE=/opt/orvane\r\n"
                       "REPCOURANT=/home/user/project\r\nPARAM1=\r\nPARAM2=F\r\n[Orvane55]\r\nLANGUAGE=FRENCH\r\n";
    if (components > 0) text += "[COMPOSANTE]\r\n";
    for (int i = 0; i < components; ++i)
        text += "COMPOSANTE_" + std::to_string(i) + "=comp" + std::to_string(i) + ",t,1" + std::to_string(i) + "\r\n";
    return text;
}

void BM_BuildStartupBlock(benchmark::State& state)
{
    ScratchWindowsDirectory windows;
    WriteFileBytes(windows / "Orvane.ini", Request(static_cast<int>(state.range(0))));
    CopyText(SettingsFileName, "Orvane.ini");
    for (auto _ : state) {
        void* block = BuildStartupBlock();
        if (block == nullptr) {
            state.SkipWithError("no block");
            break;
        }
        benchmark::DoNotOptimize(block);
        FreeGlobalBlock(block);
    }
}

} // namespace

BENCHMARK(BM_BuildStartupBlock)->Arg(0)->Arg(10);
