// The launcher's whole view of the operating system: a narrow, Win32-shaped
// set of procedures. src/platform/win32/ passes each one straight to the
// Win32 function of the same name; src/platform/posix/ implements them for
// Linux; the unit tests link a recording fake in their place. The build puts
// the chosen folder's abi/ on the include path, which supplies platform_abi.h.
//
// Texts are single-byte (Windows ANSI code page) and NUL-terminated. No
// procedure keeps a pointer it was given beyond the call, except where said.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform_abi.h" // OV_WINAPI, OV_ENGINE_CALL, OV_PRINTF_FORMAT, kPathSeparator

typedef struct OsInstance* InstanceHandle;
typedef struct OsWindow* WindowHandle;
typedef struct OsModule* ModuleHandle;
typedef struct OsGlobal* GlobalMemoryHandle;
typedef struct OsCursor* CursorHandle;
typedef struct OsBrush* BrushHandle;
typedef struct OsIcon* IconHandle;
typedef struct OsMenu* MenuHandle;
typedef void (*ProcAddress)(void);

typedef intptr_t(OV_WINAPI* WindowProcedure)(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// --- Profile files -------------------------------------------------------
// A file name without a directory means the Windows directory; an existing
// file whose name matches ignoring case is the one used.

// Copies the value of section/key (or the default, or "" for a null
// default) into buffer, cut to size-1 bytes, and returns the bytes copied.
// size 0 leaves the buffer untouched. A missing file or key is not an error.
// List mode: a null section lists the file's section names, a null key the
// section's key names, each ended by a NUL and the list by one more NUL; the
// return value leaves out that last NUL, and a list that does not fit is cut
// to size-2 bytes and ended by two NULs (ovrun and ovini rely on it).
// A file that begins with a byte-order mark (UTF-8, UTF-16 LE or BE) is read
// as Unicode text, names and values handed over in the ANSI code page, and
// written back in its own encoding.
uint32_t OsGetPrivateProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                                   uint32_t size, const char* fileName);
// Writes value under section/key; a null value deletes the key, a null key
// deletes the section. Returns nonzero on success, 0 when the file cannot be
// written (read-only file, missing or unwritable directory, no space).
int32_t OsWritePrivateProfileString(const char* section, const char* key, const char* value, const char* fileName);
// The same two on WIN.INI.
uint32_t OsGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size);
int32_t OsWriteProfileString(const char* section, const char* key, const char* value);

// --- Environment ---------------------------------------------------------
// "NAME=value" strings, each ended by a NUL, one more NUL at the end. Valid
// until freed; null when it cannot be had.
char* OsGetEnvironmentStrings();
int32_t OsFreeEnvironmentStrings(char* block);

// --- Modules and libraries -----------------------------------------------
// Null when no loaded module has that file name.
ModuleHandle OsGetModuleHandle(const char* moduleName);
// Full path of the module's file cut to size-1; returns its length, 0 on failure.
uint32_t OsGetModuleFileName(ModuleHandle module, char* buffer, uint32_t size);
// Null when the library cannot be loaded. Loading a loaded library again
// returns the same handle and counts one more reference.
ModuleHandle OsLoadLibrary(const char* fileName);
ProcAddress OsGetProcAddress(ModuleHandle module, const char* name);
int32_t OsFreeLibrary(ModuleHandle module);

// --- Global memory -------------------------------------------------------
constexpr uint32_t kGmemMoveable = 0x0002;
constexpr uint32_t kGmemZeroInit = 0x0040;
constexpr uint32_t kGhnd = kGmemMoveable | kGmemZeroInit;

GlobalMemoryHandle OsGlobalAlloc(uint32_t flags, uint32_t size);
// Adds one lock to a movable block and returns its address.
void* OsGlobalLock(GlobalMemoryHandle memory);
GlobalMemoryHandle OsGlobalHandle(const void* address);
// Removes one lock; returns nonzero while locks remain.
int32_t OsGlobalUnlock(GlobalMemoryHandle memory);
// Returns null on success, the handle on failure.
GlobalMemoryHandle OsGlobalFree(GlobalMemoryHandle memory);

