// Inputs that once broke the launcher, found by the fuzz targets or the
// fault tests, kept here as whole runs against the fake: an empty message
// field with more fields after it, and a settings file that refuses every
// write.
#include <string>

#include "common/launch_context.h"
#include "test_support.h"

using fake::Reply;
using fake::state;

namespace {

const char kWriteFailedFrench[] = "INFO,Impossible d'\xE9"
                                  "crire dans ORVANE.INI.\nFichier prot\xE9g\xE9 ou d\xE9passant 64Ko";

class HardeningTest : public FakeTest {
  protected:
    // A window test whose first screen ends with a runtime error, the user
    // agreeing to edit, and the description given as the reply's text.
    void RunFailingWindow(const std::string& description)
    {
        EditorRequest("F");
        state.replies = {Reply(), Reply::Key("*E*"), Reply::Text(0, "O"), Reply::Text(0, description)};
        const Outcome outcome = RunLauncher();
        EXPECT_EQ(0, outcome.exitCode);
        EXPECT_FALSE(outcome.endedByExit);
    }
    static std::string Report(const char* key) { return fake::Profile("Orvane.ini", "TEST", key); }
};

TEST_F(HardeningTest, EmptyMessageFieldBeforeMoreFieldsIsAnEmptyMessage)
{
    // The fourth field is there but empty: the message key goes, rather
    // than taking the default meant for a description without a message.
    RunFailingWindow("5,FEN,OBJ.ENT,,more,fields");
    EXPECT_EQ("<missing>", Report("MESSAGE"));
    EXPECT_EQ("FEN", Report("NOMFEN"));
    EXPECT_EQ("OBJ.ENT", Report("NOMOBJET"));
    EXPECT_EQ("3", Report("TYPEOBJET"));

    fake::Reset();
    RunFailingWindow("5,FEN,OBJ,,");
    EXPECT_EQ("<missing>", Report("MESSAGE"));

    fake::Reset();
    RunFailingWindow("5,FEN,OBJ");
    EXPECT_EQ("Erreur ligne 5", Report("MESSAGE"));
}

TEST_F(HardeningTest, ReadOnlySettingsFileIsToldAndTheRunEndsWithZero)
{
    EditorRequest("F");
    state.unwritableFiles.insert("orvane.ini");
    state.replies = {Reply(), Reply::Key("ESC")};
    const Outcome outcome = RunLauncher();
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_FALSE(outcome.endedByExit);
    // The window test stopped the engine; the failed delete of COMMANDE at
    // exit starts it again for its message, and the request stays.
    ASSERT_FALSE(Commands().empty());
    EXPECT_EQ(kWriteFailedFrench, Commands().back());
    EXPECT_EQ("EDITEUR", fake::Profile("Orvane.ini", "TEST", "COMMANDE"));
    EXPECT_EQ(2u, fake::LogLines("OV4InitInstance").size());
    EXPECT_TRUE(fake::LogLines("Delete win.ini").size() == 1) << "the exit sequence went on";
}

} // namespace
