// The copy of the engine's error description.
#include "common/error_description.h"

#include <cstring>

#include "common/text.h"

void CopyErrorDescription(char* destination, const char* source)
{
    char* out = destination;
    for (int field = 0; field < kErrorDescriptionFields; ++field) {
        const char* end = std::strchr(source, ',');
        size_t length = end != nullptr ? static_cast<size_t>(end - source) : std::strlen(source);
        if (field == 0 && length > kErrorFieldCut) {
            out += FormatText(out, kErrorFieldCut + 1, "%d", static_cast<int>(ReadDecimal(source)));
        } else {
            if (length > kErrorFieldCut) length = kErrorFieldCut;
            std::memcpy(out, source, length);
            out += length;
        }
        if (end == nullptr) break;
        // The separator after the last field read is kept: an empty message
        // with more text after it is an empty message, not a missing one.
        *out++ = ',';
        if (field + 1 == kErrorDescriptionFields) break;
        source = end + 1;
    }
    *out = '\0';
}
