// Calling conventions and path rules of the Linux target.
#pragma once

#define OV_WINAPI
// The engine library's entry points use the C calling convention here.
#define OV_ENGINE_CALL
#define OV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))

// Wherever the launcher builds, trims or splits a path it uses this byte.
constexpr char kPathSeparator = '/';
