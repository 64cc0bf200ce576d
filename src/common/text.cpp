// Text helpers shared by the three subsystems.
#include "common/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char* TrimTrailingSpaces(char* text)
{
    if (text == nullptr) return nullptr;
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        --length;
    text[length] = '\0';
    return text;
}

char* TrimLeadingSpaces(char* text)
{
    if (text == nullptr) return nullptr;
    size_t skip = 0;
    while (text[skip] == ' ')
        ++skip;
    if (skip > 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
    return text;
}

bool CopyText(char* destination, size_t capacity, const char* source)
{
    if (capacity == 0) return true;
    size_t length = 0;
    while (length + 1 < capacity && source[length] != '\0')
        ++length;
    std::memcpy(destination, source, length);
    destination[length] = '\0';
    return source[length] != '\0';
}

int FormatText(char* destination, size_t capacity, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(destination, capacity, format, arguments);
    va_end(arguments);
    if (length < 0 && capacity > 0) destination[0] = '\0';
    return length;
}

void UpperCaseAscii(char* text)
{
    for (; *text != '\0'; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
    }
}

void ReplaceChar(char* text, char from, char to)
{
    for (; *text != '\0'; ++text) {
        if (*text == from) *text = to;
    }
}

char* SplitField(char** cursor, char separator)
{
    char* field = *cursor;
    if (*field == '\0') return nullptr;
    char* end = std::strchr(field, separator);
    if (end != nullptr) {
        *end = '\0';
        *cursor = end + 1;
    } else {
        *cursor = field + std::strlen(field);
    }
    return field;
}

int32_t ReadDecimal(const char* text)
{
    // The white space that atoi skips: space, \t, \n, \v, \f, \r.
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value < limit) value = value * 10 + (*text - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}
