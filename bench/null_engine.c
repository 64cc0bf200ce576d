/* The do-nothing engine: a library with the engine's file name and four
   entry points that return at once, so that instructions counted for a
   program that drives it are the program's own, not an engine's. Built for
   the benchmarks only (bench/end_to_end.py --callgrind).

   Every reply is empty (the flags byte cleared), so a window test opens, finds
   no key and ends: a start and an exit. With OV_NULL_ENGINE_SCREENS=N the
   window test's screens are answered too, with as little work: "ECRAN,SAISIE"
   gets the key XYZ N times and then ESC, "FENETRE" the number 1, any other
   command an empty reply. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static long screensLeft;
static int playsScreens;

EXPORT int32_t AffTexteLongC(void) { return 0; }

EXPORT int32_t OV4InitInstance(void* record, void* startupBlock)
{
    const char* screens = getenv("OV_NULL_ENGINE_SCREENS");
    (void)record;
    (void)startupBlock;
    playsScreens = screens != NULL && screens[0] != '\0';
    screensLeft = playsScreens ? atol(screens) : 0;
    return 1;
}

EXPORT int32_t FinInstance(void* record)
{
    (void)record;
    return 1;
}

EXPORT int32_t OVCALLC(void* record)
{
    unsigned char* bytes = (unsigned char*)record;
    if (playsScreens && bytes[0] == 'E' && strcmp((const char*)bytes, "ECRAN,SAISIE") == 0) {
        bytes[0] = 0x80; /* a key name */
        memcpy(bytes + 2, screensLeft-- > 0 ? "XYZ" : "ESC", 3);
        return 0;
    }
    if (playsScreens && bytes[0] == 'F' && strcmp((const char*)bytes, "FENETRE") == 0) {
        bytes[0] = 0x11; /* text, kind 1: a number */
        bytes[47] = 1;
        bytes[48] = '1';
        return 0;
    }
    bytes[0] = 0;
    return 0;
}
