/* An engine library that starts and then never answers a command: a replay
   against it can only end by its time-out. */
#include <unistd.h>

#define ENGINE_ENTRY __attribute__((visibility("default")))

ENGINE_ENTRY int AffTexteLongC(void) { return 0; }
ENGINE_ENTRY int OV4InitInstance(void* record, void* block)
{
    (void)record;
    (void)block;
    return 1;
}
ENGINE_ENTRY int FinInstance(void* record)
{
    (void)record;
    return 0;
}
ENGINE_ENTRY int OVCALLC(void* record)
{
    (void)record;
    for (;;)
        pause();
}
