// Replies in the 255-byte record, byte for byte, and what the transcript
// says about each call.
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

#include "standin_harness.h"
#include "text_and_bytes.h"

using namespace standin_test;

namespace {

std::string Bytes(const Record& record, size_t offset, size_t count)
{
    return std::string(reinterpret_cast<const char*>(record.data() + offset), count);
}
// Starts an instance over a script of one reply line per command.
void Start(Workspace& workspace, const std::string& script)
{
    workspace.UseScript(script);
    Record record{};
    Block block = WellFormedBlock();
    ASSERT_EQ(1, Engine().OV4InitInstance(record.data(), block.data()));
}

} // namespace

TEST(Reply, KeyNameIsPaddedAndTheRestKeepsTheRequest)
{
    Workspace workspace;
    Start(workspace, "ECRAN,SAISIE => key=ESC\nECRAN,SAISIE => key=A\n");
    Record first = Call("ECRAN,SAISIE");
    EXPECT_EQ(0x80, first[0]);
    EXPECT_EQ('C', first[1]); // not written: still the request's byte
    EXPECT_EQ("ESC", Bytes(first, 2, 3));
    EXPECT_EQ(",SAISIE", Bytes(first, 5, 7));
    EXPECT_TRUE(std::all_of(first.begin() + 12, first.end(), [](unsigned char b) { return b == 0; }));

    Record second = Call("ECRAN,SAISIE");
    EXPECT_EQ(std::string("A\0\0", 3), Bytes(second, 2, 3));
    EXPECT_EQ((std::vector<std::string>{"reply flags=0x80 key=\"ESC\"", "reply flags=0x80 key=\"A\""}),
              workspace.Lines("reply"));
}

TEST(Reply, TypedResultsExtraAndKindEight)
{
    Workspace workspace;
    Start(workspace, "FENETRE => kind=1 text=\"2\"\n"
                     "X => kind=2 number=-32767 key=\"*E*\"\n"
                     "Y => extratext=\"0123456789\" extravalue=-2\n"
                     "Z => kind=8 number=12 text=\"ABC\"\n");
    Record fenetre = Call("FENETRE");
    EXPECT_EQ(0x11, fenetre[0]);
    EXPECT_EQ(1, fenetre[47]);
    EXPECT_EQ(std::string("2\0", 2), Bytes(fenetre, 48, 2));

    Record two = Call("X");
    EXPECT_EQ(0x92, two[0]);
    EXPECT_EQ("*E*", Bytes(two, 2, 3));
    EXPECT_EQ(6, two[47]);
    EXPECT_EQ(std::string("-32767\0", 7), Bytes(two, 48, 7));

    Record extra = Call("Y");
    EXPECT_EQ(0x40, extra[0]);
    EXPECT_EQ("0123456789", Bytes(extra, 5, 10));
    EXPECT_EQ(0xFFFFFFFEu, Little32(extra.data() + 15));

    Record eight = Call("Z");
    EXPECT_EQ(0x18, eight[0]);
    EXPECT_EQ(2, eight[47]);
    EXPECT_EQ(std::string("12,ABC\0", 7), Bytes(eight, 48, 7));

    EXPECT_EQ((std::vector<std::string>{
                  "reply flags=0x11 kind=1 textlength=1 text=\"2\"",
                  "reply flags=0x92 key=\"*E*\" kind=2 textlength=6 text=\"-32767\"",
                  "reply flags=0x40 extratext=\"0123456789\" extravalue=-2",
                  "reply flags=0x18 kind=8 textlength=2 text=\"12,ABC\"",
              }),
              workspace.Lines("reply"));
}

