// The handoff of a runtime error: the question, the description split into
// its fields with the defaults, the object type, the engine stopped before
// the report is written, the report's keys in order, the cleaned message,
// descriptions longer than every place, and the field and byte helpers.
#include <sys/mman.h>

#include <cstring>

#include "common/launch_context.h"
#include "common/settings.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "modes/modes.h"
#include "test_support.h"
#include "text_and_bytes.h"

using fake::Reply;
using fake::state;

namespace {

const char kWriteFailed[] = "INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko";

const unsigned char kGuard = 0xA5;

// The caller's places, each followed by guard bytes that must stay intact.
struct Places {
    char window[kErrorWindowNameCapacity];
    unsigned char afterWindow[64];
    char object[kErrorObjectNameCapacity];
    unsigned char afterObject[64];
    int16_t type;
    unsigned char afterType[64];
};

// The report as written: "KEY=value" for a write, "KEY removed" for a key
// whose value was empty, in the order of the writes.
std::vector<std::string> Report()
{
    const std::string write = "Write Orvane.ini TEST ", remove = "Delete Orvane.ini TEST ";
    std::vector<std::string> lines;
    for (const auto& line : state.log) {
        if (line.compare(0, write.size(), write) == 0) lines.push_back(line.substr(write.size()));
        if (line.compare(0, remove.size(), remove) == 0) lines.push_back(line.substr(remove.size()) + " removed");
    }
    return lines;
}

std::string Key(const std::string& key, const std::string& value)
{
    return value.empty() ? key + " removed" : key + "=" + value;
}

std::vector<std::string> ReportOf(int line, const std::string& window, const std::string& object,
                                  const std::string& message, int type)
{
    return {"CR=*E*",
            "NLIGNE=" + std::to_string(line),
            "NCOL=0",
            Key("NOMPROC", object),
            Key("MESSAGE", message),
            Key("NOMFEN", window),
            Key("NOMOBJET", object),
            "TYPEOBJET=" + std::to_string(type)};
}

// A text at an address below 4 GiB, as the engine hands out through a
// 32-bit pointer; released with the object.
class LowText {
  public:
    explicit LowText(const std::string& text) : size_(text.size() + 1)
    {
        void* memory = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_32BIT | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;
        address_ = static_cast<char*>(memory);
        std::memcpy(address_, text.c_str(), size_);
    }
    ~LowText()
    {
        if (address_ != nullptr) munmap(address_, size_);
    }
    LowText(const LowText&) = delete;
    LowText& operator=(const LowText&) = delete;

    bool Ok() const { return address_ != nullptr && reinterpret_cast<uintptr_t>(address_) <= 0xFFFFFFFFu; }
    uint32_t Address() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address_)); }

  private:
    size_t size_;
    char* address_ = nullptr;
};

Reply PointerReply(const LowText& text, const std::string& inlineText = "")
{
    Reply reply = Reply::Text(5, inlineText);
    reply.pointerValue = text.Address();
    return reply;
}

class HandoffTest : public FakeTest {
  protected:
    void SetUp() override
    {
        FakeTest::SetUp();
        std::strcpy(SettingsFileName, "Orvane.ini");
        std::strcpy(LaunchContext.EditorMarker, "EDITEUR");
        std::memset(&places, kGuard, sizeof places);
    }

    // Answers yes and gives the description; returns the commands sent.
    std::vector<std::string> Handoff(const Reply& description)
    {
        state.replies = {Reply::Text(0, "O"), description};
        ErrorHandoff(places.window, places.object, &places.type);
        EXPECT_TRUE(state.replies.empty()) << "replies left unused";
        return Commands();
    }
    std::vector<std::string> Handoff(const std::string& description) { return Handoff(Reply::Text(0, description)); }

    void ExpectGuardsIntact()
    {
        for (unsigned char byte : places.afterWindow)
            ASSERT_EQ(kGuard, byte) << "written past the window name";
        for (unsigned char byte : places.afterObject)
            ASSERT_EQ(kGuard, byte) << "written past the object name";
        for (unsigned char byte : places.afterType)
            ASSERT_EQ(kGuard, byte) << "written past the object type";
    }

    Places places;
};

