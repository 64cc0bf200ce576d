// The request record and the decoding of every kind of reply into
// CommandResult, stale fields and bounded copies included.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/launch_context.h"
#include "engine/command_channel.h"
#include "test_support.h"

using fake::Reply;
using fake::state;

class ReplyTest : public FakeTest {
  protected:
    void Send(const Reply& reply)
    {
        state.replies.push_back(reply);
        SendCommand("CMD");
    }
};

TEST_F(ReplyTest, RequestIsTheTextThenZeros)
{
    state.replies = {Reply::KeyAndText("RET", 1, std::string(200, '7'))};
    SendCommand("LONG");
    SendCommand("AB%d", 12);
    std::vector<unsigned char> expected(kCommandRecordSize, 0);
    std::memcpy(expected.data(), "AB12", 4);
    ASSERT_EQ(2u, state.requests.size());
    EXPECT_EQ(expected, state.requests[1]); // nothing of the previous reply is left
}

TEST_F(ReplyTest, CommandOf254CharactersFitsAndLongerOnesAreRefused)
{
    SendCommand("%s", std::string(254, 'a').c_str());
    ASSERT_EQ(1u, Commands().size());
    EXPECT_EQ(254u, Commands()[0].size());
    EXPECT_EQ('a', state.requests[0][253]);
    EXPECT_EQ(0, state.requests[0][254]);

    state.replies = {Reply::KeyAndText("RET", 1, "3")};
    SendCommand("X");
    state.replies = {Reply::KeyAndText("ZZZ", 1, "99")}; // the notice's own reply
    SendCommand("%s", std::string(255, 'b').c_str());
    LaunchContext.English = 1;
    SendCommand("OUVRE,%s", std::string(300, 'c').c_str());
    EXPECT_EQ((std::vector<std::string>{std::string(254, 'a'), "X",
                                        "INFO,Commande trop longue pour le moteur (255 caract\xE8res, 254 au plus).",
                                        "INFO,Command too long for the engine (306 characters, 254 at most)."}),
              Commands());
    EXPECT_STREQ("RET", CommandResult.KeyName);
    EXPECT_EQ(3, CommandResult.IntResult);
}

TEST_F(ReplyTest, TooLongTextsCountEveryCharacterBeforeTheNotice)
{
    const std::string half(150, 'h');
    SendCommand("%s%c%s", half.c_str(), 'c', half.c_str());
    SendCommand("%s%s%d", half.c_str(), half.c_str(), 123456789);
    SendCommand("%s%c", std::string(254, 'p').c_str(), 'q');
    SendCommand("%s%c%s", half.c_str(), 0, half.c_str()); // the NUL counts too
    SendCommand(std::string(300, 'x').c_str());
    EXPECT_EQ((std::vector<std::string>{
                  "INFO,Commande trop longue pour le moteur (301 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (309 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (255 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (301 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (300 caract\xE8res, 254 au plus).",
              }),
              Commands());
}

TEST_F(ReplyTest, NulFormattedIntoTheTextEndsTheCommand)
{
    SendCommand("100%% s%c%s", 0, "after the NUL");
    ASSERT_EQ(1u, state.requests.size());
    std::vector<unsigned char> expected(kCommandRecordSize, 0);
    std::memcpy(expected.data(), "100% s", 6);
    EXPECT_EQ(expected, state.requests[0]);
}

TEST_F(ReplyTest, FormatEndingInALonePercentReadsNothingPastItsEnd)
{
    // Exactly as long as the text: under the sanitizers a read past the
    // NUL fails the test. Whatever is sent comes from the format alone.
    const char kFormat[] = "INFO,50%";
    std::unique_ptr<char[]> format(new char[sizeof kFormat]);
    std::memcpy(format.get(), kFormat, sizeof kFormat);
    SendCommand(format.get());
    for (const std::string& command : Commands())
        EXPECT_EQ(0u, std::string(kFormat).rfind(command, 0)) << command;
}

