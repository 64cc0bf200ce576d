// The entry procedure: the hidden window, the published command line, the
// language, the engine's first command, the request read from the settings
// file, one test mode, and the exit sequence.
#include "launcher/launcher.h"

#include <cstring>

#include "common/editor_protocol.h"
#include "common/launch_context.h"
#include "common/settings.h"
#include "common/text.h"
#include "engine/command_channel.h"
#include "engine/engine_loader.h"
#include "engine/session_trace.h"
#include "modes/modes.h"

LaunchContextRecord LaunchContext;
char ErrorWindowName[kErrorWindowNameCapacity];
char ErrorObjectName[kErrorObjectNameCapacity];

static const char kClassName[] = "TEST";
static const char kTraceFailedFrench[] =
    "INFO,Impossible d'ouvrir le fichier de trace %.200s ; le test continue sans trace.";
static const char kTraceFailedEnglish[] = "INFO,Can not open the trace file %.200s; the test goes on without a trace.";
constexpr uint32_t kWorkBufferSize = 300;
constexpr uint32_t kLanguageBufferSize = 10;
// A build whose addresses are wider than the "ENVI," number (the 64-bit
// Windows test build: its unsigned long has 32 bits) ends with this status
// rather than send a cut address.
constexpr int kAddressCutExitStatus = 70;

intptr_t OV_WINAPI LauncherWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return OsDefWindowProc(window, message, wParam, lParam);
}

// The environment block's address as the "ENVI," number carries it. Where
// the number would cut it, says so and ends the process.
static unsigned long EnvironmentNumber(const char* environment)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(environment);
    const unsigned long number = static_cast<unsigned long>(address);
    if (static_cast<uintptr_t>(number) != address) {
        OsMessageBox(
            nullptr,
            LaunchContext.English
                ? "ENVI: the environment block lies above 4 GiB, where this build cannot hand it to the engine."
                : "ENVI : le bloc d'environnement est au-del\xE0 de 4 Go, o\xF9 ce programme ne peut pas le "
                  "passer au moteur.",
            "ERROR", kMbOk);
        OsExitProcess(kAddressCutExitStatus);
    }
    return number;
}

// Editor path: the request's directories and mode. Returns the mode letter.
static char ReadEditorRequest(char* work)
{
    CopyText(LaunchContext.EditorMarker, kEditorMarker);
    ReadSetting(kTestSection, kRequestKeys[kExecutableDirectory], "", LaunchContext.ExecutableDirectory,
                kDirectoryCapacity);
    ReadSetting(kTestSection, kRequestKeys[kCurrentDirectory], "", LaunchContext.CurrentDirectory, kDirectoryCapacity);
    const size_t length = std::strlen(LaunchContext.CurrentDirectory);
    if (length > 0 && LaunchContext.CurrentDirectory[length - 1] == kPathSeparator)
        LaunchContext.CurrentDirectory[length - 1] = '\0';
    ReadSetting(kTestSection, kRequestKeys[kParam1], "", work, kWorkBufferSize);
    if (work[0] == 'P') LaunchContext.RunAsProgram = 1;
    ReadSetting(kTestSection, kRequestKeys[kParam2], "", work, kWorkBufferSize);
    return work[0];
}

extern "C" int OV_WINAPI WinMain(InstanceHandle instance, InstanceHandle, char*, int)
{
    OsWindowClass windowClass;
    windowClass.style = kCsHRedraw | kCsVRedraw;
    windowClass.procedure = LauncherWindowProc;
    windowClass.classExtraBytes = 0;
    windowClass.windowExtraBytes = 0;
    windowClass.instance = instance;
    windowClass.icon = nullptr;
    windowClass.cursor = OsLoadCursor(nullptr, kIdcArrow);
    windowClass.background = OsGetStockBrush(kWhiteBrush);
    windowClass.menuName = kClassName;
    windowClass.className = kClassName;
    if (OsRegisterClass(&windowClass) == 0) {
        OsMessageBeep(0);
        return 0;
    }

    CopyText(SettingsFileName, kSettingsFileName);
    StartSessionTrace();

    // Shared by the four 300-byte reads.
    char work[kWorkBufferSize];
    ReadSetting(kTestSection, kRequestKeys[kCommandLine], "", work, kWorkBufferSize);
    WriteWinIniSetting(kProductSection, kRequestKeys[kCommandLine], work);

    WindowHandle window =
        OsCreateWindowEx(0, kClassName, kClassName, kWsPopup, -10, -10, 10, 10, nullptr, nullptr, instance, nullptr);

    char language[kLanguageBufferSize];
    ReadSetting(kProductSection, kLanguageKey, "FRENCH", language, kLanguageBufferSize);
    LaunchContext.English = language[0] == 'U' ? 1 : 0;

    char* environment = OsGetEnvironmentStrings();
    SendCommand("ENVI,%lu", EnvironmentNumber(environment));
    // Told after the first command, so that it stays the first of every run.
    if (SessionTrace.OpenFailed)
        SendCommand(LaunchContext.English ? kTraceFailedEnglish : kTraceFailedFrench, SessionTrace.Path);

    int16_t errorObjectType = 0;
    ReadSetting(kTestSection, kRequestKeys[kCommand], "", work, kWorkBufferSize);
    if (std::strcmp(work, kEditorMarker) == 0) {
        switch (ReadEditorRequest(work)) {
        case 'F':
            RunWindowTest(ErrorWindowName, ErrorObjectName, &errorObjectType);
            break;
        case 'I':
            RunConsole(ErrorWindowName, ErrorObjectName, &errorObjectType);
            break;
        case 'P':
            RunProjectTest(ErrorWindowName, ErrorObjectName, &errorObjectType);
            break;
        default:
            // No mode: the engine that the first command started is stopped
            // here, as every mode stops it before it returns.
            StopEngine();
            break;
        }
    } else {
        LaunchContext.RunAsProgram = 0;
        ModuleDirectory("OVTST552.EXE", LaunchContext.ExecutableDirectory, kDirectoryCapacity);
        CopyText(LaunchContext.CurrentDirectory, LaunchContext.ExecutableDirectory);
        LaunchContext.EditorMarker[0] = '\0';
        RunConsole(ErrorWindowName, ErrorObjectName, &errorObjectType);
    }

    WriteSetting(kTestSection, kRequestKeys[kCommand], "");
    OsDestroyWindow(window);
    WriteWinIniSetting(kProductSection, kRequestKeys[kCommandLine], nullptr);
    OsFreeEnvironmentStrings(environment);
    EndSessionTrace();
    return 0;
}

void ResetProcessStateForTests()
{
    std::memset(&LaunchContext, 0, sizeof LaunchContext);
    std::memset(ErrorWindowName, 0, sizeof ErrorWindowName);
    std::memset(ErrorObjectName, 0, sizeof ErrorObjectName);
    ResetSettingsForTests();
    ResetCommandChannelForTests();
    ResetEngineLoaderForTests();
    ResetSessionTraceForTests();
    ResetConsoleForTests();
    ResetErrorHandoffForTests();
}
