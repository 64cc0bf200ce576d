// The console's handling of typed lines and key names: directories of any
// length, then engine replies with any key name and any typed line. The
// commands the console sends must be those a model of its passes predicts
// from the same replies (a line whose first read has a forbidden prefix is
// refused), none over 254 characters, and the console must end (an engine
// that never starts ends it as "ESC" does).
//
// Input:
//   options (1)   bit 0 English, bit 1 started by the editor, bit 2 every
//                 engine start is refused
//   length (2) and ExecutableDirectory; length (2) and CurrentDirectory
//   replies, one after another (64 at most), each:
//     form (1)    bit 7 a key: bits 5-6 choose "RET", "ESC", "*E*" or the
//                 three bytes that follow; bit 4 a text: TextLength (1),
//                 length (1) and the Text bytes; bits 0-3 the kind (5 reads
//                 as 0: the console never gets a pointer)
#include <cstring>
#include <string>
#include <vector>

#include "common/launch_context.h"
#include "common/settings.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "fake_platform.h"
#include "fuzz_fake.h"
#include "fuzz_support.h"
#include "modes/modes.h"
#include "text_and_bytes.h"

namespace {

constexpr size_t kConsoleTextCapacity = 264;
// A dozen passes or so: enough for what one pass hands the next, and every
// input stays cheap (each reply costs a command).
constexpr size_t kMaxReplies = 64;

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Forbidden(const std::string& line)
{
    for (const char* prefix : {"BIBL", "TEST", "WIND", "OPTI", "UTIL"})
        if (line.compare(0, 4, prefix) == 0) return true;
    return false;
}

std::string UntilNul(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// The console as its passes go, fed the same replies as the real one.
class ConsoleModel {
  public:
    ConsoleModel(const std::vector<std::vector<unsigned char>>& replies, bool english, bool editor)
        : replies_(replies), english_(english), editor_(editor)
    {
    }

    // The commands the console should send, with "" standing for the
    // notice that replaces a command over 254 characters.
    std::vector<std::string> Run(const std::string& executableDirectory, size_t* passes)
    {
        result_ = ReferenceResult();
        std::string library = executableDirectory + "/ORVANE55.OVL";
        Send("BIBLI,DISQUE," + library.substr(0, kConsoleTextCapacity - 1));
        Send("PROJ,TITRE.OVP");
        Send(english_ ? "NATION,3" : "NATION,5");
        std::string lastCommand, lastText, lastKey;
        *passes = 0;
        for (;;) {
            ++*passes;
            Send("Ouvre,ORVN-TST.OVW");
            Send("AFFI,COMMANDE,=" + lastCommand);
            Send("Affi,OVCHAINE,=" + lastText);
            Send("AFFI,OVTOUCHE,=" + lastKey);
            Send("ECRA,SAIS");
            const std::string key = result_.KeyName;
            if (key == "*E*") {
                Send(english_ ? kQuestionEnglish : kQuestionFrench);
                if (editor_ && !result_.TextResult.empty() && result_.TextResult[0] == 'O') Send("DFTOCS");
                break;
            }
            if (key == "ESC") {
                Send("FERM");
                break;
            }
            if (key != "RET") continue;
            Send("RECU,COMMANDE");
            result_.TextResult = Trimmed(result_.TextResult);
            lastCommand = UpperAscii(result_.TextResult);
            if (Forbidden(lastCommand)) {
                Send("INFO,Fonction interdite");
                Send("FERM");
                result_.KeyName.clear();
                result_.TextResult.clear();
            } else {
                Send("RECU,COMMANDE");
                result_.TextResult = Trimmed(result_.TextResult);
                lastCommand = result_.TextResult;
                Send("FERM");
                Send(lastCommand);
            }
            lastKey = result_.KeyName;
            lastText = result_.TextResult;
        }
        return sent_;
    }

  private:
    void Send(const std::string& command)
    {
        const size_t reply = next_++;
        if (command.size() > kMaxCommandLength) {
            sent_.push_back(""); // the notice; its reply is not kept
            return;
        }
        sent_.push_back(command);
        if (reply < replies_.size())
            ReferenceDecode(replies_[reply].data(), &result_);
        else
            result_.KeyName = "ESC"; // the fake's reply once they run out
    }

    const std::vector<std::vector<unsigned char>>& replies_;
    bool english_, editor_;
    size_t next_ = 0;
    ReferenceResult result_;
    std::vector<std::string> sent_;
};

} // namespace

static int RunInput(const uint8_t* data, size_t size)
{
    fake::Reset();
    std::strcpy(SettingsFileName, "Orvane.ini");
    ByteStream input(data, size);
    const uint8_t options = input.Byte();
    const bool english = options & 1, editor = options & 2, noEngine = options & 4;
    const std::string executable = UntilNul(input.Bytes(input.Word())).substr(0, kDirectoryCapacity - 1);
    const std::string current = UntilNul(input.Bytes(input.Word())).substr(0, kDirectoryCapacity - 1);

    std::vector<std::vector<unsigned char>> replies;
    while (input.Remaining() > 0 && replies.size() < kMaxReplies) {
        std::vector<unsigned char> record(kCommandRecordSize, 0);
        const uint8_t form = input.Byte();
        record[0] = form & 0x9F;
        if ((record[0] & 0x0F) == 5) record[0] &= 0xF0;
        if (form & 0x80) {
            static const char* const kKeys[] = {"RET", "ESC", "*E*"};
            const int choice = (form >> 5) & 3;
            const std::string key = choice < 3 ? std::string(kKeys[choice]) : input.Bytes(3);
            std::memcpy(&record[2], key.data(), key.size());
        }
        if (form & 0x10) {
            record[47] = input.Byte();
            const std::string text = input.Bytes(input.Byte());
            std::memcpy(&record[48], text.data(), text.size() < 207 ? text.size() : 207);
        }
        replies.push_back(record);
    }
    // The edits point into replies, which outlive the run: a copy of a reply
    // is then a copy of a pointer.
    for (const std::vector<unsigned char>& record : replies) {
        fake::Reply reply;
        reply.edit = [at = record.data()](unsigned char* bytes) { std::memcpy(bytes, at, kCommandRecordSize); };
        fake::state.replies.push_back(reply);
    }
    if (noEngine) fake::state.initResults.assign(fake::state.callLimit, 0);

    std::strcpy(LaunchContext.ExecutableDirectory, executable.c_str());
    std::strcpy(LaunchContext.CurrentDirectory, current.c_str());
    std::strcpy(LaunchContext.EditorMarker, editor ? "EDITEUR" : "");
    LaunchContext.English = english;
    int16_t errorObjectType = 0;
    try {
        RunConsole(ErrorWindowName, ErrorObjectName, &errorObjectType);
    } catch (const fake::ProcessExit&) {
        FUZZ_CHECK(false, "the console did not end");
    }

    const std::vector<std::string>& commands = fake::state.commands;
    const std::vector<std::string> directories = fake::LogLines("ChangeDirectory ");
    if (noEngine) {
        FUZZ_CHECK(commands.empty(), "a command reached an engine that never started");
        FUZZ_CHECK(directories.size() == 1, "passes without an engine");
        return 0;
    }
    size_t passes = 0;
    const std::vector<std::string> expected = ConsoleModel(replies, english, editor).Run(executable, &passes);
    for (size_t i = 0; i < commands.size() || i < expected.size(); ++i) {
        const std::string context = "command " + std::to_string(i);
        FUZZ_CHECK(i < commands.size(), context + ": missing, expected " + Escaped(expected[i]));
        FUZZ_CHECK(i < expected.size(), context + ": unexpected " + Escaped(commands[i]));
        FUZZ_CHECK(commands[i].size() <= kMaxCommandLength, context);
        if (expected[i].empty() && commands[i].compare(0, 5, "INFO,") == 0 &&
            commands[i].find("254") != std::string::npos)
            continue;
        FUZZ_CHECK(commands[i] == expected[i],
                   context + ": " + Escaped(commands[i]) + ", expected " + Escaped(expected[i]));
    }
    FUZZ_CHECK(directories.size() == passes, "one directory change per pass");
    for (const std::string& line : directories)
        FUZZ_CHECK(line == "ChangeDirectory " + UpperAscii(current), Escaped(line));
    FUZZ_CHECK(EngineState.Started == 0, "the engine is still started");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return RunThenResetFake(RunInput, data, size);
}
