// The command channel's own formatting and number reading give what the C
// library gives: every command text equals vsnprintf's, every number read
// from a reply equals atoi's or atof's of the number text (its first 40
// characters, up to a NUL), bit for bit, for fixed awkward cases and for
// thousands of generated ones.
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "engine/command_channel.h"
#include "launcher/text.h"
#include "test_support.h"

using fake::Reply;
using fake::state;

namespace {

std::string Printf(const char* format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text; // a NUL that %c put there ends the command, as in the record
}

// The number text as the decoder is to read it.
std::string NumberText(const std::string& text) { return std::string(text.c_str()).substr(0, 40); }

uint64_t Bits(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Puts a reply with the given kind and Text bytes in the record, decodes it.
void Decode(int kind, const std::string& text)
{
    std::memset(CommandRecord.Bytes, 0, sizeof CommandRecord.Bytes);
    CommandRecord.Bytes[0] = static_cast<unsigned char>(0x10 | kind);
    CommandRecord.Bytes[47] = static_cast<unsigned char>(text.size() < 207 ? text.size() : 207);
    std::memcpy(CommandRecord.Bytes + 48, text.data(), text.size() < 207 ? text.size() : 207);
    DecodeReply();
}

void ExpectReadsLikeTheLibrary(const std::string& text)
{
    const std::string number = NumberText(text);
    Decode(4, text);
    EXPECT_EQ(Bits(std::atof(number.c_str())), Bits(CommandResult.DoubleResult)) << "kind 4, text \"" << text << '"';
    Decode(2, text);
    EXPECT_EQ(ReadDecimal(number.c_str()), CommandResult.LongResult) << "kind 2, text \"" << text << '"';
    // strtol, held to the 32-bit range.
    const long long wide = std::strtoll(number.c_str(), nullptr, 10);
    const long long held = wide > INT32_MAX ? INT32_MAX : wide < INT32_MIN ? INT32_MIN : wide;
    EXPECT_EQ(held, CommandResult.LongResult) << "kind 2 against strtoll, text \"" << text << '"';
}

// Decimal texts in the shapes the fast path takes and the ones it must
// leave to the library.
std::string GeneratedNumber(std::mt19937& random)
{
    static const char* const kPrefixes[] = {"", "", "", "-", "+", " ", "\t-", "  +", "\n"};
    static const char* const kSuffixes[] = {"", "", "", ",ABC", "e5", "E-3", "x", ".", "e", " 7", "\xE9"};
    std::uniform_int_distribution<int> count(0, 24);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> pick(0, 99);
    std::string text = kPrefixes[pick(random) % (sizeof kPrefixes / sizeof kPrefixes[0])];
    const int whole = count(random);
    for (int i = 0; i < whole; ++i)
        text += static_cast<char>('0' + digit(random));
    if (pick(random) < 70) {
        text += '.';
        const int fraction = count(random);
        for (int i = 0; i < fraction; ++i)
            text += static_cast<char>('0' + digit(random));
    }
    return text + kSuffixes[pick(random) % (sizeof kSuffixes / sizeof kSuffixes[0])];
}

} // namespace

class ChannelEquivalence : public FakeTest {};

TEST_F(ChannelEquivalence, NumbersReadAsTheLibraryReadsThem)
{
    const char* const cases[] = {"0",
                                 "-0",
                                 "-0.0",
                                 "+0.000",
                                 "3.14159",
                                 "-12.7",
                                 "0.1",
                                 "0.3",
                                 "1.",
                                 ".5",
                                 "-.5",
                                 ".",
                                 "-",
                                 "",
                                 "abc",
                                 "  42",
                                 "\t\v\f\r\n 7",
                                 "12,ABC",
                                 "1e3",
                                 "1E+3",
                                 "2.5e-3",
                                 "1e",
                                 "1e+",
                                 "0x1A",
                                 "0X1p3",
                                 "-0x10",
                                 "inf",
                                 "-INF",
                                 "infinity",
                                 "nan",
                                 "NAN(123)",
                                 "9007199254740992",
                                 "9007199254740993",
                                 "9007199254740993.0",
                                 "900719925474099.3",
                                 "1234567890123456789",
                                 "12345678901234567890",
                                 "1234567890.123456789",
                                 "0.0000000000000000001",
                                 "0.00000000000000000001",
                                 "00000000000000000000000000000001.5",
                                 "2147483647",
                                 "2147483648",
                                 "-2147483648",
                                 "-2147483649",
                                 "99999999999999999999999",
                                 "4294967296",
                                 "179769313486231570000000000000000000000.0",
                                 "32767",
                                 "-32768",
                                 "40000",
                                 "1.7976931348623157e308",
                                 "123456789012345678901234567890123456789012345",
                                 "0000000000000000000000000000000000000000001",
                                 "         1234567890123456789012345678901234567890",
                                 "1.5\xE9",
                                 "7\x01",
                                 "12\0"
                                 "34"};
    for (const char* text : cases)
        ExpectReadsLikeTheLibrary(text);
    ExpectReadsLikeTheLibrary(std::string("12\0"
                                          "34",
                                          5));

    std::mt19937 random(20240611);
    for (int i = 0; i < 20000; ++i)
        ExpectReadsLikeTheLibrary(GeneratedNumber(random));
}

TEST_F(ChannelEquivalence, RealsBetweenTheNeighboursOfRoundingCases)
{
    // Values of 15 to 17 significant digits around halfway points are where
    // a sloppy conversion rounds the wrong way.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> magnitude(-8, 8);
    for (int i = 0; i < 5000; ++i) {
        const double value = std::pow(10.0, magnitude(random));
        char text[64];
        for (int precision : {15, 16, 17}) {
            const int decimals = precision - 1 - static_cast<int>(std::floor(std::log10(value)));
            std::snprintf(text, sizeof text, "%.*f", decimals > 0 ? decimals : 0, value);
            ExpectReadsLikeTheLibrary(text);
        }
    }
}

TEST_F(ChannelEquivalence, KindsOneThreeAndEightReadTheSameNumber)
{
    for (const char* text : {"12", "-12.7", "40000", "  -5,X", "3e2", "0x10", "1.99999999999999999999"}) {
        const std::string number = NumberText(text);
        Decode(1, text);
        EXPECT_EQ(ReadDecimal(number.c_str()), CommandResult.IntResult) << text;
        EXPECT_EQ(static_cast<float>(ReadDecimal(number.c_str())), CommandResult.FloatResult) << text;
        Decode(3, text);
        const double value = std::atof(number.c_str());
        EXPECT_EQ(static_cast<float>(value), CommandResult.FloatResult) << text;
        Decode(8, text);
        EXPECT_EQ(ReadDecimal(number.c_str()), CommandResult.IntResult) << text;
    }
}

TEST_F(ChannelEquivalence, CommandTextsAreWhatVsnprintfWrites)
{
    const char* const key = "*M*";
    const char* const empty = "";
    const std::string directory(200, 'd');
    const std::string exact(240, 'e');
    SendCommand("ECRAN,SAISIE");
    SendCommand("INFO,OVTouche=%s", key);
    SendCommand("info,Option de menu sans code (OVTouche = \"%s\").", key);
    SendCommand("OUVRE,%s%c_OV_GO.OVW /RE", directory.c_str(), '/');
    SendCommand("%s%s%%%c%s", empty, key, 'z', "\xE9t\xE9");
    SendCommand("100%% s%c%s", 0, "after the NUL");
    SendCommand("%s", exact.c_str());
    SendCommand("ENVI,%lu", 4096UL);
    SendCommand("A%5sB%-3cC%.2s", "x", 'y', "zzz");
    SendCommand("N%dM%uL%x", -7, 8u, 255u);
    const char* volatile none = nullptr; // out of the compiler's sight
    SendCommand("%s", none);
    EXPECT_EQ((std::vector<std::string>{
                  "ECRAN,SAISIE",
                  Printf("INFO,OVTouche=%s", key),
                  Printf("info,Option de menu sans code (OVTouche = \"%s\").", key),
                  Printf("OUVRE,%s%c_OV_GO.OVW /RE", directory.c_str(), '/'),
                  Printf("%s%s%%%c%s", empty, key, 'z', "\xE9t\xE9"),
                  Printf("100%% s%c%s", 0, "after the NUL"),
                  exact,
                  "ENVI,4096",
                  Printf("A%5sB%-3cC%.2s", "x", 'y', "zzz"),
                  Printf("N%dM%uL%x", -7, 8u, 255u),
                  Printf("%s", none),
              }),
              Commands());
}

TEST_F(ChannelEquivalence, TooLongTextsCountEveryCharacterBeforeTheNotice)
{
    // Formatted here or by vsnprintf, the notice gives the whole length.
    const std::string half(150, 'h');
    SendCommand("%s%s", half.c_str(), half.c_str());
    SendCommand("%s%c%s", half.c_str(), 'c', half.c_str());
    SendCommand("%s%s%d", half.c_str(), half.c_str(), 123456789);
    SendCommand("%s", std::string(254, 'p').c_str());
    SendCommand("%s%c", std::string(254, 'p').c_str(), 'q');
    const std::string plain(300, 'x');
    SendCommand(plain.c_str());
    EXPECT_EQ((std::vector<std::string>{
                  "INFO,Commande trop longue pour le moteur (300 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (301 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (309 caract\xE8res, 254 au plus).",
                  std::string(254, 'p'),
                  "INFO,Commande trop longue pour le moteur (255 caract\xE8res, 254 au plus).",
                  "INFO,Commande trop longue pour le moteur (300 caract\xE8res, 254 au plus).",
              }),
              Commands());
}