TEST_F(HandoffTest, DescriptionGivesTheReport)
{
    struct Case {
        const char* description;
        int line;
        const char* window;
        const char* object;
        const char* message;
        int type;
    } cases[] = {
        {"12,FEN,OBJ.PRO,Message", 12, "FEN", "OBJ.PRO", "Message", 1},
        {"7,proj.ovp,MYPROC.PRO,x", 7, "PROJ.OVP", "MYPROC.PRO", "x", 14},
        {"7,proj.ovp,X.INP,x", 7, "proj.ovp", "X.INP", "x", 1},
        {"3,<AUCUN>,A.ENT,m", 3, "<AUCUN>", "A.ENT", "m", 3},
        {"3,<MAIN>,m", 3, "<MAIN>", "<MAIN>", "m", 2},
        {"3,<MAIN>,m,rest", 3, "<MAIN>", "<MAIN>", "m", 2},
        {"3,<AUCUN,m", 3, "<AUCUN", "<AUCUN", "m", 2},
        {"3,<AUCUN>x,O.ENT,m", 3, "<AUCUN>x", "<AUCUN>x", "O.ENT", 2},
        {"4,<X>", 4, "<X>", "<X>", "Erreur ligne 4", 2},
        {"5", 5, " ", ".INF", "Erreur ligne 5", 0},
        {"5,FEN", 5, "FEN", ".INF", "Erreur ligne 5", 0},
        {"5,FEN,OBJ", 5, "FEN", "OBJ", "Erreur ligne 5", 2},
        {"5,FEN,OBJ,", 5, "FEN", "OBJ", "Erreur ligne 5", 2},
        {"5,FEN,,m", 5, "FEN", "", "m", 2},
        {"5,FEN,OBJ,a, b", 5, "FEN", "OBJ", "a", 2},
        {"1,F,X.INFO,m", 1, "F", "X.INFO", "m", 0},
        {"1,F,A.PRO.ENT,m", 1, "F", "A.PRO.ENT", "m", 1},
        {"1,F,a.pro,m", 1, "F", "a.pro", "m", 2},
        {"4,,OBJ,m", 4, " ", "OBJ", "m", 2},
        {"", 0, " ", ".INF", "Erreur ligne 0", 0},
        {",,,", 0, " ", "", "Erreur ligne 0", 2},
        // The line: atoi's reading, then the signed value of its low 16 bits.
        {"40000,F,O,m", -25536, "F", "O", "m", 2},
        {"40000,F,O", -25536, "F", "O", "Erreur ligne -25536", 2},
        {"70000,F,O", 4464, "F", "O", "Erreur ligne 4464", 2},
        {"32767,F,O,m", 32767, "F", "O", "m", 2},
        {"32768,F,O,m", -32768, "F", "O", "m", 2},
        {"65535,F,O,m", -1, "F", "O", "m", 2},
        {"-7,F,O", -7, "F", "O", "Erreur ligne -7", 2},
        {" \t+9x,F,O,m", 9, "F", "O", "m", 2},
        {"x9,F,O,m", 0, "F", "O", "m", 2},
        // The message: trimmed at both ends first, then LF to 0xF5, CR to a space.
        {"9,F,O,  Erreur\r\nsuite ", 9, "F", "O", "Erreur \xF5suite", 2},
        {"9,F,O,\r\n x \n", 9, "F", "O", " \xF5 x \xF5", 2},
        {"9,F,O,   ", 9, "F", "O", "", 2},
        {"9,F,O,\ta\t", 9, "F", "O", "\ta\t", 2},
        {"9,F,O,\xF5\r", 9, "F", "O", "\xF5 ", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        fake::Reset();
        SetUp();
        EXPECT_EQ((std::vector<std::string>{kQuestionFrench, "DFTOCS"}), Handoff(c.description));
        EXPECT_EQ(ReportOf(c.line, c.window, c.object, c.message, c.type), Report());
        EXPECT_STREQ(c.window, places.window);
        EXPECT_STREQ(c.object, places.object);
        EXPECT_EQ(c.type, places.type);
        ExpectGuardsIntact();
    }
}

TEST_F(HandoffTest, ObjectTypeTakesTheFirstGroupThatMatches)
{
    struct Case {
        const char* object;
        int type;
        const char* window; // as reported: upper-cased only when ".PRO" alone matched
    } cases[] = {
        {"X.INP", 1, "w.ovp"},     {"X.PRO", 14, "W.OVP"},     {"X.INF", 0, "w.ovp"},     {"X.FEF", 0, "w.ovp"},
        {"X.PRF", 0, "w.ovp"},     {"X.PEF", 0, "w.ovp"},      {"X.MOD", 0, "w.ovp"},     {"X.REA", 0, "w.ovp"},
        {"X.INI", 3, "w.ovp"},     {"X.ENT", 3, "w.ovp"},      {"X.SOR", 3, "w.ovp"},     {"X.ACC", 3, "w.ovp"},
        {"X.VIS", 3, "w.ovp"},     {"X.LAC", 3, "w.ovp"},      {"X.LIA", 3, "w.ovp"},     {"X", 2, "w.ovp"},
        {"X.INFO", 0, "w.ovp"},    {"A.PRO.ENT", 14, "W.OVP"}, {"a.pro", 2, "w.ovp"},     {"X.Pro", 2, "w.ovp"},
        {"X.ENT.INF", 0, "w.ovp"}, {"X.INF.PRO", 14, "W.OVP"}, {"X.PRO.INP", 1, "w.ovp"}, {"X.INPUT", 1, "w.ovp"},
        {"X.INITIAL", 3, "w.ovp"}, {".PROC", 14, "W.OVP"},     {"XPRO", 2, "w.ovp"},      {"X.OVP", 2, "w.ovp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        fake::Reset();
        SetUp();
        Handoff(std::string("1,w.ovp,") + c.object + ",m");
        EXPECT_EQ(ReportOf(1, c.window, c.object, "m", c.type), Report());
        EXPECT_EQ(c.type, places.type);
    }
}

TEST_F(HandoffTest, ProjectRuleLooksForOvpInTheUpperCasedWindowName)
{
    struct Case {
        const char* description;
        const char* window;
        const char* object;
        int type;
    } cases[] = {
        {"1,a.ovpx,X.PRO,m", "A.OVPX", "X.PRO", 14},
        {"1,ovp,X.PRO,m", "OVP", "X.PRO", 1},
        {"1,\xE9t\xE9.ovp,X.PRO,m", "\xE9T\xE9.OVP", "X.PRO", 14}, // only a to z change
        {"1,<P.PRO.OVP>,m", "<P.PRO.OVP>", "<P.PRO.OVP>", 14},
        {"1,<p.pro.ovp>,m", "<p.pro.ovp>", "<p.pro.ovp>", 2},
        {"1,<F.PRO>,m", "<F.PRO>", "<F.PRO>", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        fake::Reset();
        SetUp();
        Handoff(c.description);
        EXPECT_EQ(ReportOf(1, c.window, c.object, "m", c.type), Report());
    }
}

TEST_F(HandoffTest, AnythingButACapitalOIsANo)
{
    for (const char* answer : {"", "o", "oui", "N", "Non", " O", "\xD4"}) {
        SCOPED_TRACE(answer);
        fake::Reset();
        SetUp();
        state.replies = {Reply::Text(0, answer)};
        ErrorHandoff(places.window, places.object, &places.type);
        EXPECT_EQ(std::vector<std::string>{kQuestionFrench}, Commands());
        EXPECT_TRUE(Report().empty());
        EXPECT_EQ(1, EngineState.Started); // left running for the caller
        // The places are the dispatcher's and stay as they were.
        EXPECT_EQ(static_cast<char>(kGuard), places.window[0]);
        EXPECT_EQ(static_cast<char>(kGuard), places.object[0]);
    }
    for (const char* answer : {"O", "Oui", "OK"}) {
        SCOPED_TRACE(answer);
        fake::Reset();
        SetUp();
        state.replies = {Reply::Text(0, answer), Reply::Text(0, "1,F,O,m")};
        ErrorHandoff(places.window, places.object, &places.type);
        EXPECT_EQ((std::vector<std::string>{kQuestionFrench, "DFTOCS"}), Commands());
        EXPECT_EQ(8u, Report().size());
    }
}

TEST_F(HandoffTest, YesOutsideTheEditorOnlyAsksInTheUsersLanguage)
{
    LaunchContext.EditorMarker[0] = '\0';
    LaunchContext.English = 1;
    state.replies = {Reply::Text(0, "O")};
    ErrorHandoff(places.window, places.object, &places.type);
    EXPECT_EQ(std::vector<std::string>{kQuestionEnglish}, Commands());
    EXPECT_TRUE(Report().empty());
    EXPECT_EQ(1, EngineState.Started);
}

TEST_F(HandoffTest, EngineIsStoppedBeforeTheFirstWrite)
{
    Handoff("12,FEN,OBJ.PRO,Message");
    std::vector<std::string> events;
    for (const auto& line : state.log)
        if (line.compare(0, 8, "OVCALLC ") == 0 || line == "FinInstance" || line == "FreeLibrary" ||
            line.compare(0, 5, "Write") == 0)
            events.push_back(line);
    EXPECT_EQ(
        (std::vector<std::string>{std::string("OVCALLC ") + kQuestionFrench, "OVCALLC DFTOCS", "FinInstance",
                                  "FreeLibrary", "Write Orvane.ini TEST CR=*E*", "Write Orvane.ini TEST NLIGNE=12",
                                  "Write Orvane.ini TEST NCOL=0", "Write Orvane.ini TEST NOMPROC=OBJ.PRO",
                                  "Write Orvane.ini TEST MESSAGE=Message", "Write Orvane.ini TEST NOMFEN=FEN",
                                  "Write Orvane.ini TEST NOMOBJET=OBJ.PRO", "Write Orvane.ini TEST TYPEOBJET=1"}),
        events);
    EXPECT_EQ(0, EngineState.Started);
    EXPECT_EQ(1u, fake::LogLines("LoadLibrary").size()); // nothing started it again
    EXPECT_EQ((std::vector<std::string>{"TEST/CR=*E*", "TEST/NLIGNE=12", "TEST/NCOL=0", "TEST/NOMPROC=OBJ.PRO",
                                        "TEST/MESSAGE=Message", "TEST/NOMFEN=FEN", "TEST/NOMOBJET=OBJ.PRO",
                                        "TEST/TYPEOBJET=1"}),
              fake::ProfileLines("Orvane.ini"));
}

TEST_F(HandoffTest, EmptyValuesRemoveKeysOfAnEarlierReport)
{
    Handoff("1,F,O.PRO,old");
    const auto files = state.files;
    fake::Reset();
    SetUp();
    state.files = files;
    Handoff("2,F,,   ");
    EXPECT_EQ(ReportOf(2, "F", "", "", 2), Report());
    EXPECT_EQ(
        (std::vector<std::string>{"TEST/CR=*E*", "TEST/NLIGNE=2", "TEST/NCOL=0", "TEST/NOMFEN=F", "TEST/TYPEOBJET=2"}),
        fake::ProfileLines("Orvane.ini"));
}

TEST_F(HandoffTest, FailedWritesAreReportedThroughARestartedEngine)
{
    LaunchContext.English = 1;
    state.unwritableFiles.insert("orvane.ini");
    state.replies = {Reply::Text(0, "O"), Reply::Text(0, "5,FEN,,m")};
    ErrorHandoff(places.window, places.object, &places.type);
    std::vector<std::string> expected = {kQuestionEnglish, "DFTOCS"};
    expected.insert(expected.end(), 8, kWriteFailed); // every key, the removed ones included
    EXPECT_EQ(expected, Commands());
    // Stopped before the first write; the first message started it again.
    ASSERT_EQ(1u, fake::LogLines("FinInstance").size());
    EXPECT_EQ(2u, fake::LogLines("LoadLibrary").size());
    EXPECT_EQ(1, EngineState.Started);
    EXPECT_EQ(8u, fake::LogLines("WriteFailed Orvane.ini TEST").size());
    EXPECT_STREQ("FEN", places.window);
    EXPECT_EQ(2, places.type);
}

TEST_F(HandoffTest, CallersStopTheEngineThatAFailedWriteStartedAgain)
{
    state.unwritableFiles.insert("orvane.ini");
    std::strcpy(LaunchContext.CurrentDirectory, "w");
    state.replies = {Reply::Key("*E*"), Reply::Text(0, "O"), Reply::Text(0, "1,F,O,m")};
    RunWindowTest(places.window, places.object, &places.type);
    EXPECT_EQ(2u, fake::LogLines("FinInstance").size());
    EXPECT_EQ(0, EngineState.Started);
    EXPECT_EQ(11u, Commands().size()); // OUVRE, OUINON, DFTOCS and the 8 messages
}

TEST_F(HandoffTest, DescriptionAtThePointerIsPreferredToTheText)
{
    LowText description("2,PTR,P.ENT,p");
    if (!description.Ok()) GTEST_SKIP() << "no memory below 4 GiB";
    Handoff(PointerReply(description, "1,TXT,T.PRO,t"));
    EXPECT_EQ(ReportOf(2, "PTR", "P.ENT", "p", 3), Report());

    // A null pointer in a kind 5 reply: the text is read.
    fake::Reset();
    SetUp();
    Reply reply = Reply::Text(5, "1,TXT,T.INF,t");
    reply.pointerValue = 0;
    Handoff(reply);
    EXPECT_EQ(ReportOf(1, "TXT", "T.INF", "t", 0), Report());
}

TEST_F(HandoffTest, DescriptionLongerThanEveryPlaceIsCutFieldByField)
{
    const std::string window(1000, 'w'), object(1000, 'o'), message(5000, 'm');
    struct Case {
        const char* label;
        std::string description;
        int line;
        std::string window, object, message;
        int type;
    } cases[] = {
        {"every field long", "77," + window + "," + object + "," + message + ",tail", 77, window.substr(0, 263),
         object.substr(0, 103), message.substr(0, 303), 2},
        // The copy's longest case: four fields of the largest cut, three commas.
        {"every field at its longest", std::string(301, ' ') + "12," + window + "," + object + "," + message, 12,
         window.substr(0, 263), object.substr(0, 103), message.substr(0, 303), 2},
        {"line one longer than the cut", std::string(302, ' ') + "12," + window + ",O,m", 12, window.substr(0, 263),
         "O", "m", 2},
        {"long window, short rest", "8," + window + ",O.ENT,msg", 8, window.substr(0, 263), "O.ENT", "msg", 3},
        {"long object, short rest", "8,F," + object + ",msg", 8, "F", object.substr(0, 103), "msg", 2},
        {"long window under the < rule", "9,<" + window + ",msg,extra", 9, "<" + window.substr(0, 262),
         "<" + window.substr(0, 102), "msg", 2},
        {"long line of spaces", std::string(600, ' ') + "12,F,O,m", 12, "F", "O", "m", 2},
        {"long line of zeros", "-" + std::string(600, '0') + "5,F,O", -5, "F", "O", "Erreur ligne -5", 2},
        {"long line with a tail", "40000" + std::string(600, 'x') + ",F,O,m", -25536, "F", "O", "m", 2},
        {"long message with line breaks", "3,F,O,  " + message + "\r\n", 3, "F", "O", message.substr(0, 301), 2},
        // The type is that of the name the editor receives.
        {"procedure suffix cut off", "1,F," + std::string(200, 'x') + ".PRO,m", 1, "F", std::string(103, 'x'), "m", 2},
        // Read as the uncut field is: held at the 32-bit maximum, whose low
        // 16 bits are -1.
        {"long description without commas", std::string(3000, '7'), -1, " ", ".INF", "Erreur ligne -1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fake::Reset();
        SetUp();
        LowText description(c.description);
        if (!description.Ok()) GTEST_SKIP() << "no memory below 4 GiB";
        Handoff(PointerReply(description));
        EXPECT_EQ(ReportOf(c.line, c.window, c.object, c.message, c.type), Report());
        EXPECT_EQ(c.window, places.window);
        EXPECT_EQ(c.object, places.object);
        ExpectGuardsIntact();
    }
}

TEST_F(HandoffTest, EditorRequestEndsWithTheReportAndOneStop)
{
    EditorRequest("F");
    // "ENVI", "OUVRE", the question, the description.
    state.replies = {Reply(), Reply::Key("*E*"), Reply::Text(0, "O"), Reply::Text(0, "12,FEN,OBJ.PRO,Message")};
    EXPECT_EQ(0, RunLauncher().exitCode);
    EXPECT_EQ((std::vector<std::string>{"OUVRE,/work/test/_OV_GO.OVW /RE", kQuestionFrench, "DFTOCS"}),
              CommandsAfterEnvironment());
    EXPECT_EQ(1u, fake::LogLines("FinInstance").size());
    // The exit sequence then withdraws the request.
    std::vector<std::string> expected = ReportOf(12, "FEN", "OBJ.PRO", "Message", 1);
    expected.push_back("COMMANDE removed");
    EXPECT_EQ(expected, Report());
    EXPECT_STREQ("FEN", ErrorWindowName);
    EXPECT_STREQ("OBJ.PRO", ErrorObjectName);
    EXPECT_FALSE(fake::HasProfile("Orvane.ini", "TEST", "COMMANDE"));
    EXPECT_EQ("Message", fake::Profile("Orvane.ini", "TEST", "MESSAGE"));
}

} // namespace
