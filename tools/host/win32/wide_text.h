// UTF-8, ovrun's own text, to and from the UTF-16 of Windows' wide
// functions, and to and from the ANSI code page the launcher lives in.
#pragma once

#include <string>
#include <windows.h>

std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const wchar_t* wide, size_t count);
inline std::string Utf8FromWide(const std::wstring& wide) { return Utf8FromWide(wide.data(), wide.size()); }

// A path for the wide file functions: an absolute one too long for
// MAX_PATH gets the "\\?\" prefix, which lifts the limit (and takes '\' only).
std::wstring WidePath(const std::string& utf8);
