// The Windows target: each platform procedure hands its arguments to the
// Win32 (or C runtime) function it is named after and converts between the
// layer's handle types and the Win32 ones. A few hold a result to the
// layer's contract: a Windows directory that does not fit is a failure, a
// trace file's unknown size is 0, a short write fails, a clock frequency is
// never 0; the process ends through the C runtime's exit.
#include <direct.h>
#include <windows.h>

#include <cstdlib>

#include "platform.h"

// The platform's handle types are opaque pointers, as are the Win32 ones, so
// a handle converts both ways without changing its bits.
template <typename To, typename From> static To Convert(From handle)
{
    static_assert(sizeof(To) == sizeof(From), "handles are pointer-sized");
    return reinterpret_cast<To>(handle);
}

// --- Profile files -------------------------------------------------------

uint32_t OsGetPrivateProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                                   uint32_t size, const char* fileName)
{
    return GetPrivateProfileStringA(section, key, defaultText, buffer, size, fileName);
}

int32_t OsWritePrivateProfileString(const char* section, const char* key, const char* value, const char* fileName)
{
    return WritePrivateProfileStringA(section, key, value, fileName);
}

uint32_t OsGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, uint32_t size)
{
    return GetProfileStringA(section, key, defaultText, buffer, size);
}

int32_t OsWriteProfileString(const char* section, const char* key, const char* value)
{
    return WriteProfileStringA(section, key, value);
}

// --- Environment ---------------------------------------------------------

char* OsGetEnvironmentStrings()
{
    // The ANSI block; a build with UNICODE defined would not compile here.
    return GetEnvironmentStringsA();
}

int32_t OsFreeEnvironmentStrings(char* block) { return FreeEnvironmentStringsA(block); }

// --- Modules and libraries -----------------------------------------------

ModuleHandle OsGetModuleHandle(const char* moduleName) { return Convert<ModuleHandle>(GetModuleHandleA(moduleName)); }

uint32_t OsGetModuleFileName(ModuleHandle module, char* buffer, uint32_t size)
{
    return GetModuleFileNameA(Convert<HMODULE>(module), buffer, size);
}

ModuleHandle OsLoadLibrary(const char* fileName) { return Convert<ModuleHandle>(LoadLibraryA(fileName)); }

ProcAddress OsGetProcAddress(ModuleHandle module, const char* name)
{
    return reinterpret_cast<ProcAddress>(GetProcAddress(Convert<HMODULE>(module), name));
}

int32_t OsFreeLibrary(ModuleHandle module) { return FreeLibrary(Convert<HMODULE>(module)); }

// --- Global memory -------------------------------------------------------

GlobalMemoryHandle OsGlobalAlloc(uint32_t flags, uint32_t size)
{
    return Convert<GlobalMemoryHandle>(GlobalAlloc(flags, size));
}

void* OsGlobalLock(GlobalMemoryHandle memory) { return GlobalLock(Convert<HGLOBAL>(memory)); }

GlobalMemoryHandle OsGlobalHandle(const void* address) { return Convert<GlobalMemoryHandle>(GlobalHandle(address)); }

int32_t OsGlobalUnlock(GlobalMemoryHandle memory) { return GlobalUnlock(Convert<HGLOBAL>(memory)); }

GlobalMemoryHandle OsGlobalFree(GlobalMemoryHandle memory)
{
    return Convert<GlobalMemoryHandle>(GlobalFree(Convert<HGLOBAL>(memory)));
}

// --- Windows, messages, beep ---------------------------------------------

int32_t OsMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type)
{
    return MessageBoxA(Convert<HWND>(owner), text, caption, type);
}

int32_t OsMessageBeep(uint32_t type) { return MessageBeep(type); }

CursorHandle OsLoadCursor(InstanceHandle instance, uint32_t cursorId)
{
    return Convert<CursorHandle>(LoadCursorA(Convert<HINSTANCE>(instance), MAKEINTRESOURCEA(cursorId)));
}

BrushHandle OsGetStockBrush(int32_t object) { return Convert<BrushHandle>(GetStockObject(object)); }

