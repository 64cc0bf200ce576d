// The window test and the project test: hand the test to the engine and
// follow it screen by screen until a key ends it.
#include <cstring>

#include "common/launch_context.h"
#include "common/text.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "modes/modes.h"

static const char kAltF4French[] =
    "Vous quittez le test par [Alt]+[F4].\nCette combinaison de touche effectue la fermeture de la "
    "fen\xEAtre, sans ex\xE9"
    "cuter de code.\nCe fonctionnement n'est actif que pendant le test.";
static const char kAltF4English[] =
    "Do you want to stop the test using [Alt]+[F4].\nThis choice of key close the window, whitout "
    "execute the close code.\nThis is only for test.";

static bool IsKey(const char* key, const char* name) { return std::strcmp(key, name) == 0; }

static void ClearKeyName() { CommandResult.KeyName[0] = '\0'; }

static void SendAltF4Message() { SendCommand("INFO,%s", LaunchContext.English ? kAltF4English : kAltF4French); }

static void SendProgramStart()
{
    SendCommand("PROGRAMME,%s%c_OV_GOP /RE", LaunchContext.CurrentDirectory, kPathSeparator);
}

static bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 'a' + 'A') : *a;
        char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

void ReportUnhandledKey(const char* keyName)
{
    if (EqualsIgnoringCase(keyName, "*M*")) {
        if (LaunchContext.English)
            SendCommand("info,Menu option without code (OVTouche = \"%s\").", keyName);
        else
            SendCommand("info,Option de menu sans code (OVTouche = \"%s\").", keyName);
    } else {
        SendCommand("INFO,OVTouche=%s", keyName);
    }
}

void RunWindowTest(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType)
{
    char currentKey[kKeyNameCapacity];
    bool inScreenLoop = false;

    if (LaunchContext.RunAsProgram) {
        ClearKeyName();
        SendProgramStart();
        CopyText(currentKey, CommandResult.KeyName);
        inScreenLoop = !IsKey(currentKey, "ESC");
    } else {
        SendCommand("OUVRE,%s%c_OV_GO.OVW /RE", LaunchContext.CurrentDirectory, kPathSeparator);
        CopyText(currentKey, CommandResult.KeyName);
        if (!IsKey(currentKey, "ESC") && !IsKey(currentKey, "*E*") && !IsKey(currentKey, "AF4")) {
            ClearKeyName();
            SendCommand("ECRAN,SAISIE");
            CopyText(currentKey, CommandResult.KeyName);
            inScreenLoop = !IsKey(currentKey, "ESC");
        }
    }

    while (inScreenLoop) {
        if (IsKey(currentKey, "*E*") || IsKey(currentKey, "AF4") || currentKey[0] == '\0') break;
        ReportUnhandledKey(currentKey);
        ClearKeyName();
        currentKey[0] = '\0';
        SendCommand("FENETRE");
        if (CommandResult.IntResult <= 0) break;
        SendCommand("ECRAN,SAISIE");
        CopyText(currentKey, CommandResult.KeyName);
        if (IsKey(currentKey, "ESC")) break;
    }

    // Only "*E*" can begin with '*' here, and only "AF4" with 'A'.
    if (currentKey[0] == '*') ErrorHandoff(errorWindowName, errorObjectName, errorObjectType);
    if (currentKey[0] == 'A') SendAltF4Message();
    StopEngine();
}

void RunProjectTest(char* errorWindowName, char* errorObjectName, int16_t* errorObjectType)
{
    SendProgramStart();
    for (;;) {
        const char* key = CommandResult.KeyName;
        if (IsKey(key, "*E*")) {
            ErrorHandoff(errorWindowName, errorObjectName, errorObjectType);
            break;
        }
        if (std::strncmp(key, "AF4", 3) == 0) {
            SendAltF4Message();
            break;
        }
        if (key[0] == '\0' || IsKey(key, "ESC")) break;
        ReportUnhandledKey(key);
        ClearKeyName();
        SendCommand("FENETRE");
        if (CommandResult.IntResult <= 0) break;
        SendCommand("ECRAN,SAISIE");
    }
    StopEngine();
}