TEST_F(ReplyTest, FlagsZeroChangesOnlyThePointer)
{
    Send(Reply::KeyAndText("ESC", 1, "17"));
    Send(Reply());
    EXPECT_STREQ("ESC", CommandResult.KeyName);
    EXPECT_STREQ("17", CommandResult.TextResult);
    EXPECT_EQ(17, CommandResult.IntResult);
    EXPECT_EQ(nullptr, CommandResult.PointerResult);
}

TEST_F(ReplyTest, PointerIsNullAfterEveryCommandThatDoesNotSetIt)
{
    Reply pointer = Reply::Text(5, "");
    pointer.pointerValue = 0x12345678u;
    pointer.pointerInt = -7;
    Send(pointer);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(0x12345678u)), CommandResult.PointerResult);
    EXPECT_EQ(-7, CommandResult.IntResult);
    Send(Reply::Key("RET"));
    EXPECT_EQ(nullptr, CommandResult.PointerResult);

    // Kind 5 without the text bit decodes nothing.
    Reply bare;
    bare.flags = 5;
    bare.pointerValue = 0x1000;
    bare.pointerInt = 99;
    Send(bare);
    EXPECT_EQ(nullptr, CommandResult.PointerResult);
    EXPECT_EQ(-7, CommandResult.IntResult);
}

TEST_F(ReplyTest, KeyNameAndExtraFieldsAreCutAndTerminated)
{
    Reply reply = Reply::Key("");
    reply.edit = [](unsigned char* record) {
        record[0] = 0x80 | 0x40;
        std::memcpy(record + 2, "ABCDEFGHIJKLMNOPQ", 13); // key and extra text run on
        const int32_t value = -123456;
        std::memcpy(record + 15, &value, 4);
    };
    Send(reply);
    EXPECT_STREQ("ABC", CommandResult.KeyName);
    EXPECT_STREQ("DEFGHIJKLM", CommandResult.ExtraText);
    EXPECT_EQ(-123456, CommandResult.ExtraValue);

    Send(Reply::Key("Z")); // a shorter name ends with NUL
    EXPECT_STREQ("Z", CommandResult.KeyName);
    Send(Reply::Text(0, "no key bit"));
    EXPECT_STREQ("Z", CommandResult.KeyName);
    EXPECT_STREQ("DEFGHIJKLM", CommandResult.ExtraText);
}

TEST_F(ReplyTest, ExtraAndPointerReadTheSameBytes)
{
    Reply reply = Reply::Text(5, "");
    reply.flags |= 0x40;
    reply.pointerValue = 0x41424344u; // "DCBA" in little-endian bytes
    reply.pointerInt = 0x00474645;    // "EFG"
    Send(reply);
    EXPECT_STREQ("DCBAEFG", CommandResult.ExtraText);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(0x41424344u)), CommandResult.PointerResult);
    EXPECT_EQ(0x00474645, CommandResult.IntResult);
}

TEST_F(ReplyTest, Kind1ReadsAnInteger)
{
    Send(Reply::Text(1, "  -42xyz"));
    EXPECT_EQ(-42, CommandResult.IntResult);
    EXPECT_FLOAT_EQ(-42.0f, CommandResult.FloatResult);
    Send(Reply::Text(1, "A12"));
    EXPECT_EQ(0, CommandResult.IntResult);
    EXPECT_FLOAT_EQ(0.0f, CommandResult.FloatResult);
    EXPECT_STREQ("A12", CommandResult.TextResult);
}

TEST_F(ReplyTest, Kind2SetsIntResultOnlyInsideTheOpenRange)
{
    struct Case {
        const char* text;
        int32_t longResult;
        int32_t intResult;
    } cases[] = {{"32767", 32767, 11},
                 {"-32767", -32767, -32767},
                 {"-32768", -32768, 11},
                 {"32766", 32766, 32766},
                 {"100000", 100000, 11}};
    Send(Reply()); // the engine's start resets the results
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CommandResult.IntResult = 11;
        Send(Reply::Text(2, c.text));
        EXPECT_EQ(c.longResult, CommandResult.LongResult);
        EXPECT_DOUBLE_EQ(c.longResult, CommandResult.DoubleResult);
        EXPECT_EQ(c.intResult, CommandResult.IntResult);
    }
}

