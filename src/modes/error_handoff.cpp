// The handoff of a runtime error to the editor: the question, the engine's
// description of the error split into its fields, and the error report
// written into section TEST of the settings file.
#include <cstring>

#include "common/editor_protocol.h"
#include "common/error_description.h"
#include "common/launch_context.h"
#include "common/settings.h"
#include "common/text.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "modes/modes.h"

constexpr size_t kProcedureNameCapacity = 264;
constexpr size_t kMessageCapacity = 304;
static_assert(kErrorFieldCut == kMessageCapacity - 1, "a description field is cut to the largest place it reaches");

static char ErrorDescription[kErrorDescriptionCapacity]; // the engine's description, split in place
static int16_t ErrorLine;                                // line of the error
static uint16_t ErrorColumn;                             // always 0
static char ErrorProcedureName[kProcedureNameCapacity];
static char ErrorMessage[kMessageCapacity];

static const char kQuestionFrench[] = "Voulez-vous \xEAtre positionn\xE9 sur le source?";
static const char kQuestionEnglish[] = "Do you want to edit source code?";

static bool Contains(const char* text, const char* part) { return std::strstr(text, part) != nullptr; }

static bool ContainsAny(const char* text, const char* const* parts)
{
    for (; *parts != nullptr; ++parts) {
        if (Contains(text, *parts)) return true;
    }
    return false;
}

// A procedure's object (".PRO" without ".INP") reports its window's name
// upper-cased (a to z).
static bool IsProcedureOfWindow(const char* objectName)
{
    return !Contains(objectName, ".INP") && Contains(objectName, ".PRO");
}

// The type of the object, from its name; for a procedure's object, from the
// window's name as reported, upper-cased.
static int16_t ObjectTypeOf(const char* objectName, const char* windowName)
{
    static const char* const kFunctions[] = {".INF", ".FEF", ".PRF", ".PEF", ".MOD", ".REA", nullptr};
    static const char* const kEvents[] = {".INI", ".ENT", ".SOR", ".ACC", ".VIS", ".LAC", ".LIA", nullptr};
    if (Contains(objectName, ".INP")) return 1;
    if (IsProcedureOfWindow(objectName)) return Contains(windowName, ".OVP") ? 14 : 1;
    if (ContainsAny(objectName, kFunctions)) return 0;
    if (ContainsAny(objectName, kEvents)) return 3;
    return 2;
}

void ErrorHandoff(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType)
{
    SendCommand("OUINON,%s", LaunchContext.English ? kQuestionEnglish : kQuestionFrench);
    if (CommandResult.TextResult[0] != 'O') return;
    if (LaunchContext.EditorMarker[0] == '\0') return;

    SendCommand("DFTOCS");
    CopyErrorDescription(ErrorDescription, CommandResult.PointerResult != nullptr ? CommandResult.PointerResult
                                                                                  : CommandResult.TextResult);

    char* cursor = ErrorDescription;
    char* field = SplitField(&cursor, ',');
    ErrorLine = static_cast<int16_t>(field != nullptr ? ReadDecimal(field) & 0xFFFF : 0);
    ErrorColumn = 0;

    errorWindowName[0] = '\0';
    field = SplitField(&cursor, ',');
    if (field != nullptr && field[0] != '\0') CopyText(errorWindowName, kErrorWindowNameCapacity, field);
    if (errorWindowName[0] == '\0') CopyText(errorWindowName, kErrorWindowNameCapacity, " ");

    if (errorWindowName[0] == '<' && std::strcmp(errorWindowName, "<AUCUN>") != 0) {
        CopyText(errorObjectName, kErrorObjectNameCapacity, errorWindowName);
    } else {
        field = SplitField(&cursor, ',');
        CopyText(errorObjectName, kErrorObjectNameCapacity, field != nullptr ? field : ".INF");
    }
    CopyText(ErrorProcedureName, errorObjectName);

    field = SplitField(&cursor, ',');
    if (field != nullptr)
        CopyText(ErrorMessage, field);
    else
        FormatText(ErrorMessage, sizeof ErrorMessage, "Erreur ligne %d", static_cast<int>(ErrorLine));

    if (IsProcedureOfWindow(errorObjectName)) UpperCaseAscii(errorWindowName);
    *errorObjectType = ObjectTypeOf(errorObjectName, errorWindowName);

    StopEngine();

    WriteSetting(kTestSection, kReportKeys[kCr], "*E*");
    WriteIntegerSetting(kTestSection, kReportKeys[kLine], ErrorLine);
    WriteIntegerSetting(kTestSection, kReportKeys[kColumn], ErrorColumn);
    WriteSetting(kTestSection, kReportKeys[kProcedure], ErrorProcedureName);

    TrimTrailingSpaces(ErrorMessage);
    TrimLeadingSpaces(ErrorMessage);
    ReplaceChar(ErrorMessage, '\n', static_cast<char>(kStoredLineFeed));
    ReplaceChar(ErrorMessage, '\r', ' ');

    WriteSetting(kTestSection, kReportKeys[kMessage], ErrorMessage);
    WriteSetting(kTestSection, kReportKeys[kWindow], errorWindowName);
    WriteSetting(kTestSection, kReportKeys[kObject], errorObjectName);
    WriteIntegerSetting(kTestSection, kReportKeys[kObjectType], *errorObjectType);
}

void ResetErrorHandoffForTests()
{
    std::memset(ErrorDescription, 0, sizeof ErrorDescription);
    ErrorLine = 0;
    ErrorColumn = 0;
    std::memset(ErrorProcedureName, 0, sizeof ErrorProcedureName);
    std::memset(ErrorMessage, 0, sizeof ErrorMessage);
}
