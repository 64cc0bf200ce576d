/* The least a program can do to run a window test with the engine: load
   the engine library from its own directory, start the engine with a
   start-up block, send the window test's commands and follow the keys that
   come back exactly as the launcher does, stop the engine. No settings
   file, no message, no window unless asked for. bench/end_to_end.py times
   the launcher against it.

   usage: baseline_session DIRECTORY [window] [settings]
     DIRECTORY  the test's directory, put into the first command
     window     register a class and create a hidden window first, as the
                launcher does (Windows only; elsewhere it is ignored)
     settings   also make the launcher's three settings writes, in the
                cheapest way that is as safe: the command line published in
                WIN.INI before the first command, COMMANDE deleted from
                Orvane.ini and the command line withdrawn at the end (on
                Windows through the profile functions; elsewhere each file
                rewritten whole into a temporary file, flushed, renamed over
                the old one, the directory flushed) */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define ENGINE_CALL __stdcall
#define SEPARATOR '\\'
typedef HMODULE Library;
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#define ENGINE_CALL
#define SEPARATOR '/'
typedef void* Library;
extern char** environ;
#endif

typedef int32_t(ENGINE_CALL* InitEntry)(void* record, void* block);
typedef int32_t(ENGINE_CALL* FinEntry)(void* record);
typedef int32_t(ENGINE_CALL* CallEntry)(void* record);

#define RECORD_SIZE 255
#define BLOCK_SIZE 880

static unsigned char record[RECORD_SIZE];
static char key[4];
static int32_t number;
static CallEntry call;

/* Clears the record, copies the text in, calls the engine, and reads what
   the loop needs: the key when one came, the number of a typed result. */
static void Send(const char* text)
{
    size_t length = strlen(text);
    memset(record, 0, sizeof record);
    memcpy(record, text, length < RECORD_SIZE - 1 ? length : RECORD_SIZE - 1);
    call(record);
    if (record[0] & 0x80) {
        memcpy(key, record + 2, 3);
        key[3] = '\0';
    }
    if (record[0] & 0x10) {
        char text[41];
        memcpy(text, record + 48, 40);
        text[40] = '\0';
        number = atoi(text);
    }
}

static int Is(const char* name) { return strcmp(key, name) == 0; }

/* "OV55", the variant, the module's code, ".DLL", without the terminator. */
static unsigned char* PutName(unsigned char* at, char variant, const char* code)
{
    memcpy(at, "OV55", 4);
    at[4] = (unsigned char)variant;
    memcpy(at + 5, code, 3);
    memcpy(at + 8, ".DLL", 4);
    return at + 12;
}

/* The launcher's block without components: the signature, 5000, the body
   length, one entry per module (flags, the two file names, id, group), the
   end byte. */
static void FillBlock(unsigned char* block)
{
    static const struct {
        const char* code;
        int variant1, variant3, id, group;
    } modules[18] = {{"KRN", 1, 1, 0, 3},   {"GUI", 1, 1, 9, 0},  {"DTB", 1, 1, 1, 2},  {"NET", 1, 1, 11, 10},
                     {"OUT", 1, 1, 13, 9},  {"BAS", 1, 1, 10, 8}, {"DRW", 1, 1, 12, 6}, {"NUM", 1, 1, 14, 7},
                     {"BYT", 1, 1, 17, 11}, {"LFN", 1, 0, 6, 0},  {"LNG", 1, 1, 4, 0},  {"PIC", 1, 1, 5, 0},
                     {"CTL", 1, 1, 8, 0},   {"TAB", 1, 1, 2, 0},  {"SYN", 1, 1, 15, 0}, {"QRY", 1, 1, 3, 0},
                     {"EXT", 1, 1, 16, 0},  {"DRV", 0, 1, 18, 0}};
    unsigned char* at = block + 10;
    int i;
    memcpy(block, "KALMIR", 6);
    block[6] = 5000 & 0xFF;
    block[7] = 5000 >> 8;
    for (i = 0; i < 18; ++i) {
        *at++ = (unsigned char)((modules[i].group > 0 ? 1 : 0) | (modules[i].group == 2 ? 2 : 0));
        if (modules[i].variant1) at = PutName(at, '1', modules[i].code);
        *at++ = 0;
        if (modules[i].variant3) at = PutName(at, '3', modules[i].code);
        *at++ = 0;
        *at++ = (unsigned char)modules[i].id;
        *at++ = 0;
        *at++ = (unsigned char)modules[i].group;
        *at++ = 0;
    }
    *at++ = 0x80;
    block[8] = (unsigned char)((at - block - 10) & 0xFF);
    block[9] = (unsigned char)((at - block - 10) >> 8);
}

static Library LoadEngine(const char* program)
{
#ifdef _WIN32
    (void)program;
    return LoadLibraryA("OV553KRN.DLL");
#else
    /* Beside the program, as the launcher looks first. */
    char path[4096];
    const char* slash = strrchr(program, '/');
    size_t directory = slash != NULL ? (size_t)(slash - program) + 1 : 0;
    if (directory + sizeof "OV553KRN.DLL" > sizeof path) return NULL;
    memcpy(path, program, directory);
    strcpy(path + directory, "OV553KRN.DLL");
    return dlopen(path, RTLD_NOW);
#endif
}

static void* Symbol(Library library, const char* name)
{
#ifdef _WIN32
    return (void*)GetProcAddress(library, name);
#else
    return dlsym(library, name);
#endif
}

#ifdef _WIN32
static void PublishCommandLine(void)
{
    char line[300];
    GetPrivateProfileStringA("TEST", "LIGNEDECOMMANDE", "", line, sizeof line, "Orvane.ini");
    WriteProfileStringA("Orvane55", "LIGNEDECOMMANDE", line);
}

