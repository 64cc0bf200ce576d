// Decoding the start-up block and judging its form.
#include "block_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "transcript.h"

namespace standin {

namespace {

constexpr size_t kFirstEntry = 10;
constexpr uint16_t kFormatValue = 5000;
constexpr unsigned char kComponentMarker = 3;
constexpr unsigned char kEndByte = 0x80;

uint16_t Get16(const unsigned char* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

// Walks the entries with a cursor that never passes the block's end.
class BlockReader {
  public:
    explicit BlockReader(const unsigned char* block) : block_(block) {}

    size_t Offset() const { return cursor_; }
    bool Byte(unsigned char* value)
    {
        if (cursor_ >= kBlockSize) return false;
        *value = block_[cursor_++];
        return true;
    }
    bool Word(uint16_t* value)
    {
        if (cursor_ + 2 > kBlockSize) return false;
        *value = Get16(block_ + cursor_);
        cursor_ += 2;
        return true;
    }
    bool Text(std::string* text)
    {
        const void* nul = std::memchr(block_ + cursor_, 0, kBlockSize - cursor_);
        if (nul == nullptr) return false;
        const size_t end = static_cast<const unsigned char*>(nul) - block_;
        text->assign(reinterpret_cast<const char*>(block_ + cursor_), end - cursor_);
        cursor_ = end + 1;
        return true;
    }

  private:
    const unsigned char* block_;
    size_t cursor_ = kFirstEntry;
};

std::string Hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

} // namespace

std::vector<std::string> DescribeStartupBlock(const unsigned char* block)
{
    if (block == nullptr) return {"block null"};
    std::vector<std::string> lines;
    std::vector<std::string> faults;

    const std::string signature(reinterpret_cast<const char*>(block), 6);
    const uint16_t format = Get16(block + 6);
    const uint16_t bodyLength = Get16(block + 8);
    lines.push_back("block signature=" + Quote(signature) + " format=" + std::to_string(format) +
                    " length=" + std::to_string(bodyLength));
    if (signature != "KALMIR") faults.push_back("signature is not \"KALMIR\"");
    if (format != kFormatValue) faults.push_back("format value " + std::to_string(format) + ", not 5000");

    BlockReader reader(block);
    bool complete = true;
    for (int index = 0; index < kModuleEntryCount && complete; ++index) {
        const size_t at = reader.Offset();
        unsigned char flags = 0;
        std::string file1, file3;
        uint16_t id = 0, group = 0;
        complete = reader.Byte(&flags) && reader.Text(&file1) && reader.Text(&file3) && reader.Word(&id) &&
                   reader.Word(&group);
        if (!complete) {
            faults.push_back("module " + std::to_string(index) + " at " + std::to_string(at) + " runs past the block");
            break;
        }
        lines.push_back("block module " + std::to_string(index) + " at=" + std::to_string(at) +
                        " flags=" + std::to_string(flags) + " file1=" + Quote(file1) + " file3=" + Quote(file3) +
                        " id=" + std::to_string(id) + " group=" + std::to_string(group));
    }

    size_t endAt = 0;
    bool ended = false;
    for (int index = 0; complete && !ended; ++index) {
        const size_t at = reader.Offset();
        unsigned char marker = 0;
        if (!reader.Byte(&marker)) {
            faults.push_back("no end byte 0x80 inside the 880 bytes");
            complete = false;
            break;
        }
        if (marker == kEndByte) {
            ended = true;
            endAt = at;
            break;
        }
        if (marker != kComponentMarker) {
            char text[80];
            std::snprintf(text, sizeof text, "byte 0x%02X at %zu is neither a component marker nor the end byte",
                          static_cast<unsigned>(marker), at);
            faults.push_back(text);
            complete = false;
            break;
        }
        std::string name, componentText;
        uint16_t fixed = 0, number = 0;
        if (!(reader.Text(&name) && reader.Text(&componentText) && reader.Word(&fixed) && reader.Word(&number))) {
            faults.push_back("component " + std::to_string(index) + " at " + std::to_string(at) +
                             " runs past the block");
            complete = false;
            break;
        }
        lines.push_back("block component " + std::to_string(index) + " at=" + std::to_string(at) +
                        " name=" + Quote(name) + " text=" + Quote(componentText) + " fixed=" + Hex16(fixed) +
                        " number=" + std::to_string(number));
        if (fixed != 0xFFFF)
            faults.push_back("component " + std::to_string(index) + ": fixed value " + Hex16(fixed) + ", not 0xFFFF");
    }

    if (ended) {
        lines.push_back("block end at=" + std::to_string(endAt));
        const size_t expected = endAt - kFirstEntry + 1;
        if (bodyLength != expected)
            faults.push_back("body length " + std::to_string(bodyLength) + ", the end byte gives " +
                             std::to_string(expected));
        for (size_t at = endAt + 1; at < kBlockSize; ++at) {
            if (block[at] != 0) {
                faults.push_back("byte " + std::to_string(at) + " after the end byte is not zero");
                break;
            }
        }
    }

    for (const std::string& fault : faults)
        lines.push_back("block fault " + Quote(fault));
    lines.push_back(faults.empty() ? "block verdict=ok" : "block verdict=bad");
    return lines;
}

} // namespace standin
