// The module table, the start-up block and its global memory.
#include "engine/startup_block.h"

#include <cstring>

#include "common/settings.h"
#include "common/text.h"
#include "platform.h"

const int32_t kModuleCount = 18;

const ModuleInfo ModuleTable[] = {
    {"Noyau", "KRN", 1, 1, 0, 3},
    {"Interface", "GUI", 1, 1, 9, 0},
    {"Base de donn\xE9"
     "es",
     "DTB", 1, 1, 1, 2},
    {"R\xE9seau", "NET", 1, 1, 11, 10},
    {"Impression", "OUT", 1, 1, 13, 9},
    {"Langage", "BAS", 1, 1, 10, 8},
    {"Dessin", "DRW", 1, 1, 12, 6},
    {"Calcul", "NUM", 1, 1, 14, 7},
    {"Octets", "BYT", 1, 1, 17, 11},
    {"Noms longs", "LFN", 1, 0, 6, 0},
    {"Langues", "LNG", 1, 1, 4, 0},
    {"Images", "PIC", 1, 1, 5, 0},
    {"Contr\xF4les", "CTL", 1, 1, 8, 0},
    {"Tableaux", "TAB", 1, 1, 2, 0},
    {"Synchronisation", "SYN", 1, 1, 15, 0},
    {"Requ\xEAtes", "QRY", 1, 1, 3, 0},
    {"Extensions", "EXT", 1, 1, 16, 0},
    {"Pilotes", "DRV", 0, 1, 18, 0},
};
static_assert(sizeof ModuleTable / sizeof ModuleTable[0] == 18, "one row per module");

const char kVersionText[] = "5.5";

int32_t ModuleHasVariant1(int32_t row) { return ModuleTable[row].HasVariant1; }
int32_t ModuleHasVariant3(int32_t row) { return ModuleTable[row].HasVariant3; }
int32_t ModuleIdOf(int32_t row) { return ModuleTable[row].ModuleId; }
int32_t ModuleGroupIdOf(int32_t row) { return ModuleTable[row].GroupId; }

void CompactVersion(char* destination)
{
    CopyText(destination, 4, kVersionText);
    destination[1] = destination[2];
    destination[2] = '\0';
}

static void Put16(unsigned char* at, uint16_t value)
{
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>(value >> 8);
}

// Copies a text without its terminator; returns the bytes written. A loop:
// the texts are a few bytes long.
static size_t PutChars(unsigned char* at, const char* text)
{
    size_t length = 0;
    for (; text[length] != '\0'; ++length)
        at[length] = static_cast<unsigned char>(text[length]);
    return length;
}

// Copies a text and its terminator; returns the bytes written.
static size_t PutText(unsigned char* at, const char* text)
{
    const size_t size = std::strlen(text) + 1;
    std::memcpy(at, text, size);
    return size;
}

size_t ModuleFileName(const char* versionDigits, int32_t row, char variant, unsigned char* destination)
{
    // Pieced together rather than formatted: 34 names at every start.
    unsigned char* at = destination;
    at += PutChars(at, "OV");
    at += PutChars(at, versionDigits);
    *at++ = static_cast<unsigned char>(variant);
    at += PutChars(at, ModuleTable[row].Code);
    at += PutText(at, ".DLL");
    return static_cast<size_t>(at - destination);
}

int32_t ReadComponentSetting(int index, char* buffer, char** text, char** numberText)
{
    char key[] = "COMPOSANTE_0";
    key[sizeof key - 2] = static_cast<char>('0' + index);
    // The engine's start reads the settings file, whose failed writes are
    // told through the engine: one of the two circles the design wants.
    ReadSetting(kComponentSection, key, "", buffer, kComponentValueCapacity);
    if (buffer[0] == '\0') return 0;
    UpperCaseAscii(buffer);
    char* firstComma = std::strchr(buffer, ',');
    if (firstComma == nullptr) return 0;
    *firstComma = '\0';
    char* secondComma = std::strchr(firstComma + 1, ',');
    if (secondComma == nullptr) return 0;
    *secondComma = '\0';
    *text = firstComma + 1;
    *numberText = secondComma + 1;
    return 1;
}

void WriteComponentEntries(unsigned char** cursor, uint16_t* runningLength, const unsigned char* limit)
{
    char value[kComponentValueCapacity];
    for (int index = 0; index < kComponentKeyCount; ++index) {
        char* text = nullptr;
        char* numberText = nullptr;
        if (ReadComponentSetting(index, value, &text, &numberText) == 0) continue;
        const size_t entrySize = 1 + std::strlen(value) + 1 + std::strlen(text) + 1 + 2 + 2;
        if (entrySize > static_cast<size_t>(limit - *cursor)) continue;
        unsigned char* at = *cursor;
        *at++ = kComponentMarker;
        at += PutText(at, value);
        at += PutText(at, text);
        Put16(at, 0xFFFF);
        Put16(at + 2, static_cast<uint16_t>(ReadDecimal(numberText) & 0xFFFF));
        *cursor += entrySize;
        *runningLength = static_cast<uint16_t>(*runningLength + entrySize);
    }
}

void WriteStartupBlock(const char* versionDigits, unsigned char* block)
{
    std::memcpy(block, "KALMIR", kSignatureSize);
    Put16(block + kSignatureSize, kFormatValue);
    Put16(block + kBodyLengthOffset, 0);
    unsigned char* cursor = block + kFirstEntryOffset;
    uint16_t runningLength = 0;

    for (int32_t row = 0; row < kModuleCount; ++row) {
        unsigned char* start = cursor;
        const int32_t group = ModuleGroupIdOf(row);
        *cursor++ = static_cast<unsigned char>((group > 0 ? 1 : 0) | (group == 2 ? 2 : 0));
        if (ModuleHasVariant1(row) != 0)
            cursor += ModuleFileName(versionDigits, row, '1', cursor);
        else
            *cursor++ = 0;
        if (ModuleHasVariant3(row) != 0)
            cursor += ModuleFileName(versionDigits, row, '3', cursor);
        else
            *cursor++ = 0;
        Put16(cursor, static_cast<uint16_t>(ModuleIdOf(row) & 0xFFFF));
        Put16(cursor + 2, static_cast<uint16_t>(group & 0xFFFF));
        cursor += 4;
        runningLength = static_cast<uint16_t>(runningLength + (cursor - start));
    }

    // The last byte of the block is kept for the end byte.
    WriteComponentEntries(&cursor, &runningLength, block + kStartupBlockSize - 1);
    *cursor = kEndByte;
    runningLength = static_cast<uint16_t>(runningLength + 1);
    Put16(block + kBodyLengthOffset, runningLength);
}

void* BuildStartupBlock()
{
    char versionDigits[4];
    CompactVersion(versionDigits);
    void* block = AllocGlobalBlock(kStartupBlockSize, kGhnd);
    if (block == nullptr) return nullptr;
    WriteStartupBlock(versionDigits, static_cast<unsigned char*>(block));
    return block;
}

void* AllocGlobalBlock(uint32_t size, uint32_t flags)
{
    GlobalMemoryHandle memory = OsGlobalAlloc(flags, size);
    if (memory == nullptr) return nullptr;
    void* address = OsGlobalLock(memory);
    if (address == nullptr) {
        OsGlobalFree(memory);
        return nullptr;
    }
    return address;
}

void FreeGlobalBlock(void* address)
{
    if (address == nullptr) return;
    GlobalMemoryHandle memory = OsGlobalHandle(address);
    if (memory == nullptr) return;
    if (OsGlobalUnlock(memory) == 0) OsGlobalFree(memory);
}
