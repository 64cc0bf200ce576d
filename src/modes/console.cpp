// The interactive console: pass after pass, the engine shows the last
// command with its result and key and takes the next command line, which runs
// unless it begins with a forbidden prefix.
#include <cstring>

#include "common/launch_context.h"
#include "common/text.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "modes/modes.h"
#include "platform.h"

constexpr size_t kConsoleTextCapacity = 264;
constexpr size_t kProbePathCapacity = 10;

constexpr uint16_t kErrorKeyCode = 59631;  // "*E*"
constexpr uint16_t kEscapeKeyCode = 11471; // "ESC"
constexpr uint16_t kReturnKeyCode = 30715; // "RET"

// Values of the characters ' ' (32) to '_' (95); any other counts 0.
static const int8_t KeyCharTable[64] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  39, 1,  0,  2,  0,  0,  // ' ' to '/'
    29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 0,  0,  0,  0,  0,  0,  // '0' to '?'
    0,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, // '@' to 'O'
    18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 0,  0,  0,  0,  0,  // 'P' to '_'
};

static const char* const kForbiddenPrefixes[] = {"BIBL", "TEST", "WIND", "OPTI", "UTIL"};

static char ProbePath[kProbePathCapacity]; // "A:." for the drive probed

static int KeyCharValue(char character)
{
    const unsigned char code = static_cast<unsigned char>(character);
    return code >= 32 && code <= 95 ? KeyCharTable[code - 32] : 0;
}

uint16_t ComputeKeyCode(const char* keyName)
{
    const size_t length = std::strlen(keyName);
    if (length < 1 || length > 3) return 0;
    uint16_t code = 0;
    for (size_t i = 0; i < length; ++i)
        code = static_cast<uint16_t>(code * 39 + KeyCharValue(keyName[i]));
    return code;
}

int16_t ProbeDrive(char driveLetter)
{
    OsSetErrorMode(kSemFailCriticalErrors);
    ProbePath[0] = driveLetter;
    ProbePath[1] = ':';
    ProbePath[2] = '.';
    ProbePath[3] = '\0';
    const int32_t file = OsOpenFile(ProbePath, kOfExist);
    OsSetErrorMode(0);
    if (file == kHFileError) return 0;
    OsCloseFile(file);
    return 1;
}

void MakeDirectoryCurrent(const char* path)
{
    char copy[kConsoleTextCapacity];
    CopyText(copy, path);
    UpperCaseAscii(copy);
    // Without a drive letter before the first ':' there is no drive to probe
    // or to change to.
    const char* colon = std::strchr(copy, ':');
    if (colon != nullptr && colon > copy && colon[-1] >= 'A' && colon[-1] <= 'Z') {
        if (colon[-1] == 'A' || colon[-1] == 'B') ProbeDrive(colon[-1]);
        const int drive = copy[0] - 64;
        if (drive >= 1 && drive <= 31) OsChangeDrive(drive);
    }
    OsChangeDirectory(copy);
}

static void TrimTextResult()
{
    TrimTrailingSpaces(CommandResult.TextResult);
    TrimLeadingSpaces(CommandResult.TextResult);
}

static bool IsForbidden(const char* command)
{
    for (const char* prefix : kForbiddenPrefixes) {
        if (std::strncmp(command, prefix, 4) == 0) return true;
    }
    return false;
}

static void RunTypedCommand(char* lastCommand)
{
    SendCommand("RECU,COMMANDE");
    TrimTextResult();
    CopyText(lastCommand, kConsoleTextCapacity, CommandResult.TextResult);
    UpperCaseAscii(lastCommand);
    if (IsForbidden(lastCommand)) {
        SendCommand("INFO,Fonction interdite");
        SendCommand("FERM");
        CommandResult.KeyName[0] = '\0';
        CommandResult.TextResult[0] = '\0';
        return;
    }
    SendCommand("RECU,COMMANDE");
    TrimTextResult();
    CopyText(lastCommand, kConsoleTextCapacity, CommandResult.TextResult);
    SendCommand("FERM");
    SendCommand("%s", lastCommand);
}

void RunConsole(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType)
{
    CommandResult.KeyName[0] = '\0';
    char libraryPath[kConsoleTextCapacity];
    FormatText(libraryPath, sizeof libraryPath, "%s%cORVANE55.OVL", LaunchContext.ExecutableDirectory, kPathSeparator);
    SendCommand("BIBLI,DISQUE,%s", libraryPath);
    SendCommand("PROJ,TITRE.OVP");
    SendCommand(LaunchContext.English ? "NATION,3" : "NATION,5");

    char lastText[kConsoleTextCapacity] = "";
    char lastCommand[kConsoleTextCapacity] = "";
    char lastKey[kKeyNameCapacity] = "";

    for (;;) {
        MakeDirectoryCurrent(LaunchContext.CurrentDirectory);
        SendCommand("Ouvre,ORVN-TST.OVW");
        SendCommand("AFFI,COMMANDE,=%s", lastCommand);
        SendCommand("Affi,OVCHAINE,=%s", lastText);
        SendCommand("AFFI,OVTOUCHE,=%s", lastKey);
        SendCommand("ECRA,SAIS");
        // Without an engine no key ever comes back: leave as on "ESC".
        const uint16_t keyCode = EngineState.Started ? ComputeKeyCode(CommandResult.KeyName) : kEscapeKeyCode;
        if (keyCode == kErrorKeyCode) {
            ErrorHandoff(errorWindowName, errorObjectName, errorObjectType);
            break;
        }
        if (keyCode == kEscapeKeyCode) {
            SendCommand("FERM");
            break;
        }
        if (keyCode == kReturnKeyCode) {
            RunTypedCommand(lastCommand);
            CopyText(lastKey, CommandResult.KeyName);
            CopyText(lastText, CommandResult.TextResult);
        }
    }
    StopEngine();
}

void ResetConsoleForTests() { std::memset(ProbePath, 0, sizeof ProbePath); }
