// How ovrun prints the launcher's error report: the Windows-1252 decoding,
// the compiler-style line and the JSON object.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "report.h"

namespace {

// The one code point of a UTF-8 sequence; -1 when the bytes are not exactly
// one well-formed, shortest-form character.
long DecodeOne(const std::string& utf8)
{
    if (utf8.empty()) return -1;
    const unsigned char lead = static_cast<unsigned char>(utf8[0]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 0;
    if (length == 0 || utf8.size() != length) return -1;
    long c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : (lead & 0x0F);
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(utf8[i]);
        if ((next >> 6) != 0x2) return -1;
        c = (c << 6) | (next & 0x3F);
    }
    const long smallest[] = {0, 0, 0x80, 0x800};
    return c < smallest[length] ? -1 : c;
}

ErrorReport SampleReport()
{
    ErrorReport report;
    report.Values[kCr] = "*E*";
    report.Values[kLine] = "12";
    report.Values[kColumn] = "0";
    report.Values[kProcedure] = "BTN_OK.PRO";
    report.Values[kMessage] = "Division \xF5par z\xE9ro\xF5";
    report.Values[kWindow] = "CLIENTS";
    report.Values[kObject] = "BTN_OK.PRO";
    report.Values[kObjectType] = "1";
    return report;
}

TEST(Windows1252, EveryByteIsOneDistinctCharacter)
{
    std::set<long> seen;
    for (int byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        const long c = DecodeOne(Utf8FromWindows1252(one, false));
        ASSERT_NE(c, -1) << "byte " << byte;
        EXPECT_TRUE(seen.insert(c).second) << "byte " << byte << " shares U+" << std::hex << c;
        // Outside 0x80..0x9F the page is Latin-1.
        if (byte < 0x80 || byte >= 0xA0) {
            EXPECT_EQ(c, byte) << "byte " << byte;
        }
    }
}

TEST(Windows1252, TheUpperControlRangeAsWindowsDecodesIt)
{
    const struct {
        unsigned char Byte;
        long Expected;
    } cases[] = {
        {0x80, 0x20AC}, {0x81, 0x0081}, {0x85, 0x2026}, {0x8A, 0x0160}, {0x8D, 0x008D}, {0x8F, 0x008F},
        {0x90, 0x0090}, {0x92, 0x2019}, {0x96, 0x2013}, {0x99, 0x2122}, {0x9D, 0x009D}, {0x9F, 0x0178},
    };
    for (const auto& row : cases)
        EXPECT_EQ(DecodeOne(Utf8FromWindows1252(std::string(1, static_cast<char>(row.Byte)), false)), row.Expected)
            << std::hex << int(row.Byte);
}

TEST(Windows1252, StoredLineFeedsOnlyWhenAsked)
{
    EXPECT_EQ(Utf8FromWindows1252("a\xF5"
                                  "b",
                                  false),
              "a\xC3\xB5"
              "b");
    EXPECT_EQ(Utf8FromWindows1252("a\xF5"
                                  "b",
                                  true),
              "a\nb");
    EXPECT_EQ(Utf8FromWindows1252("caf\xE9 \x80", true), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(Report, OnlyTheErrorMarkerCountsAsARuntimeError)
{
    ErrorReport report;
    EXPECT_FALSE(IsRuntimeError(report));
    for (const char* other : {"*e*", "*E", "*E* ", "E"}) {
        report.Values[kCr] = other;
        EXPECT_FALSE(IsRuntimeError(report)) << other;
    }
    report.Values[kCr] = "*E*";
    EXPECT_TRUE(IsRuntimeError(report));
}

TEST(Report, CompilerStyleLine)
{
    EXPECT_EQ(CompilerStyleLine(SampleReport()),
              "BTN_OK.PRO:12:0: error: Division \npar z\xC3\xA9ro\n [window CLIENTS, type 1]\n");

    // A window name keeps 0xF5 as a letter; absent keys leave their places empty.
    ErrorReport sparse;
    sparse.Values[kCr] = "*E*";
    sparse.Values[kLine] = "-25536";
    sparse.Values[kColumn] = "0";
    sparse.Values[kWindow] = "S\xF5O";
    sparse.Values[kObjectType] = "2";
    EXPECT_EQ(CompilerStyleLine(sparse), ":-25536:0: error:  [window S\xC3\xB5O, type 2]\n");
}

TEST(Report, JsonHoldsEveryKeyInOrder)
{
    EXPECT_EQ(ReportJson(SampleReport()),
              "{\"CR\":\"*E*\",\"NLIGNE\":\"12\",\"NCOL\":\"0\",\"NOMPROC\":\"BTN_OK.PRO\","
              "\"MESSAGE\":\"Division \\npar z\xC3\xA9ro\\n\",\"NOMFEN\":\"CLIENTS\",\"NOMOBJET\":\"BTN_OK.PRO\","
              "\"TYPEOBJET\":\"1\"}\n");
    EXPECT_EQ(ReportJson(ErrorReport()), "{\"CR\":\"\",\"NLIGNE\":\"\",\"NCOL\":\"\",\"NOMPROC\":\"\","
                                         "\"MESSAGE\":\"\",\"NOMFEN\":\"\",\"NOMOBJET\":\"\",\"TYPEOBJET\":\"\"}\n");
}

TEST(Report, JsonEscapesWhatAStringCannotHold)
{
    ErrorReport report;
    report.Values[kMessage] = "q\"b\\t\tc\rd\x01\x1F\x7F\x81\xF5";
    report.Values[kWindow] = "\"\xF5\x9D";
    const std::string json = ReportJson(report);
    EXPECT_NE(json.find("\"MESSAGE\":\"q\\\"b\\\\t\\tc\\rd\\u0001\\u001F\\u007F\\u0081\\n\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"NOMFEN\":\"\\\"\xC3\xB5\\u009D\""), std::string::npos) << json;
    // One line: no raw control byte is left.
    for (size_t i = 0; i + 1 < json.size(); ++i)
        EXPECT_GE(static_cast<unsigned char>(json[i]), 0x20) << "at " << i << ": " << json;
}

} // namespace
