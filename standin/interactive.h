// The engines that answer without a script: the interactive one, which a
// person drives from a terminal, and the quiet one, used when no one is
// there, which ends every screen with "ESC" so that no run can hang.
#pragma once

#include <string>

#include "reply.h"

namespace standin {

// Reads one line from standard input without its line end; false at the end
// of input. Reads byte by byte, so nothing is held back for a later reader.
bool ReadInputLine(std::string* line);
// Writes UTF-8 to standard output and flushes (to a Windows console through
// its Unicode output).
void WriteOutput(const std::string& utf8);

class InteractiveEngine {
  public:
    Reply Respond(const std::string& command);
    void Reset() { *this = InteractiveEngine(); }

  private:
    Reply RunScreen(const char* what, const std::string& argument);
    Reply RunConsoleScreen();
    Reply AskYesNo(const std::string& question);
    Reply DescribeError();
    Reply RunTypedCommand(const std::string& command);
    void ShowMessage(const std::string& text);

    bool bannerShown_ = false;
    bool consoleHelpShown_ = false;
    bool consoleOpen_ = false; // "Ouvre,ORVN-TST.OVW" until "FERM"
    std::string screenName_;   // window or program of the test
    int screenNumber_ = 0;     // 1 for the first screen
    int screensLeft_ = 0;      // after the current one
    std::string lastCommand_;  // the console's three display fields
    std::string lastText_;
    std::string lastKey_;
    std::string typedLine_; // what "RECU,COMMANDE" hands back
};

// The reply of the quiet engine: "ESC" for a screen, "N" and "ESC" for a
// question, 0 for "FENETRE", nothing for the rest.
Reply QuietReply(const std::string& command);

} // namespace standin