static void WithdrawRequest(void)
{
    WritePrivateProfileStringA("TEST", "COMMANDE", NULL, "Orvane.ini");
    WriteProfileStringA("Orvane55", "LIGNEDECOMMANDE", NULL);
}
#else
static char settingsPath[4096];
static char winIniPath[4096];
static char settings[65536];
static size_t settingsLength;

/* Replaces the file at path with bytes, as safely as the launcher does. */
static void WriteWhole(const char* path, const char* bytes, size_t length)
{
    char temporary[4200];
    const char* slash = strrchr(path, '/');
    int descriptor;
    snprintf(temporary, sizeof temporary, "%s.%ld.tmp", path, (long)getpid());
    descriptor = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0 || write(descriptor, bytes, length) != (ssize_t)length || fsync(descriptor) != 0) exit(6);
    close(descriptor);
    if (rename(temporary, path) != 0) exit(6);
    if (slash != NULL) {
        char directory[4096];
        size_t size = (size_t)(slash - path);
        memcpy(directory, path, size);
        directory[size] = '\0';
        descriptor = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor >= 0) {
            fsync(descriptor);
            close(descriptor);
        }
    }
}

static void PublishCommandLine(void)
{
    char text[400];
    const char* windir = getenv("WINDIR");
    const char* line;
    size_t length;
    FILE* file;
    if (windir == NULL) exit(6);
    snprintf(settingsPath, sizeof settingsPath, "%s/Orvane.ini", windir);
    snprintf(winIniPath, sizeof winIniPath, "%s/win.ini", windir);
    file = fopen(settingsPath, "rb");
    if (file == NULL) exit(6);
    settingsLength = fread(settings, 1, sizeof settings - 1, file);
    fclose(file);
    settings[settingsLength] = '\0';
    line = strstr(settings, "LIGNEDECOMMANDE=");
    line = line != NULL ? line + strlen("LIGNEDECOMMANDE=") : "";
    length = strcspn(line, "\r\n");
    snprintf(text, sizeof text, "[Orvane55]\r\nLIGNEDECOMMANDE=%.*s\r\n", (int)length, line);
    WriteWhole(winIniPath, text, strlen(text));
}

static void WithdrawRequest(void)
{
    /* The settings without their COMMANDE line. */
    char* line = strstr(settings, "\nCOMMANDE=");
    if (line != NULL) {
        char* end = strchr(line + 1, '\n');
        size_t removed = end != NULL ? (size_t)(end - line) : strlen(line);
        memmove(line, line + removed, settingsLength - (size_t)(line - settings) - removed + 1);
        settingsLength -= removed;
    }
    WriteWhole(settingsPath, settings, settingsLength);
    WriteWhole(winIniPath, "[Orvane55]\r\n", strlen("[Orvane55]\r\n"));
}
#endif

#ifdef _WIN32
static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

static void CreateHiddenWindow(void)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "BASELINE";
    RegisterClassA(&windowClass);
    CreateWindowExA(0, "BASELINE", "BASELINE", WS_POPUP, -10, -10, 10, 10, NULL, NULL, windowClass.hInstance, NULL);
}
#endif

int main(int argc, char** argv)
{
    char text[256];
    unsigned char* block;
    Library library;
    InitEntry init;
    FinEntry fin;
    int inLoop;
    int window = 0;
    int withSettings = 0;
    int i;
    if (argc < 2) {
        fprintf(stderr, "usage: baseline_session DIRECTORY [window] [settings]\n");
        return 2;
    }
    for (i = 2; i < argc; ++i) {
        window |= strcmp(argv[i], "window") == 0;
        withSettings |= strcmp(argv[i], "settings") == 0;
    }
    if (withSettings) PublishCommandLine();
#ifdef _WIN32
    if (window) CreateHiddenWindow();
#else
    (void)window;
#endif
    library = LoadEngine(argv[0]);
    if (library == NULL) return 4;
    init = (InitEntry)Symbol(library, "OV4InitInstance");
    fin = (FinEntry)Symbol(library, "FinInstance");
    call = (CallEntry)Symbol(library, "OVCALLC");
    if (Symbol(library, "AffTexteLongC") == NULL || init == NULL || fin == NULL || call == NULL) return 4;

    block = (unsigned char*)calloc(1, BLOCK_SIZE);
    if (block == NULL) return 4;
    FillBlock(block);
    if (init(record, block) == 0) return 5;
    free(block);

#ifdef _WIN32
    snprintf(text, sizeof text, "ENVI,%lu", (unsigned long)(uintptr_t)GetEnvironmentStringsA());
#else
    snprintf(text, sizeof text, "ENVI,%lu", (unsigned long)(uintptr_t)environ);
#endif
    Send(text);

    /* The window test, as the launcher runs it. */
    snprintf(text, sizeof text, "OUVRE,%s%c_OV_GO.OVW /RE", argv[1], SEPARATOR);
    Send(text);
    inLoop = 0;
    if (!Is("ESC") && !Is("*E*") && !Is("AF4")) {
        key[0] = '\0';
        Send("ECRAN,SAISIE");
        inLoop = !Is("ESC");
    }
    while (inLoop) {
        if (Is("*E*") || Is("AF4") || key[0] == '\0') break;
        snprintf(text, sizeof text, "INFO,OVTouche=%s", key);
        Send(text);
        key[0] = '\0';
        Send("FENETRE");
        if (number <= 0) break;
        Send("ECRAN,SAISIE");
        if (Is("ESC")) break;
    }
    fin(record);
#ifdef _WIN32
    FreeLibrary(library);
#else
    dlclose(library);
#endif
    if (withSettings) WithdrawRequest();
    return 0;
}