TEST(Reply, KindFivePointerLiesBelowFourGiBAndStaysAlive)
{
    Workspace workspace;
    Start(workspace, "DFTOCS => kind=5 pointer=\"12,FEN,OBJ.PRO,Division par z\\xE9ro\" pointerint=12\n"
                     "DFTOCS => pointer=null\n");
    Record reply = Call("DFTOCS");
    EXPECT_EQ(0x15, reply[0]);
    const uint32_t address = Little32(reply.data() + 5);
    ASSERT_NE(0u, address);
    EXPECT_EQ(12u, Little32(reply.data() + 9));
    Record unused{};
    Engine().FinInstance(unused.data());
    // The launcher reads it through a 32-bit address, after the engine call.
    const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
    EXPECT_STREQ("12,FEN,OBJ.PRO,Division par z\xE9ro", text);

    Block block = WellFormedBlock();
    Engine().OV4InitInstance(unused.data(), block.data());
    Record null = Call("DFTOCS");
    EXPECT_EQ(0x15, null[0]);
    EXPECT_EQ(0u, Little32(null.data() + 5));
    EXPECT_EQ((std::vector<std::string>{
                  "reply flags=0x15 kind=5 textlength=0 text=\"\" pointer=\"12,FEN,OBJ.PRO,Division par z\\xE9ro\" "
                  "pointerint=12",
                  "reply flags=0x15 kind=5 textlength=0 text=\"\" pointer=null pointerint=0",
              }),
              workspace.Lines("reply"));
}

TEST(Reply, RawControlWritesOddReplies)
{
    Workspace workspace;
    const std::string longText(205, 'x');
    Start(workspace, "A => kind=0 text=\"abc\" textlength=250 flags=0x93\n"
                     "B => clear set[19]=\"odd\" set[47]=0xFF set[0]=0x10\n"
                     "C => kind=8 number=1 text=\"" +
                         longText + "\"\n");
    Record a = Call("A");
    EXPECT_EQ(0x93, a[0]);
    EXPECT_EQ(250, a[47]);
    EXPECT_EQ("abc", Bytes(a, 48, 3));

    Record b = Call("B");
    EXPECT_EQ(0x10, b[0]);
    EXPECT_EQ(0, b[1]);
    EXPECT_EQ("odd", Bytes(b, 19, 3));
    EXPECT_EQ(0xFF, b[47]);

    // Number, separator and text fill the Text field: no NUL ends it.
    Record c = Call("C");
    EXPECT_EQ("1," + longText, Bytes(c, 48, 207));
    EXPECT_EQ('x', c[254]);
}

TEST(Transcript, CommandTextIsQuotedWithEscapes)
{
    Workspace workspace;
    Start(workspace, "");
    Call("INFO,z\xE9ro\nsuite \"q\" \\ \t\x01\x7F");
    EXPECT_EQ(std::vector<std::string>{"call \"INFO,z\\xE9ro\\nsuite \\\"q\\\" \\\\ \\t\\x01\\x7F\""},
              workspace.Lines("call"));
}

TEST(Transcript, RequestsAndInstancesOutOfOrderAreFaults)
{
    Workspace workspace;
    workspace.UseScript("");
    Record record = Request("ENVI,1");
    Engine().OVCALLC(record.data());
    Engine().FinInstance(record.data());
    Block block = WellFormedBlock();
    Engine().OV4InitInstance(record.data(), block.data());
    Engine().OV4InitInstance(record.data(), block.data());

    Record dirty = Request("FERM");
    dirty[200] = 'z';
    Engine().OVCALLC(dirty.data());
    Record unterminated;
    unterminated.fill('a');
    Engine().OVCALLC(unterminated.data());
    Engine().AffTexteLongC();

    EXPECT_EQ((std::vector<std::string>{
                  "fault \"call without a started instance\"",
                  "fault \"stop without a started instance\"",
                  "fault \"start while an instance is running\"",
                  "fault \"request: byte 200 after the command text is not zero\"",
                  "fault \"request: no NUL ends the command text inside the record\"",
              }),
              workspace.Lines("fault"));
    // The second start sees the record the last call left.
    EXPECT_EQ((std::vector<std::string>{"start record=used", "start result=1", "start record=used", "start result=1"}),
              workspace.Lines("start"));
    EXPECT_EQ("afftextelongc", workspace.Transcript().back());
}
