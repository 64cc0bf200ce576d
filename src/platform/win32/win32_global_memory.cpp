// The Windows target's global-memory procedures. They live apart from the
// rest of the layer because <windows.h> declares a function GlobalHandle,
// which collides with the platform's handle type of that name; this file
// spells the type out instead of including platform.h. Drifted parameters
// would leave the core's calls unresolved at link time, but a drifted return
// type would link (it is not part of the mangled name): keep the return
// types in step with platform.h by hand.
#include <windows.h>

#include <cstdint>

struct OsGlobal; // GlobalHandle in platform.h is OsGlobal*

static OsGlobal* ToPlatform(HGLOBAL memory) { return reinterpret_cast<OsGlobal*>(memory); }

static HGLOBAL ToWin32(OsGlobal* memory) { return reinterpret_cast<HGLOBAL>(memory); }

OsGlobal* OsGlobalAlloc(uint32_t flags, uint32_t size) { return ToPlatform(GlobalAlloc(flags, size)); }

void* OsGlobalLock(OsGlobal* memory) { return GlobalLock(ToWin32(memory)); }

OsGlobal* OsGlobalHandle(const void* address) { return ToPlatform(GlobalHandle(address)); }

int32_t OsGlobalUnlock(OsGlobal* memory) { return GlobalUnlock(ToWin32(memory)); }

OsGlobal* OsGlobalFree(OsGlobal* memory) { return ToPlatform(GlobalFree(ToWin32(memory))); }
