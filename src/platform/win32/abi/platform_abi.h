// Calling conventions and path rules of the Windows target.
#pragma once

// The convention of the Win32 interfaces: the callee removes its arguments.
#define OV_WINAPI __attribute__((stdcall))
// The engine library's entry points use the same convention.
#define OV_ENGINE_CALL __attribute__((stdcall))
#define OV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))

constexpr char kPathSeparator = '\\';