// --- Windows, messages, beep ---------------------------------------------
constexpr uint32_t kMbOk = 0x0000;
constexpr uint32_t kCsVRedraw = 0x0001;
constexpr uint32_t kCsHRedraw = 0x0002;
constexpr uint32_t kWsPopup = 0x80000000u;
constexpr uint32_t kIdcArrow = 32512; // the standard arrow cursor's resource number
constexpr int32_t kWhiteBrush = 0;    // stock object number

struct OsWindowClass {
    uint32_t style;
    WindowProcedure procedure;
    int32_t classExtraBytes;
    int32_t windowExtraBytes;
    InstanceHandle instance;
    IconHandle icon;
    CursorHandle cursor;
    BrushHandle background;
    const char* menuName;
    const char* className;
};

// Blocks until the user closes the box.
int32_t OsMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type);
int32_t OsMessageBeep(uint32_t type);
CursorHandle OsLoadCursor(InstanceHandle instance, uint32_t cursorId);
BrushHandle OsGetStockBrush(int32_t object);
// Returns the class atom, 0 on failure.
uint16_t OsRegisterClass(const OsWindowClass* windowClass);
WindowHandle OsCreateWindowEx(uint32_t exStyle, const char* className, const char* title, uint32_t style, int32_t x,
                              int32_t y, int32_t width, int32_t height, WindowHandle parent, MenuHandle menu,
                              InstanceHandle instance, void* creationData);
int32_t OsDestroyWindow(WindowHandle window);
intptr_t OsDefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// --- Error mode, files, drive and directory -------------------------------
constexpr uint32_t kSemFailCriticalErrors = 0x0001;
constexpr uint32_t kOfExist = 0x4000;
constexpr int32_t kHFileError = -1;

// Sets the process error mode; returns the previous one.
uint32_t OsSetErrorMode(uint32_t mode);
// OpenFile: with kOfExist, tests that the path exists; kHFileError when not.
int32_t OsOpenFile(const char* path, uint32_t style);
int32_t OsCloseFile(int32_t file);
// Drive 1 is A:. Returns 0 on success.
int32_t OsChangeDrive(int32_t drive);
// Returns 0 on success.
int32_t OsChangeDirectory(const char* path);

// --- Trace file, clock, local time -----------------------------------------
typedef struct OsAppendFile* AppendFileHandle;

// The Windows directory, cut to size-1 bytes; returns its length, 0 on failure.
uint32_t OsGetWindowsDirectory(char* buffer, uint32_t size);
// Opens path for writing at its end, creating it when missing (on Linux
// with mode 0600: readable and writable by its owner alone). *existingSize
// gets the bytes it held already and *lastByte the last of them ('\n' when
// it cannot be read, 0 when there is none). Null when it cannot be opened.
AppendFileHandle OsOpenAppendFile(const char* path, uint32_t* existingSize, char* lastByte);
// Writes the bytes at the file's end, handed to the system before it
// returns, so they stay even when the process dies next. Nonzero when all
// were written.
int32_t OsWriteAppendFile(AppendFileHandle file, const void* bytes, uint32_t size);
// Null does nothing.
void OsCloseAppendFile(AppendFileHandle file);

// A steady clock in ticks, and its ticks per second (never 0).
uint64_t OsQueryPerformanceCounter();
uint64_t OsQueryPerformanceFrequency();

struct OsLocalTime {
    uint16_t year, month, day, hour, minute, second;
};
void OsGetLocalTime(OsLocalTime* time);

// --- Process -------------------------------------------------------------
// Ends the process through the standard library's exit; does not return.
[[noreturn]] void OsExitProcess(int status);
