/* An engine library that lacks OVCALLC. The launcher must release it without
   calling into it: every entry point here ends the process abnormally. */
#include <stdlib.h>

#if defined(_WIN32)
#define ENGINE_ENTRY __declspec(dllexport) __attribute__((stdcall))
#else
#define ENGINE_ENTRY __attribute__((visibility("default")))
#endif

ENGINE_ENTRY int AffTexteLongC(void) { abort(); }
ENGINE_ENTRY int OV4InitInstance(void* record, void* block)
{
    (void)record;
    (void)block;
    abort();
}
ENGINE_ENTRY int FinInstance(void* record)
{
    (void)record;
    abort();
}
