// The start-up block's bytes: header, the 18 module entries, the components
// of section COMPOSANTE, the end byte, and the rule for components that do
// not fit.
#include <cstring>

#include "common/settings.h"
#include "engine/engine_loader.h"
#include "engine/startup_block.h"
#include "test_support.h"
#include "text_and_bytes.h"

using fake::state;
using Bytes = std::vector<unsigned char>;

class StartupBlockTest : public FakeTest {
  protected:
    void SetUp() override
    {
        FakeTest::SetUp();
        std::strcpy(SettingsFileName, "Orvane.ini");
    }

    void Component(int index, const std::string& value)
    {
        fake::SetProfile("Orvane.ini", "COMPOSANTE", "COMPOSANTE_" + std::to_string(index), value);
    }

    Bytes Build()
    {
        void* block = BuildStartupBlock();
        EXPECT_NE(nullptr, block);
        Bytes bytes(static_cast<unsigned char*>(block), static_cast<unsigned char*>(block) + kStartupBlockSize);
        FreeGlobalBlock(block);
        return bytes;
    }

    static unsigned BodyLength(const Bytes& block) { return Little16(&block[kBodyLengthOffset]); }

    // Offset of the first component entry: past the 18 module entries.
    static size_t ComponentsStart(const Bytes& block)
    {
        size_t at = kFirstEntryOffset;
        for (int row = 0; row < 18; ++row) {
            at += 1;
            at += std::strlen(reinterpret_cast<const char*>(&block[at])) + 1;
            at += std::strlen(reinterpret_cast<const char*>(&block[at])) + 1;
            at += 4;
        }
        return at;
    }

    static Bytes Entry(const std::string& name, const std::string& text, uint16_t number)
    {
        Bytes entry{3};
        entry.insert(entry.end(), name.begin(), name.end());
        entry.push_back(0);
        entry.insert(entry.end(), text.begin(), text.end());
        entry.push_back(0);
        entry.insert(entry.end(),
                     {0xFF, 0xFF, static_cast<unsigned char>(number & 0xFF), static_cast<unsigned char>(number >> 8)});
        return entry;
    }

    static Bytes Slice(const Bytes& block, size_t from, size_t count)
    {
        return Bytes(block.begin() + from, block.begin() + from + count);
    }
};

TEST_F(StartupBlockTest, WithoutComponentsTheBodyIs535Bytes)
{
    Bytes block = Build();
    EXPECT_EQ(Bytes({'K', 'A', 'L', 'M', 'I', 'R', 0x88, 0x13}), Slice(block, 0, 8));
    EXPECT_EQ(535u, BodyLength(block));
    EXPECT_EQ(544u, ComponentsStart(block));
    EXPECT_EQ(0x80, block[544]);
    EXPECT_EQ(Bytes(335, 0), Slice(block, 545, 335));
    EXPECT_EQ(1u, fake::LogLines("GlobalAlloc 66 880").size());
}

TEST_F(StartupBlockTest, FirstModuleEntryByteByByte)
{
    Bytes block = Build();
    Bytes expected{1};
    for (const char* name : {"OV551KRN.DLL", "OV553KRN.DLL"}) {
        expected.insert(expected.end(), name, name + 12);
        expected.push_back(0);
    }
    expected.insert(expected.end(), {0, 0, 3, 0});
    EXPECT_EQ(expected, Slice(block, 10, 31));
}

TEST_F(StartupBlockTest, ModuleFlagsAndSingleFileEntries)
{
    Bytes block = Build();
    size_t at = kFirstEntryOffset;
    for (int row = 0; row < 18; ++row) {
        SCOPED_TRACE(ModuleTable[row].Code);
        const size_t start = at;
        const uint8_t flags = block[at++];
        std::string v1 = reinterpret_cast<const char*>(&block[at]);
        at += v1.size() + 1;
        std::string v3 = reinterpret_cast<const char*>(&block[at]);
        at += v3.size() + 1;
        const int id = Little16(&block[at]);
        const int group = Little16(&block[at + 2]);
        at += 4;
        const std::string code = ModuleTable[row].Code;
        EXPECT_EQ(code == "DTB" ? 3 : (code == "GUI" || group == 0) ? 0 : 1, flags);
        EXPECT_EQ(code == "DRV" ? "" : "OV551" + code + ".DLL", v1);
        EXPECT_EQ(code == "LFN" ? "" : "OV553" + code + ".DLL", v3);
        EXPECT_EQ(ModuleTable[row].ModuleId, id);
        EXPECT_EQ(ModuleTable[row].GroupId, group);
        EXPECT_EQ(code == "LFN" || code == "DRV" ? 19u : 31u, at - start);
    }
}

