// The start-up block handed to the engine at each start, the built-in table
// of the engine's 18 modules it describes, and the global memory it lives in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/editor_protocol.h" // kComponentKeyCount

// Block layout, packed, 16-bit values little-endian, 880 bytes in all:
//   offset size field
//      0     6  Signature "KALMIR", no terminator
//      6     2  FormatValue 5000
//      8     2  BodyLength: bytes from offset 10 up to and including the end byte
//     10     .  18 module entries, in ModuleTable order:
//                 ModuleFlags (1): bit 0 GroupId > 0, bit 1 GroupId == 2
//                 Variant1File, Variant3File: texts with terminator (empty: one NUL)
//                 ModuleId (2), GroupId (2): low 16 bits
//      .     .  component entries, COMPOSANTE_0..9 in key order:
//                 marker 3 (1), name and text with terminators, 0xFFFF (2), number (2)
//      .     1  end byte 0x80
//      .     .  zero up to offset 879
constexpr uint32_t kStartupBlockSize = 880;
constexpr size_t kSignatureSize = 6;
constexpr uint16_t kFormatValue = 5000;
constexpr size_t kBodyLengthOffset = 8;
constexpr size_t kFirstEntryOffset = 10;
constexpr uint8_t kComponentMarker = 3;
constexpr uint8_t kEndByte = 0x80;
constexpr size_t kComponentValueCapacity = 525; // at most 524 characters count

struct ModuleInfo {
    char DisplayName[51]; // never read by the launcher
    char Code[5];         // three letters
    int32_t HasVariant1;  // nonzero: the module has a variant-1 library file
    int32_t HasVariant3;  // nonzero: the module has a variant-3 library file
    int32_t ModuleId;     // different for every module
    int32_t GroupId;
};

extern const int32_t kModuleCount; // 18
extern const ModuleInfo ModuleTable[];

int32_t ModuleHasVariant1(int32_t row);
int32_t ModuleHasVariant3(int32_t row);
int32_t ModuleIdOf(int32_t row);
int32_t ModuleGroupIdOf(int32_t row);

extern const char kVersionText[]; // "5.5", the product's version

// Writes the version digits "55" (from "5.5") into 4 bytes.
void CompactVersion(char* destination);
// Writes "OV" + digits + variant + Code + ".DLL" and its terminator; returns
// the bytes written, terminator included. Only for a variant the row has.
size_t ModuleFileName(const char* versionDigits, int32_t row, char variant, unsigned char* destination);
// Reads COMPOSANTE_<index> (index 0 to 9) of section COMPOSANTE, upper-cased,
// and splits it in place as name,text,number. Returns 1 with *text and
// *numberText inside buffer when the value has at least two commas, 0
// otherwise.
int32_t ReadComponentSetting(int index, char* buffer, char** text, char** numberText);
// Appends the component entries at *cursor, never past limit (where the end
// byte goes): an entry that would not fit whole is left out. Moves the cursor
// and adds each entry's size to *runningLength.
void WriteComponentEntries(unsigned char** cursor, uint16_t* runningLength, const unsigned char* limit);
// Fills a zeroed block of kStartupBlockSize bytes.
void WriteStartupBlock(const char* versionDigits, unsigned char* block);
// Allocates, fills and returns the locked block; null when no memory.
void* BuildStartupBlock();

// Allocates and locks a movable global block; null on failure.
void* AllocGlobalBlock(uint32_t size, uint32_t flags);
// Unlocks the block and frees it when no lock remains; null does nothing.
void FreeGlobalBlock(void* address);
