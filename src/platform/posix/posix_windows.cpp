// The Linux side of the window procedures: there is no window system, so
// classes and windows are names and numbers, the cursor and the stock
// brushes are dummy objects, and a message box is a line on standard error.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_library.h"
#include "posix_no_throw.h"
#include "posix_paths.h"

namespace {

// The cursor and the stock brushes are distinct dummy objects; classes and
// windows are names and numbers in two lists.
char ArrowCursor;     // the one cursor every id gets
char StockBrushes[6]; // WHITE_BRUSH (0) to NULL_BRUSH (5)

constexpr uint16_t kFirstClassAtom = 0xC000; // where Windows numbers registered classes
constexpr uintptr_t kFirstWindow = 0x10000;  // window handles count up from here, by 4

std::vector<std::string> ClassNames; // atom kFirstClassAtom + index
std::vector<uintptr_t> LiveWindows;  // handles created and not destroyed
uintptr_t NextWindow = kFirstWindow;

bool ClassIsRegistered(const char* className)
{
    if (className == nullptr) return false;
    for (const std::string& name : ClassNames) {
        // Class names ignore case.
        if (EqualIgnoringAsciiCase(name, className)) return true;
    }
    return false;
}

} // namespace

int32_t OsMessageBox(WindowHandle, const char* text, const char* caption, uint32_t)
{
    // "CAPTION: TEXT" on one line, the bytes as given. Windows' default
    // caption is "Error".
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
    // The box that follows a failed load says why, on a line of its own:
    // the core's text names no file and no cause.
    if (LibraryFailure[0] != '\0') {
        std::fprintf(stderr, "%s\n", LibraryFailure);
        LibraryFailure[0] = '\0';
    }
    std::fflush(stderr);
    // Only a person at a terminal can close the box.
    if (isatty(STDIN_FILENO)) {
        int character;
        do {
            character = std::getchar();
        } while (character != '\n' && character != EOF);
    }
    constexpr int32_t kIdOk = 1;
    return kIdOk;
}

int32_t OsMessageBeep(uint32_t)
{
    if (isatty(STDERR_FILENO)) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
    return 1;
}

CursorHandle OsLoadCursor(InstanceHandle, uint32_t) { return reinterpret_cast<CursorHandle>(&ArrowCursor); }

BrushHandle OsGetStockBrush(int32_t object)
{
    if (object < 0 || object >= static_cast<int32_t>(sizeof StockBrushes)) return nullptr;
    return reinterpret_cast<BrushHandle>(&StockBrushes[object]);
}

uint16_t OsRegisterClass(const OsWindowClass* windowClass)
{
    if (windowClass == nullptr || windowClass->className == nullptr || windowClass->className[0] == '\0') return 0;
    // A class registered twice fails the second time.
    if (ClassIsRegistered(windowClass->className)) return 0;
    if (ClassNames.size() >= 0x4000u) return 0;
    return WithoutExceptions(static_cast<uint16_t>(0), [&] {
        ClassNames.push_back(windowClass->className);
        return static_cast<uint16_t>(kFirstClassAtom + ClassNames.size() - 1);
    });
}

WindowHandle OsCreateWindowEx(uint32_t, const char* className, const char*, uint32_t, int32_t, int32_t, int32_t,
                              int32_t, WindowHandle, MenuHandle, InstanceHandle, void*)
{
    if (!ClassIsRegistered(className)) return nullptr;
    return WithoutExceptions(static_cast<WindowHandle>(nullptr), [&] {
        LiveWindows.push_back(NextWindow);
        NextWindow += 4;
        return reinterpret_cast<WindowHandle>(LiveWindows.back());
    });
}

int32_t OsDestroyWindow(WindowHandle window)
{
    for (auto live = LiveWindows.begin(); live != LiveWindows.end(); ++live) {
        if (*live == reinterpret_cast<uintptr_t>(window)) {
            LiveWindows.erase(live);
            return 1;
        }
    }
    return 0;
}

intptr_t OsDefWindowProc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }
