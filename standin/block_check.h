// Reading the start-up block that OV4InitInstance receives, from its bytes.
//
// 880 bytes, packed, 16-bit values little-endian:
//   offset size field
//      0     6  "KALMIR", no terminator
//      6     2  FormatValue, 5000
//      8     2  BodyLength: bytes from offset 10 up to and including the end byte
//     10     .  18 module entries: flags (1), two NUL-terminated file names,
//               id (2), group (2)
//      .     .  component entries: marker 3 (1), name and text NUL-terminated,
//               0xFFFF (2), number (2)
//      .     1  end byte 0x80
//      .     .  zero up to offset 879
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

constexpr size_t kBlockSize = 880;
constexpr int kModuleEntryCount = 18;

// The transcript lines for a block: "block null" for a null address, else
// the header, one line per entry, one "block fault" line per problem found
// and a closing "block verdict=ok" or "block verdict=bad". Reads no byte past
// the 880 of the block.
std::vector<std::string> DescribeStartupBlock(const unsigned char* block);

} // namespace standin
