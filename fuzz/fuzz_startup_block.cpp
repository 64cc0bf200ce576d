// The start-up block: arbitrary values for COMPOSANTE_0 to COMPOSANTE_9.
// The block is 880 bytes of heap, so a write past it is caught; read back,
// it must hold the 18 module entries, then exactly the component entries
// that fit (an entry that does not fit whole is left out, later ones that
// fit still go in), the end byte, a BodyLength that counts them, and zeros.
//
// Input, for each key from 0 to 9:
//   present (1)   odd: the key is set
//   length (2) and the value, which follows, when set
#include <cstring>
#include <string>
#include <vector>

#include "common/settings.h"
#include "engine/engine_loader.h"
#include "engine/startup_block.h"
#include "fake_platform.h"
#include "fuzz_fake.h"
#include "fuzz_support.h"
#include "text_and_bytes.h"

namespace {

struct Component {
    std::string Name, Text;
    uint16_t Number;
};

// Reads a terminated text at *at, never past end; false when it has no
// terminator there.
bool TakeText(const unsigned char* block, size_t* at, size_t end, std::string* text)
{
    const void* nul = std::memchr(block + *at, 0, end > *at ? end - *at : 0);
    if (nul == nullptr) return false;
    const size_t length = static_cast<const unsigned char*>(nul) - (block + *at);
    text->assign(reinterpret_cast<const char*>(block + *at), length);
    *at += length + 1;
    return true;
}

} // namespace

static int RunInput(const uint8_t* data, size_t size)
{
    fake::Reset();
    std::strcpy(SettingsFileName, "Orvane.ini");
    ByteStream input(data, size);

    // Every component that can be read, in key order.
    std::vector<Component> readable;
    for (int index = 0; index < kComponentKeyCount; ++index) {
        if ((input.Byte() & 1) == 0) continue;
        const std::string value = input.Bytes(input.Word());
        fake::SetProfile("Orvane.ini", "COMPOSANTE", "COMPOSANTE_" + std::to_string(index), value);
        std::string read = UpperAscii(value.substr(0, kComponentValueCapacity - 1));
        read = read.substr(0, read.find('\0'));
        const size_t first = read.find(',');
        if (first == std::string::npos) continue;
        const size_t second = read.find(',', first + 1);
        if (second == std::string::npos) continue;
        readable.push_back({read.substr(0, first), read.substr(first + 1, second - first - 1),
                            static_cast<uint16_t>(ReferenceDecimal(read.c_str() + second + 1) & 0xFFFF)});
    }
    // A key past 9 is never read.
    fake::SetProfile("Orvane.ini", "COMPOSANTE", "COMPOSANTE_10", "TEN,T,10");

    void* address = BuildStartupBlock();
    FUZZ_CHECK(address != nullptr, "no block");
    const auto* block = static_cast<const unsigned char*>(address);

    FUZZ_CHECK(std::memcmp(block, "KALMIR", 6) == 0 && Little16(block + 6) == kFormatValue, "header");
    size_t at = kFirstEntryOffset;
    for (int32_t row = 0; row < kModuleCount; ++row) {
        const int32_t group = ModuleTable[row].GroupId;
        FUZZ_CHECK(block[at] == ((group > 0 ? 1 : 0) | (group == 2 ? 2 : 0)), "module flags");
        ++at;
        std::string file1, file3;
        FUZZ_CHECK(TakeText(block, &at, kStartupBlockSize, &file1) && TakeText(block, &at, kStartupBlockSize, &file3),
                   "module files");
        const std::string code = ModuleTable[row].Code;
        FUZZ_CHECK(file1 == (ModuleTable[row].HasVariant1 ? "OV551" + code + ".DLL" : ""), file1);
        FUZZ_CHECK(file3 == (ModuleTable[row].HasVariant3 ? "OV553" + code + ".DLL" : ""), file3);
        FUZZ_CHECK(Little16(block + at) == static_cast<uint16_t>(ModuleTable[row].ModuleId) &&
                       Little16(block + at + 2) == static_cast<uint16_t>(group),
                   "module numbers");
        at += 4;
    }

    // The end byte takes the block's last byte at the latest.
    size_t room = kStartupBlockSize - 1 - at;
    for (const Component& component : readable) {
        const size_t entrySize = 1 + component.Name.size() + 1 + component.Text.size() + 1 + 4;
        if (entrySize > room) continue;
        const std::string context = "component " + Escaped(component.Name) + " at " + std::to_string(at);
        FUZZ_CHECK(block[at] == kComponentMarker, context);
        ++at;
        std::string name, text;
        FUZZ_CHECK(TakeText(block, &at, kStartupBlockSize, &name) && name == component.Name, context);
        FUZZ_CHECK(TakeText(block, &at, kStartupBlockSize, &text) && text == component.Text, context);
        FUZZ_CHECK(Little16(block + at) == 0xFFFF && Little16(block + at + 2) == component.Number, context);
        at += 4;
        room -= entrySize;
    }
    FUZZ_CHECK(block[at] == kEndByte, "end byte at " + std::to_string(at));
    FUZZ_CHECK(Little16(block + kBodyLengthOffset) == at + 1 - kFirstEntryOffset, "body length");
    for (size_t rest = at + 1; rest < kStartupBlockSize; ++rest)
        FUZZ_CHECK(block[rest] == 0, "byte " + std::to_string(rest) + " after the end byte");

    FreeGlobalBlock(address);
    FUZZ_CHECK(fake::state.liveGlobalBlocks == 0, "the block was not freed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return RunThenResetFake(RunInput, data, size);
}
