// The engine library as the launcher sees it from outside: its file name and
// the prototypes of the entry points it exports (engine_loader.cpp names
// them, in the order they are looked up).
#pragma once

#include <cstdint>

#include "common/editor_protocol.h" // kEngineLibraryName
#include "platform.h"

// Every argument is one address-sized value, passed in the order shown.
typedef int32_t(OV_ENGINE_CALL* InitInstanceEntry)(void* record, void* startupBlock);
typedef int32_t(OV_ENGINE_CALL* FinInstanceEntry)(void* record);
typedef int32_t(OV_ENGINE_CALL* CommandEntry)(void* record);
