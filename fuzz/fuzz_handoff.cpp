// The runtime-error handoff: an error description of any length and any
// bytes, handed over through TextResult or through PointerResult. The error
// place, the report written into section TEST and the commands sent must be
// what the description's fields give, each text cut to its place, and no
// place may be written past its end.
//
// Input:
//   options (1)   bit 0 English, bit 1 started by the editor, bit 2 the
//                 settings file refuses writes, bits 4-5 how DFTOCS replies:
//                 0 a text (kind 0), 1 a pointer (kind 5, with the text too),
//                 2 kind 5 with a null pointer, 3 no flags at all
//   answer length (1) and the answer to the question, which follows
//   text length (1)   TextLength of the DFTOCS reply
//   the description, the rest of the input (NUL bytes end it)
#include <cstring>
#include <map>
#include <string>

#include "common/editor_protocol.h"
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

const char kFailedFrench[] = "INFO,Impossible d'\xE9"
                             "crire dans ORVANE.INI.\nFichier prot\xE9g\xE9 ou d\xE9passant 64Ko";
const char kFailedEnglish[] = "INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko";

std::string CutAt(const std::string& text, size_t length) { return text.substr(0, length); }

std::string UntilNul(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// The fields as the handoff takes them from the whole, uncut description.
class Fields {
  public:
    explicit Fields(const std::string& text) : text_(text) {}
    bool Next(std::string* field)
    {
        if (at_ >= text_.size()) return false;
        const size_t comma = text_.find(',', at_);
        const size_t end = comma == std::string::npos ? text_.size() : comma;
        *field = text_.substr(at_, end - at_);
        at_ = comma == std::string::npos ? text_.size() : comma + 1;
        return true;
    }

  private:
    std::string text_;
    size_t at_ = 0;
};

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

struct Report {
    int16_t Line = 0;
    std::string Window, Object, Message;
    int16_t Type = 0;
};

Report ExpectedReport(const std::string& description)
{
    Report report;
    Fields fields(description);
    std::string field;
    report.Line = fields.Next(&field) ? static_cast<int16_t>(ReferenceDecimal(field.c_str()) & 0xFFFF) : 0;
    report.Window = fields.Next(&field) && !field.empty() ? CutAt(field, kErrorWindowNameCapacity - 1) : " ";
    if (report.Window[0] == '<' && report.Window != "<AUCUN>")
        report.Object = CutAt(report.Window, kErrorObjectNameCapacity - 1);
    else
        report.Object = fields.Next(&field) ? CutAt(field, kErrorObjectNameCapacity - 1) : ".INF";
    report.Message = fields.Next(&field) ? CutAt(field, 303) : "Erreur ligne " + std::to_string(report.Line);

    const std::string& object = report.Object;
    if (Has(object, ".INP") || Has(object, ".PRO")) {
        report.Type = 1;
        if (!Has(object, ".INP")) {
            report.Window = UpperAscii(report.Window);
            if (Has(report.Window, ".OVP")) report.Type = 14;
        }
    } else if (Has(object, ".INF") || Has(object, ".FEF") || Has(object, ".PRF") || Has(object, ".PEF") ||
               Has(object, ".MOD") || Has(object, ".REA")) {
        report.Type = 0;
    } else if (Has(object, ".INI") || Has(object, ".ENT") || Has(object, ".SOR") || Has(object, ".ACC") ||
               Has(object, ".VIS") || Has(object, ".LAC") || Has(object, ".LIA")) {
        report.Type = 3;
    } else {
        report.Type = 2;
    }

    std::string& message = report.Message;
    message.erase(message.find_last_not_of(' ') == std::string::npos ? 0 : message.find_last_not_of(' ') + 1);
    message.erase(0, message.find_first_not_of(' ') == std::string::npos ? message.size()
                                                                         : message.find_first_not_of(' '));
    for (char& c : message) {
        if (c == '\n') c = static_cast<char>(0xF5);
        if (c == '\r') c = ' ';
    }
    return report;
}

std::map<std::string, std::string> SectionTest()
{
    std::map<std::string, std::string> keys;
    for (const fake::ProfileEntry& entry : fake::state.files["orvane.ini"])
        if (entry.section == "TEST") keys[entry.key] = entry.value;
    return keys;
}

} // namespace

