// Texts handed to the launcher by address. The reply record holds a 32-bit
// address, so on a 64-bit host the text must lie below 4 GiB; the texts are
// never freed, so an address stays good for the rest of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace standin {

// Copies the text and a NUL into memory below 4 GiB; returns its address, or
// 0 when no such memory can be had.
uint32_t StoreLowText(const std::string& text);

// The text stored at address by StoreLowText; false for any other address.
bool FindLowText(uint32_t address, std::string* text);

// Maps size bytes of fresh, writable memory that ends at or below 4 GiB;
// null when there is none. Never freed by this file. Also used by the fuzz
// targets, which need texts at 32-bit addresses too.
void* MapLowMemory(size_t size);

} // namespace standin