TEST_F(StartupBlockTest, ComponentValuesAreUpperCasedAndSplit)
{
    struct Case {
        std::string value;
        bool entry;
        std::string name, text;
        uint16_t number;
    } cases[] = {{"abc,def,12", true, "ABC", "DEF", 12},
                 {"abc,,7", true, "ABC", "", 7},
                 {"a,b,1,2", true, "A", "B", 1},
                 {"n,t,70000", true, "N", "T", 4464},
                 {"n,t,-1", true, "N", "T", 0xFFFF},
                 {"n,t,x", true, "N", "T", 0},
                 {",,", true, "", "", 0},
                 {"caf\xE9,\xE9t\xE9,3", true, "CAF\xE9", "\xE9T\xE9", 3},
                 {"abc,def", false, "", "", 0},
                 {"", false, "", "", 0},
                 {"abc", false, "", "", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        fake::Reset();
        std::strcpy(SettingsFileName, "Orvane.ini");
        Component(0, c.value);
        Bytes block = Build();
        if (!c.entry) {
            EXPECT_EQ(535u, BodyLength(block));
            continue;
        }
        Bytes entry = Entry(c.name, c.text, c.number);
        EXPECT_EQ(entry, Slice(block, 544, entry.size()));
        EXPECT_EQ(0x80, block[544 + entry.size()]);
        EXPECT_EQ(535u + entry.size(), BodyLength(block));
    }
}

TEST_F(StartupBlockTest, EveryKeyIsTriedInOrderAndOnlyZeroToNine)
{
    Component(7, "seven,x,7");
    Component(3, "three,y,3");
    Component(10, "ten,z,10");
    Bytes block = Build();
    Bytes expected = Entry("THREE", "Y", 3);
    Bytes seven = Entry("SEVEN", "X", 7);
    expected.insert(expected.end(), seven.begin(), seven.end());
    expected.push_back(0x80);
    EXPECT_EQ(expected, Slice(block, 544, expected.size()));
    std::vector<std::string> reads = fake::LogLines("Read Orvane.ini COMPOSANTE ");
    ASSERT_EQ(10u, reads.size());
    EXPECT_EQ("Read Orvane.ini COMPOSANTE COMPOSANTE_0 525", reads[0]);
    EXPECT_EQ("Read Orvane.ini COMPOSANTE COMPOSANTE_9 525", reads[9]);
}

TEST_F(StartupBlockTest, ComponentsThatDoNotFitAreLeftOutAndNothingPassesTheBlock)
{
    // Each entry takes 7 + 100 + 1 bytes: three fit in the 335 bytes, with
    // 11 bytes left for the small one after them; the end byte closes the block.
    for (int index = 0; index < 5; ++index)
        Component(index, std::string(100, 'a' + index) + ",,1");
    Component(5, "s,t,5");
    Component(6, "long" + std::string(10, 'z') + ",,6");
    Bytes block = Build();
    size_t at = 544;
    for (int index = 0; index < 3; ++index) {
        Bytes entry = Entry(std::string(100, 'A' + index), "", 1);
        EXPECT_EQ(entry, Slice(block, at, entry.size())) << index;
        at += entry.size();
    }
    Bytes small = Entry("S", "T", 5);
    EXPECT_EQ(small, Slice(block, at, small.size()));
    at += small.size();
    EXPECT_EQ(0x80, block[at]);
    EXPECT_EQ(at - 9, BodyLength(block));
    EXPECT_LE(at, 879u);
}

TEST_F(StartupBlockTest, ValueIsReadIntoA525ByteBuffer)
{
    Component(0, "n," + std::string(600, 't') + ",9");
    char buffer[kComponentValueCapacity];
    char* text = nullptr;
    char* number = nullptr;
    // The second comma lies beyond the 524 characters that are read.
    EXPECT_EQ(0, ReadComponentSetting(0, buffer, &text, &number));
    EXPECT_EQ(1u, fake::LogLines("Read Orvane.ini COMPOSANTE COMPOSANTE_0 525").size());
}

TEST_F(StartupBlockTest, VersionDigitsAndFileNames)
{
    char digits[4];
    CompactVersion(digits);
    EXPECT_STREQ("55", digits);
    unsigned char name[16];
    EXPECT_EQ(13u, ModuleFileName(digits, 17, '3', name));
    EXPECT_STREQ("OV553DRV.DLL", reinterpret_cast<char*>(name));
    EXPECT_EQ(18, kModuleCount);
    EXPECT_EQ(1, ModuleHasVariant1(9));
    EXPECT_EQ(0, ModuleHasVariant3(9));
    EXPECT_EQ(14, ModuleIdOf(7));
    EXPECT_EQ(11, ModuleGroupIdOf(8));
}