uint16_t OsRegisterClass(const OsWindowClass* windowClass)
{
    WNDCLASSA nativeClass;
    nativeClass.style = windowClass->style;
    // Same convention (stdcall) and argument sizes, so the system can call
    // the procedure through the Win32 type.
    nativeClass.lpfnWndProc = reinterpret_cast<WNDPROC>(windowClass->procedure);
    nativeClass.cbClsExtra = windowClass->classExtraBytes;
    nativeClass.cbWndExtra = windowClass->windowExtraBytes;
    nativeClass.hInstance = Convert<HINSTANCE>(windowClass->instance);
    nativeClass.hIcon = Convert<HICON>(windowClass->icon);
    nativeClass.hCursor = Convert<HCURSOR>(windowClass->cursor);
    nativeClass.hbrBackground = Convert<HBRUSH>(windowClass->background);
    nativeClass.lpszMenuName = windowClass->menuName;
    nativeClass.lpszClassName = windowClass->className;
    return RegisterClassA(&nativeClass);
}

WindowHandle OsCreateWindowEx(uint32_t exStyle, const char* className, const char* title, uint32_t style, int32_t x,
                              int32_t y, int32_t width, int32_t height, WindowHandle parent, MenuHandle menu,
                              InstanceHandle instance, void* creationData)
{
    return Convert<WindowHandle>(CreateWindowExA(exStyle, className, title, style, x, y, width, height,
                                                 Convert<HWND>(parent), Convert<HMENU>(menu),
                                                 Convert<HINSTANCE>(instance), creationData));
}

int32_t OsDestroyWindow(WindowHandle window) { return DestroyWindow(Convert<HWND>(window)); }

intptr_t OsDefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return DefWindowProcA(Convert<HWND>(window), message, wParam, lParam);
}

// --- Error mode, files, drive and directory -------------------------------

uint32_t OsSetErrorMode(uint32_t mode) { return SetErrorMode(mode); }

int32_t OsOpenFile(const char* path, uint32_t style)
{
    // The caller wants only the handle; the structure is filled and dropped.
    OFSTRUCT openInfo;
    return OpenFile(path, &openInfo, style);
}

int32_t OsCloseFile(int32_t file) { return _lclose(file); }

int32_t OsChangeDrive(int32_t drive) { return _chdrive(drive); }

int32_t OsChangeDirectory(const char* path)
{
    // The C runtime's call, like the drive change beside it: 0 on success.
    return _chdir(path);
}

// --- Trace file, clock, local time -----------------------------------------

uint32_t OsGetWindowsDirectory(char* buffer, uint32_t size)
{
    // A buffer too small gets the size needed back; it is taken as a failure.
    const UINT length = GetWindowsDirectoryA(buffer, size);
    return length < size ? length : 0;
}

AppendFileHandle OsOpenAppendFile(const char* path, uint32_t* existingSize, char* lastByte)
{
    // Append access without write access: every write goes to the end, even
    // when another process appends too. Read access only for the last byte:
    // a file that allows appending alone will do.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES, share, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool readable = file != INVALID_HANDLE_VALUE;
    if (!readable)
        file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const DWORD size = GetFileSize(file, nullptr);
    *existingSize = size == INVALID_FILE_SIZE ? 0 : size;
    *lastByte = 0;
    if (*existingSize > 0) {
        OVERLAPPED at = {};
        at.Offset = *existingSize - 1;
        DWORD read = 0;
        if (!readable || !ReadFile(file, lastByte, 1, &read, &at) || read != 1) *lastByte = '\n';
    }
    return Convert<AppendFileHandle>(file);
}

int32_t OsWriteAppendFile(AppendFileHandle file, const void* bytes, uint32_t size)
{
    DWORD written = 0;
    return WriteFile(Convert<HANDLE>(file), bytes, size, &written, nullptr) && written == size ? 1 : 0;
}

void OsCloseAppendFile(AppendFileHandle file)
{
    if (file != nullptr) CloseHandle(Convert<HANDLE>(file));
}

uint64_t OsQueryPerformanceCounter()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<uint64_t>(count.QuadPart);
}

uint64_t OsQueryPerformanceFrequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? static_cast<uint64_t>(frequency.QuadPart) : 1;
}

void OsGetLocalTime(OsLocalTime* time)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    *time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// --- Process -------------------------------------------------------------

void OsExitProcess(int status) { std::exit(status); }
