// The start-up block as OV4InitInstance decodes and judges it.
#include <gtest/gtest.h>

#include "standin_harness.h"

using namespace standin_test;

namespace {

// Starts an instance with the block and stops it again; returns the
// transcript's block lines.
std::vector<std::string> BlockLines(Workspace& workspace, Block* block)
{
    workspace.UseScript("");
    Record record{};
    EXPECT_EQ(1, Engine().OV4InitInstance(record.data(), block == nullptr ? nullptr : block->data()));
    Engine().FinInstance(record.data());
    return workspace.Lines("block");
}

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted)
{
    for (const std::string& line : lines)
        if (line == wanted) return true;
    return false;
}

} // namespace

TEST(StartupBlock, WellFormedBlockIsDecodedEntryByEntry)
{
    Workspace workspace;
    Block block = WellFormedBlock();
    const std::vector<std::string> lines = BlockLines(workspace, &block);
    ASSERT_EQ(1u + 18u + 2u, lines.size());
    EXPECT_EQ("block signature=\"KALMIR\" format=5000 length=535", lines[0]);
    EXPECT_EQ("block module 0 at=10 flags=1 file1=\"OV551KRN.DLL\" file3=\"OV553KRN.DLL\" id=0 group=3", lines[1]);
    EXPECT_EQ("block module 1 at=41 flags=0 file1=\"OV551GUI.DLL\" file3=\"OV553GUI.DLL\" id=9 group=0", lines[2]);
    EXPECT_EQ("block module 2 at=72 flags=3 file1=\"OV551DTB.DLL\" file3=\"OV553DTB.DLL\" id=1 group=2", lines[3]);
    EXPECT_EQ("block module 9 at=289 flags=0 file1=\"OV551LFN.DLL\" file3=\"\" id=6 group=0", lines[10]);
    EXPECT_EQ("block module 17 at=525 flags=0 file1=\"\" file3=\"OV553DRV.DLL\" id=18 group=0", lines[18]);
    EXPECT_EQ("block end at=544", lines[19]);
    EXPECT_EQ("block verdict=ok", lines[20]);

    const std::vector<std::string> starts = workspace.Lines("start");
    ASSERT_EQ(2u, starts.size());
    EXPECT_EQ("start record=zero", starts[0]);
    EXPECT_EQ("start result=1", starts[1]);
}

TEST(StartupBlock, ComponentsFollowTheModules)
{
    Workspace workspace;
    Block block = WellFormedBlock({{"ABC", "DEF", 12}, {"ABC", "", 7}, {"X", "Y", 0xFFFF}});
    const std::vector<std::string> lines = BlockLines(workspace, &block);
    EXPECT_EQ("block signature=\"KALMIR\" format=5000 length=" + std::to_string(535 + 13 + 10 + 9), lines[0]);
    EXPECT_TRUE(HasLine(lines, "block component 0 at=544 name=\"ABC\" text=\"DEF\" fixed=0xFFFF number=12"));
    EXPECT_TRUE(HasLine(lines, "block component 1 at=557 name=\"ABC\" text=\"\" fixed=0xFFFF number=7"));
    EXPECT_TRUE(HasLine(lines, "block component 2 at=567 name=\"X\" text=\"Y\" fixed=0xFFFF number=65535"));
    EXPECT_TRUE(HasLine(lines, "block end at=576"));
    EXPECT_EQ("block verdict=ok", lines.back());
}

TEST(StartupBlock, NullBlock)
{
    Workspace workspace;
    EXPECT_EQ(std::vector<std::string>{"block null"}, BlockLines(workspace, nullptr));
}

TEST(StartupBlock, EachMalformationIsNamed)
{
    struct Case {
        const char* Label;
        std::function<void(Block&)> Spoil;
        const char* Fault;
    };
    const Case cases[] = {
        {"signature", [](Block& b) { b[0] = 'k'; }, "block fault \"signature is not \\\"KALMIR\\\"\""},
        {"format value", [](Block& b) { b[6] = 0x89; }, "block fault \"format value 5001, not 5000\""},
        {"body length", [](Block& b) { b[8] = 0x18; }, "block fault \"body length 536, the end byte gives 548\""},
        {"byte after the end", [](Block& b) { b[879] = 1; }, "block fault \"byte 879 after the end byte is not zero\""},
        {"unknown marker", [](Block& b) { b[544] = 4; },
         "block fault \"byte 0x04 at 544 is neither a component marker nor the end byte\""},
        {"fixed value", [](Block& b) { b[553] = 0xFE; }, "block fault \"component 0: fixed value 0xFFFE, not 0xFFFF\""},
        {"no end byte",
         [](Block& b) {
             // Components of one-letter names up to the block's last byte.
             for (size_t at = 544; at + 8 <= 880; at += 8) {
                 const unsigned char entry[8] = {3, 'A', 0, 0, 0xFF, 0xFF, 1, 0};
                 std::copy(entry, entry + 8, b.begin() + at);
             }
         },
         "block fault \"no end byte 0x80 inside the 880 bytes\""},
        {"component past the end",
         [](Block& b) {
             for (size_t at = 544; at + 8 <= 872; at += 8) {
                 const unsigned char entry[8] = {3, 'A', 0, 0, 0xFF, 0xFF, 1, 0};
                 std::copy(entry, entry + 8, b.begin() + at);
             }
             std::fill(b.begin() + 872, b.end(), static_cast<unsigned char>('A'));
             b[872] = 3;
         },
         "block fault \"component 41 at 872 runs past the block\""},
        {"module without terminators",
         [](Block& b) { std::fill(b.begin() + 10, b.end(), static_cast<unsigned char>('A')); },
         "block fault \"module 0 at 10 runs past the block\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        Workspace workspace;
        Block block = WellFormedBlock({{"ABC", "DEF", 12}});
        c.Spoil(block);
        const std::vector<std::string> lines = BlockLines(workspace, &block);
        EXPECT_TRUE(HasLine(lines, c.Fault)) << "missing: " << c.Fault;
        EXPECT_EQ("block verdict=bad", lines.back());
    }
}
