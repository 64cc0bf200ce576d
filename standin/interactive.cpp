// The interactive and the quiet engine.
#include "interactive.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "console_text.h"
#include "cp1252.h"

namespace standin {

namespace {

constexpr int kScreensPerTest = 3;
const char kDefaultErrorDescription[] = "12,CLIENTS,BTN_OK.PRO,Division par z\xE9ro";
const char kConsoleWindow[] = "ORVN-TST.OVW";

enum class Verb { None, Envi, Info, OuiNon, Ouvre, Programme, Ecran, Fenetre, Dftocs, Affi, Recu, Ferm, Setup, Other };

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The engine takes a command word in any letter case and cut to as few as
// four letters ("ECRA" for "ECRAN", "Ouvre" for "OUVRE").
Verb VerbOf(const std::string& command, std::string* argument)
{
    const size_t comma = command.find(',');
    const std::string word = UpperAscii(command.substr(0, comma));
    *argument = comma == std::string::npos ? std::string() : command.substr(comma + 1);
    struct Row {
        const char* Full;
        Verb Meaning;
    };
    static const Row kVerbs[] = {
        {"ENVIRONNEMENT", Verb::Envi},  {"INFO", Verb::Info},     {"OUINON", Verb::OuiNon},   {"OUVRE", Verb::Ouvre},
        {"PROGRAMME", Verb::Programme}, {"ECRAN", Verb::Ecran},   {"FENETRE", Verb::Fenetre}, {"DFTOCS", Verb::Dftocs},
        {"AFFICHE", Verb::Affi},        {"RECUPERE", Verb::Recu}, {"FERME", Verb::Ferm},      {"BIBLI", Verb::Setup},
        {"PROJET", Verb::Setup},        {"NATION", Verb::Setup},
    };
    if (word.size() >= 4) {
        for (const Row& row : kVerbs)
            if (std::string(row.Full).compare(0, word.size(), word) == 0) return row.Meaning;
    }
    return word.empty() && comma == std::string::npos ? Verb::None : Verb::Other;
}

Reply KeyReply(const std::string& key)
{
    Reply reply;
    reply.HasKey = true;
    reply.Key = key;
    return reply;
}

Reply TextReply(const std::string& text)
{
    Reply reply;
    reply.HasText = true;
    reply.Text = text.substr(0, kTextSize);
    return reply;
}

std::string BaseName(const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    const size_t space = name.find(' ');
    return space == std::string::npos ? name : name.substr(0, space);
}

void WriteLine(const std::string& utf8) { WriteOutput(utf8 + "\n"); }

} // namespace

bool ReadInputLine(std::string* line)
{
    line->clear();
    bool any = false;
    char c = 0;
    while (ReadInputByte(&c)) {
        any = true;
        if (c == '\n') break;
        *line += c;
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    // Input from a file or a pipe is not echoed by a console: show it, so
    // that a piped session reads like a typed one.
    if (any && !IsConsole(0)) WriteOutput(*line + "\n");
    return any;
}

void WriteOutput(const std::string& utf8) { WriteText(stdout, utf8); }

Reply InteractiveEngine::Respond(const std::string& command)
{
    if (!bannerShown_) {
        WriteLine("Orvane engine stand-in, interactive: you play the engine's screens; "
                  "? (!? in the console) shows the choices.");
        bannerShown_ = true;
    }
    std::string argument;
    switch (VerbOf(command, &argument)) {
    case Verb::Envi:
    case Verb::Setup:
        return Reply();
    case Verb::Info:
        ShowMessage(argument);
        return Reply();
    case Verb::OuiNon:
        return AskYesNo(argument);
    case Verb::Ouvre:
        if (UpperAscii(BaseName(argument)) == kConsoleWindow) {
            consoleOpen_ = true;
            return Reply();
        }
        screenName_ = argument;
        screenNumber_ = 1;
        screensLeft_ = kScreensPerTest - 1;
        return RunScreen("Window", screenName_);
    case Verb::Programme:
        screenName_ = argument;
        screenNumber_ = 1;
        screensLeft_ = kScreensPerTest - 1;
        return RunScreen("Program", screenName_);
    case Verb::Ecran:
        if (consoleOpen_) return RunConsoleScreen();
        if (screensLeft_ > 0) {
            --screensLeft_;
            ++screenNumber_;
        }
        return RunScreen("Screen", screenName_);
    case Verb::Fenetre: {
        Reply reply = TextReply(std::to_string(screensLeft_));
        reply.Kind = 1;
        return reply;
    }
    case Verb::Dftocs:
        return DescribeError();
    case Verb::Affi: {
        const size_t equals = argument.find(",=");
        const std::string field = UpperAscii(argument.substr(0, equals));
        const std::string value = equals == std::string::npos ? std::string() : argument.substr(equals + 2);
        if (field == "COMMANDE") lastCommand_ = value;
        if (field == "OVCHAINE") lastText_ = value;
        if (field == "OVTOUCHE") lastKey_ = value;
        return Reply();
    }
    case Verb::Recu:
        return TextReply(typedLine_);
    case Verb::Ferm:
        consoleOpen_ = false;
        return Reply();
    case Verb::None:
    case Verb::Other:
        break;
    }
    return RunTypedCommand(command);
}

void InteractiveEngine::ShowMessage(const std::string& text)
{
    WriteLine("+-- Message ---------------------------------------------");
    std::string line;
    const std::string utf8 = Cp1252ToUtf8(text);
    for (size_t at = 0; at <= utf8.size(); ++at) {
        if (at == utf8.size() || utf8[at] == '\n') {
            WriteLine("| " + line);
            line.clear();
        } else if (utf8[at] != '\r') {
            line += utf8[at];
        }
    }
    WriteLine("+--------------------------------------------------------");
}

Reply InteractiveEngine::AskYesNo(const std::string& question)
{
    WriteLine("+-- Question --------------------------------------------");
    WriteLine("| " + Cp1252ToUtf8(question));
    WriteLine("+--------------------------------------------------------");
    std::string answer;
    while (true) {
        WriteOutput("[o] oui/yes  [n] non/no > ");
        if (!ReadInputLine(&answer)) {
            WriteLine("");
            answer = "n";
        }
        const std::string upper = UpperAscii(answer);
        if (upper == "O" || upper == "Y" || upper == "OUI" || upper == "YES") {
            Reply reply = TextReply("O");
            reply.HasKey = true;
            reply.Key = "RET";
            return reply;
        }
        if (upper == "N" || upper == "NON" || upper == "NO") {
            Reply reply = TextReply("N");
            reply.HasKey = true;
            reply.Key = "RET";
            return reply;
        }
        WriteLine("Answer o or n.");
    }
}

Reply InteractiveEngine::RunScreen(const char* what, const std::string& argument)
{
    // "OUVRE,<dir>/_OV_GO.OVW /RE": the file without its switches.
    const std::string name = argument.substr(0, argument.find(" /"));
    WriteLine(std::string("== ") + what + " " + Cp1252ToUtf8(name) + ", screen " + std::to_string(screenNumber_) +
              " of " + std::to_string(screenNumber_ + screensLeft_) + " ==");
    static const char kChoices[] = "End it with: Enter=RET  q=ESC  e=*E* runtime error  a=AF4 Alt+F4  "
                                   "m=*M* menu option  =XYZ another key name";
    WriteLine(kChoices);
    std::string choice;
    while (true) {
        WriteOutput("screen> ");
        if (!ReadInputLine(&choice)) {
            WriteLine("");
            return KeyReply("ESC");
        }
        if (choice.empty()) return KeyReply("RET");
        if (choice == "\x1b" || choice == "q" || choice == "Q") return KeyReply("ESC");
        if (choice == "e" || choice == "E") return KeyReply("*E*");
        if (choice == "a" || choice == "A") return KeyReply("AF4");
        if (choice == "m" || choice == "M") return KeyReply("*M*");
        if (choice[0] == '=' && choice.size() >= 2 && choice.size() <= 4)
            return KeyReply(Utf8ToCp1252(choice.substr(1)).substr(0, kKeyNameSize));
        if (choice != "?") WriteLine("Not a choice: " + choice);
        WriteLine(kChoices);
    }
}

Reply InteractiveEngine::RunConsoleScreen()
{
    WriteLine("+-- Orvane console --------------------------------------");
    WriteLine("| Command : " + Cp1252ToUtf8(lastCommand_));
    WriteLine("| Text    : " + Cp1252ToUtf8(lastText_));
    WriteLine("| Key     : " + Cp1252ToUtf8(lastKey_));
    WriteLine("+--------------------------------------------------------");
    static const char kHelp[] = "Type a command and Enter.  !q leaves (ESC), !e raises a runtime error (*E*), "
                                "!k XYZ ends with another key, !? this help.";
    if (!consoleHelpShown_) WriteLine(kHelp);
    consoleHelpShown_ = true;
    std::string line;
    while (true) {
        WriteOutput("command (!? help)> ");
        if (!ReadInputLine(&line)) {
            WriteLine("");
            return KeyReply("ESC");
        }
        if (line == "\x1b" || line == "!q" || line == "!Q") return KeyReply("ESC");
        if (line == "!e" || line == "!E") return KeyReply("*E*");
        if (line.compare(0, 3, "!k ") == 0 && line.size() > 3)
            return KeyReply(Utf8ToCp1252(line.substr(3)).substr(0, kKeyNameSize));
        if (!line.empty() && line[0] == '!') {
            WriteLine(kHelp);
            continue;
        }
        typedLine_ = Utf8ToCp1252(line).substr(0, kTextSize);
        return KeyReply("RET");
    }
}

Reply InteractiveEngine::DescribeError()
{
    WriteLine("The launcher asks for the runtime error: line,window,object,message");
    WriteOutput("error [" + Cp1252ToUtf8(kDefaultErrorDescription) + "]> ");
    std::string line;
    if (!ReadInputLine(&line)) WriteLine("");
    const std::string description = line.empty() ? std::string(kDefaultErrorDescription) : Utf8ToCp1252(line);
    Reply reply;
    reply.HasText = true;
    reply.Kind = 5;
    reply.HasPointer = true;
    reply.PointerText = description;
    reply.PointerInt = std::atoi(description.c_str());
    return reply;
}

Reply InteractiveEngine::RunTypedCommand(const std::string& command)
{
    const std::string word = UpperAscii(command.substr(0, command.find(',')));
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    char text[32] = "OK";
    if (word == "DATE" && local != nullptr)
        std::strftime(text, sizeof text, "%d/%m/%Y", local);
    else if (word == "HEURE" && local != nullptr)
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    else if (word == "VERSION")
        std::snprintf(text, sizeof text, "5.5");
    Reply reply = TextReply(text);
    reply.HasKey = true;
    reply.Key = "RET";
    return reply;
}

Reply QuietReply(const std::string& command)
{
    std::string argument;
    switch (VerbOf(command, &argument)) {
    case Verb::Ouvre:
    case Verb::Programme:
    case Verb::Ecran:
        return KeyReply("ESC");
    case Verb::OuiNon: {
        Reply reply = TextReply("N");
        reply.HasKey = true;
        reply.Key = "ESC";
        return reply;
    }
    case Verb::Fenetre: {
        Reply reply = TextReply("0");
        reply.Kind = 1;
        return reply;
    }
    default:
        return Reply();
    }
}

} // namespace standin
