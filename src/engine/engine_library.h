// The engine library as the launcher sees it from outside: its file name,
// the names it exports in the order they are looked up, and their prototypes.
#pragma once

#include <cstdint>

#include "platform.h"

constexpr char kEngineLibraryName[] = "OV553KRN.DLL";

// AffTexteLongC is looked up and never called.
constexpr int kEntryPointCount = 4;
constexpr const char* kEntryPointNames[kEntryPointCount] = {"AffTexteLongC", "OV4InitInstance", "FinInstance",
                                                            "OVCALLC"};

// Every argument is one address-sized value, passed in the order shown.
typedef int32_t(OV_ENGINE_CALL* InitInstanceEntry)(void* record, void* startupBlock);
typedef int32_t(OV_ENGINE_CALL* FinInstanceEntry)(void* record);
typedef int32_t(OV_ENGINE_CALL* CommandEntry)(void* record);