static int RunInput(const uint8_t* data, size_t size)
{
    fake::Reset();
    ByteStream input(data, size);
    const uint8_t options = input.Byte();
    const bool english = options & 1, editor = options & 2, writesFail = options & 4;
    const int delivery = (options >> 4) & 3;
    const std::string answer = input.Bytes(input.Byte());
    const uint8_t textLength = input.Byte();
    const std::string bytes = input.Rest();

    std::strcpy(SettingsFileName, "Orvane.ini");
    LaunchContext.English = english;
    std::strcpy(LaunchContext.EditorMarker, editor ? "EDITEUR" : "");
    for (const char* key : kReportKeys)
        fake::SetProfile("Orvane.ini", "TEST", key, "old");
    fake::SetProfile("Orvane.ini", "TEST", "COMMANDE", "EDITEUR");
    if (writesFail) fake::state.unwritableFiles.insert("orvane.ini");
    const std::map<std::string, std::string> before = SectionTest();

    fake::state.replies.push_back(fake::Reply::Text(0, answer));
    fake::Reply dftocs;
    std::string description;
    const std::string textPart = bytes.substr(0, 207);
    if (delivery == 3) {
        description = UntilNul(CutAt(answer, 207)); // TextResult keeps the answer
    } else {
        dftocs = fake::Reply::Text(delivery == 0 ? 0 : 5, textPart);
        dftocs.textLength = textLength;
        description = UntilNul(CutAt(textPart, textLength < 207 ? textLength : 207));
        if (delivery == 1) {
            description = UntilNul(bytes);
            dftocs.pointerValue = PlaceLowText(description);
            if (dftocs.pointerValue == 0) return 0;
        }
    }
    fake::state.replies.push_back(dftocs);

    std::memset(ErrorWindowName, 'w', sizeof ErrorWindowName - 1);
    std::memset(ErrorObjectName, 'o', sizeof ErrorObjectName - 1);
    int16_t type = -7;
    ErrorHandoff(ErrorWindowName, ErrorObjectName, &type);

    const auto context = [&] { return "description " + Escaped(description.substr(0, 400)); };
    const std::vector<std::string>& commands = fake::state.commands;
    FUZZ_CHECK(!commands.empty() && commands[0] == (english ? kQuestionEnglish : kQuestionFrench), context());
    if (answer.empty() || answer[0] != 'O' || !editor) {
        FUZZ_CHECK(commands.size() == 1, context() + ": more than the question");
        FUZZ_CHECK(SectionTest() == before, context() + ": the settings changed");
        FUZZ_CHECK(type == -7 && std::strlen(ErrorWindowName) == sizeof ErrorWindowName - 1, context());
        return 0;
    }

    const Report expected = ExpectedReport(description);
    FUZZ_CHECK(commands.size() >= 2 && commands[1] == "DFTOCS", context());
    FUZZ_CHECK(EngineState.Started == (writesFail ? 1 : 0), context() + ": the engine state after the report");
    FUZZ_CHECK(std::memchr(ErrorWindowName, 0, sizeof ErrorWindowName) != nullptr, context());
    FUZZ_CHECK(std::memchr(ErrorObjectName, 0, sizeof ErrorObjectName) != nullptr, context());
    FUZZ_CHECK(ErrorWindowName == expected.Window,
               context() + ": window " + Escaped(ErrorWindowName) + ", expected " + Escaped(expected.Window));
    FUZZ_CHECK(ErrorObjectName == expected.Object,
               context() + ": object " + Escaped(ErrorObjectName) + ", expected " + Escaped(expected.Object));
    FUZZ_CHECK(type == expected.Type, context() + ": type " + std::to_string(type));

    std::map<std::string, std::string> after = before;
    if (writesFail) {
        // Every one of the eight writes tells the user, nothing is written.
        FUZZ_CHECK(commands.size() == 2 + 8, context());
        for (size_t i = 2; i < commands.size(); ++i)
            FUZZ_CHECK(commands[i] == (english ? kFailedEnglish : kFailedFrench), context());
    } else {
        FUZZ_CHECK(commands.size() == 2, context() + ": commands after the report");
        const std::pair<const char*, std::string> written[] = {
            {"CR", "*E*"},
            {"NLIGNE", std::to_string(expected.Line)},
            {"NCOL", "0"},
            {"NOMPROC", expected.Object},
            {"MESSAGE", expected.Message},
            {"NOMFEN", expected.Window},
            {"NOMOBJET", expected.Object},
            {"TYPEOBJET", std::to_string(expected.Type)},
        };
        for (const auto& [key, value] : written) {
            if (value.empty())
                after.erase(key);
            else
                after[key] = value;
        }
    }
    const std::map<std::string, std::string> actual = SectionTest();
    for (const auto& [key, value] : after) {
        FUZZ_CHECK(actual.count(key) == 1, context() + ": " + key + " is missing");
        FUZZ_CHECK(actual.at(key) == value,
                   context() + ": " + key + " is " + Escaped(actual.at(key)) + ", expected " + Escaped(value));
    }
    for (const auto& [key, value] : actual)
        FUZZ_CHECK(after.count(key) == 1, context() + ": " + key + " should have gone, it holds " + Escaped(value));
    StopEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return RunThenResetFake(RunInput, data, size);
}
