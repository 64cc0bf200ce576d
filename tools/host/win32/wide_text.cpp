// Conversions between UTF-8, UTF-16 and the ANSI code page.
#include "wide_text.h"

#include "host.h"

#include <cwchar>

std::wstring WideFromUtf8(const std::string& utf8)
{
    if (utf8.empty()) return std::wstring();
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count > 0 ? count : 0), L'\0');
    if (count > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], count);
    return wide;
}

std::string Utf8FromWide(const wchar_t* wide, size_t count)
{
    if (count == 0) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, int(count), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide, int(count), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::wstring WidePath(const std::string& utf8)
{
    std::wstring wide = WideFromUtf8(utf8);
    const bool drive = wide.size() >= 3 && wide[1] == L':' && (wide[2] == L'\\' || wide[2] == L'/');
    if (!drive || wide.size() < MAX_PATH - 12) return wide;
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return L"\\\\?\\" + wide;
}

bool LauncherTextFromUtf8(const std::string& utf8, std::string* text)
{
    const std::wstring wide = WideFromUtf8(utf8);
    text->clear();
    if (wide.empty()) return utf8.empty();
    BOOL lossy = FALSE;
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    text->assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), &(*text)[0], size, nullptr,
                        nullptr);
    return true;
}

std::string Utf8FromLauncherText(const std::string& text)
{
    if (text.empty()) return text;
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (count <= 0) return text;
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], count);
    return Utf8FromWide(wide);
}

// msvcrt's own parse of the wide command line, by the rules that gave argv
// (shell32's CommandLineToArgvW has others, and is one more library).
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards, int* startInfo);

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    int startInfo = 0;
    if (__wgetmainargs(&count, &wide, &environment, 0, &startInfo) == 0 && count == argc) {
        for (int i = 0; i < count; ++i)
            arguments.push_back(Utf8FromWide(wide[i], wcslen(wide[i])));
        return arguments;
    }
    // Not the command line argv came from: argv's bytes as the code page's.
    for (int i = 0; i < argc; ++i)
        arguments.push_back(Utf8FromLauncherText(argv[i]));
    return arguments;
}
