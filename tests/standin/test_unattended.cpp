// The engines without a script: quiet when no one is at the terminal, and
// interactive, driven here through standard input and output redirected to
// files in a child process.
#include <gtest/gtest.h>
#include <regex>

#include "standin_harness.h"

using namespace standin_test;

namespace {

void Start()
{
    Record record{};
    Block block = WellFormedBlock();
    Engine().OV4InitInstance(record.data(), block.data());
}

// Runs the commands in a child whose standard input holds input; returns
// what it wrote on standard output.
std::string Converse(Workspace& workspace, const std::vector<std::string>& commands, const std::string& input)
{
    WriteFile(workspace.Path("input"), input);
    const int status = RunInChild(
        [&commands] {
            Start();
            for (const std::string& command : commands)
                Call(command);
        },
        workspace.Path("input"), workspace.Path("output"));
    EXPECT_EQ(0, status);
    return ReadFile(workspace.Path("output"));
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(Quiet, EveryScreenEndsWithEscapeAndNothingIsShown)
{
    Workspace workspace;
    unsetenv("OV_STANDIN_SCRIPT");
    // Standard input is a file, not a terminal: the quiet engine answers.
    const std::string output =
        Converse(workspace,
                 {"ENVI,1", "OUVRE,/w/_OV_GO.OVW /RE", "ECRAN,SAISIE", "PROGRAMME,/w/_OV_GOP /RE", "Ouvre,ORVN-TST.OVW",
                  "ECRA,SAIS", "OUINON,Voulez-vous?", "FENETRE", "INFO,message"},
                 "o\n");
    EXPECT_EQ("", output);
    EXPECT_EQ((std::vector<std::string>{
                  "reply flags=0x00",
                  "reply flags=0x80 key=\"ESC\"",
                  "reply flags=0x80 key=\"ESC\"",
                  "reply flags=0x80 key=\"ESC\"",
                  "reply flags=0x80 key=\"ESC\"",
                  "reply flags=0x80 key=\"ESC\"",
                  "reply flags=0x90 key=\"ESC\" kind=0 textlength=1 text=\"N\"",
                  "reply flags=0x11 kind=1 textlength=1 text=\"0\"",
                  "reply flags=0x00",
              }),
              workspace.Lines("reply"));
}

TEST(Interactive, WindowTestScreensQuestionAndError)
{
    Workspace workspace;
    unsetenv("OV_STANDIN_SCRIPT");
    setenv("OV_STANDIN_MODE", "interactive", 1);
    const std::string output =
        Converse(workspace,
                 {"OUVRE,/w/_OV_GO.OVW /RE", "info,Option de menu sans code (OVTouche = \"*M*\").", "FENETRE",
                  "ECRAN,SAISIE", "FENETRE", "ECRAN,SAISIE", "INFO,Vous quittez\nla fen\xEAtre \x80",
                  "OUINON,Voulez-vous \xEAtre positionn\xE9?", "DFTOCS", "DFTOCS"},
                 // OUVRE: a menu option; then Enter (RET); then a wrong choice, then
                 // the runtime error; the question: first unclear, then yes; the
                 // first description as offered, the second typed.
                 "m\n\nz\ne\nperhaps\no\n\n3,<MAIN>,caf\xC3\xA9 \xE2\x82\xAC\n");
    EXPECT_EQ((std::vector<std::string>{
                  "reply flags=0x80 key=\"*M*\"",
                  "reply flags=0x00",
                  "reply flags=0x11 kind=1 textlength=1 text=\"2\"",
                  "reply flags=0x80 key=\"RET\"",
                  "reply flags=0x11 kind=1 textlength=1 text=\"1\"",
                  "reply flags=0x80 key=\"*E*\"",
                  "reply flags=0x00",
                  "reply flags=0x90 key=\"RET\" kind=0 textlength=1 text=\"O\"",
                  "reply flags=0x15 kind=5 textlength=0 text=\"\" pointer=\"12,CLIENTS,BTN_OK.PRO,Division par "
                  "z\\xE9ro\" pointerint=12",
                  "reply flags=0x15 kind=5 textlength=0 text=\"\" pointer=\"3,<MAIN>,caf\\xE9 \\x80\" pointerint=3",
              }),
              workspace.Lines("reply"));
    EXPECT_TRUE(Contains(output, "== Window /w/_OV_GO.OVW, screen 1 of 3 =="));
    EXPECT_TRUE(Contains(output, "screen 3 of 3"));
    EXPECT_TRUE(Contains(output, "Not a choice: z"));
    // Windows-1252 shown as UTF-8, a line feed as a new line.
    EXPECT_TRUE(Contains(output, "| Vous quittez\n| la fen\xC3\xAAtre \xE2\x82\xAC\n"));
    EXPECT_TRUE(Contains(output, "| Voulez-vous \xC3\xAAtre positionn\xC3\xA9?"));
    EXPECT_TRUE(Contains(output, "Answer o or n."));
}

TEST(Interactive, ConsoleShowsTheLastCommandAndHandsBackTheTypedLine)
{
    Workspace workspace;
    unsetenv("OV_STANDIN_SCRIPT");
    setenv("OV_STANDIN_MODE", "interactive", 1);
    const std::string output = Converse(workspace,
                                        {"BIBLI,DISQUE,/w/ORVANE55.OVL", "PROJ,TITRE.OVP", "NATION,5",
                                         "Ouvre,ORVN-TST.OVW", "AFFI,COMMANDE,=DATE", "Affi,OVCHAINE,=01/02/2024",
                                         "AFFI,OVTOUCHE,=RET", "ECRA,SAIS", "RECU,COMMANDE", "FERM", "DATE",
                                         "Ouvre,ORVN-TST.OVW", "ECRA,SAIS", "ECRA,SAIS", "ECRA,SAIS", "ECRA,SAIS"},
                                        "  d\xC3\xA9j\xC3\xA0 vu \n!k AF4\n!e\n!q\n");
    const std::vector<std::string> replies = workspace.Lines("reply");
    ASSERT_EQ(16u, replies.size());
    for (int i : {0, 1, 2, 3, 4, 5, 6, 9, 11})
        EXPECT_EQ("reply flags=0x00", replies[i]) << i;
    EXPECT_EQ("reply flags=0x80 key=\"RET\"", replies[7]);
    // The typed line as typed, spaces included, in Windows-1252.
    EXPECT_EQ("reply flags=0x10 kind=0 textlength=10 text=\"  d\\xE9j\\xE0 vu \"", replies[8]);
    EXPECT_TRUE(std::regex_match(replies[10], std::regex(R"(reply flags=0x90 key="RET" kind=0 textlength=10 )"
                                                         R"(text="\d\d/\d\d/\d{4}")")))
        << replies[10];
    EXPECT_EQ("reply flags=0x80 key=\"AF4\"", replies[12]);
    EXPECT_EQ("reply flags=0x80 key=\"*E*\"", replies[13]);
    EXPECT_EQ("reply flags=0x80 key=\"ESC\"", replies[14]);
    // At the end of input every screen ends with ESC.
    EXPECT_EQ("reply flags=0x80 key=\"ESC\"", replies[15]);
    EXPECT_TRUE(Contains(output, "| Command : DATE\n| Text    : 01/02/2024\n| Key     : RET\n"));
}