TEST_F(ReplyTest, IntegersBeyond32BitsAreHeldAtTheEnds)
{
    for (int kind : {1, 2, 8}) {
        SCOPED_TRACE(kind);
        Send(Reply::Text(kind, "2147483648"));
        EXPECT_EQ(INT32_MAX, kind == 2 ? CommandResult.LongResult : CommandResult.IntResult);
        Send(Reply::Text(kind, " -99999999999999999999999"));
        EXPECT_EQ(INT32_MIN, kind == 2 ? CommandResult.LongResult : CommandResult.IntResult);
    }
}

TEST_F(ReplyTest, Kind3TruncatesTowardZeroWithinRange)
{
    CommandResult.IntResult = 5;
    Send(Reply::Text(3, "-12.7"));
    EXPECT_FLOAT_EQ(-12.7f, CommandResult.FloatResult);
    EXPECT_EQ(-12, CommandResult.IntResult);
    Send(Reply::Text(3, "40000"));
    EXPECT_FLOAT_EQ(40000.0f, CommandResult.FloatResult);
    EXPECT_EQ(-12, CommandResult.IntResult);
    Send(Reply::Text(3, "-32768"));
    EXPECT_EQ(-12, CommandResult.IntResult);
    Send(Reply::Text(3, "1e300")); // beyond single precision: no undefined conversion
    EXPECT_TRUE(std::isinf(CommandResult.FloatResult));
    EXPECT_EQ(-12, CommandResult.IntResult);
}

TEST_F(ReplyTest, Kind4ReadsADouble)
{
    Send(Reply::Text(4, "3.25e2 rest"));
    EXPECT_DOUBLE_EQ(325.0, CommandResult.DoubleResult);
}

TEST_F(ReplyTest, NumberTextIsCutAfter40Characters)
{
    // 40 characters of digits followed by more: the number stops at 40.
    Send(Reply::Text(2, std::string(36, '0') + "1234" + "5678"));
    EXPECT_EQ(1234, CommandResult.LongResult);
}

TEST_F(ReplyTest, ZeroTextLengthStillReadsTheNumber)
{
    Reply reply = Reply::Text(1, "77");
    reply.textLength = 0;
    Send(reply);
    EXPECT_STREQ("", CommandResult.TextResult);
    EXPECT_EQ(77, CommandResult.IntResult);
}

TEST_F(ReplyTest, Kind8CarriesANumberThenAText)
{
    Reply reply = Reply::Text(8, "12,ABC");
    reply.textLength = 2;
    Send(reply);
    EXPECT_EQ(12, CommandResult.IntResult);
    EXPECT_STREQ("ABC", CommandResult.TextResult);

    Reply alone = Reply::Text(8, "12");
    Send(alone);
    EXPECT_EQ(12, CommandResult.IntResult);
    EXPECT_STREQ("", CommandResult.TextResult);
}

TEST_F(ReplyTest, OverlongLengthsAreHeldToTheRecord)
{
    Reply reply = Reply::Text(0, "");
    reply.edit = [](unsigned char* record) {
        std::memset(record + 48, 'x', 207);
        record[47] = 255;
    };
    Send(reply);
    EXPECT_EQ(std::string(207, 'x'), CommandResult.TextResult);

    // A kind 8 text that runs to the end of the record without a NUL.
    Reply kind8 = Reply::Text(8, "");
    kind8.edit = [](unsigned char* record) {
        std::memset(record + 48, 'y', 207);
        record[48] = '5';
        record[47] = 1;
    };
    Send(kind8);
    EXPECT_EQ(5, CommandResult.IntResult);
    EXPECT_EQ(std::string(205, 'y'), CommandResult.TextResult);

    // A kind 8 length that puts the text past the record.
    Reply past = Reply::Text(8, "9");
    past.textLength = 220;
    Send(past);
    EXPECT_STREQ("", CommandResult.TextResult);
    EXPECT_EQ(9, CommandResult.IntResult);
}
