// The session trace's line buffer.
#include "engine/trace_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/trace_format.h"

constexpr size_t kLineEndReserve = 16; // a closing quote, the cut mark and the line end

static char Line[kTraceLineSize]; // the line being built
static size_t LineLength;
static bool LineCut; // a field did not fit: the rest of the line is dropped

// What is left before the reserve; a closing quote may already lie in it.
static size_t Room()
{
    const size_t usable = sizeof Line - kLineEndReserve;
    return LineLength < usable ? usable - LineLength : 0;
}

void TraceAppend(const char* text, size_t count)
{
    if (LineCut) return;
    if (count > Room()) {
        count = Room();
        LineCut = true;
    }
    std::memcpy(Line + LineLength, text, count);
    LineLength += count;
}

void TraceAppend(const char* text) { TraceAppend(text, std::strlen(text)); }

void TraceAppendFormat(const char* format, ...)
{
    char text[64];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    TraceAppend(text, static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1);
}

void TraceAppendQuoted(const unsigned char* bytes, size_t count)
{
    if (LineCut) return;
    TraceAppend("\"", 1);
    if (LineCut) return;
    for (size_t i = 0; i < count && !LineCut; ++i) {
        char escaped[4];
        const size_t length = EscapeTraceByte(bytes[i], escaped);
        // One byte stays for the closing quote.
        if (length + 1 > Room())
            LineCut = true;
        else
            TraceAppend(escaped, length);
    }
    // After a cut the reserve holds the closing quote.
    Line[LineLength++] = '"';
}

void TraceAppendQuoted(const char* text)
{
    TraceAppendQuoted(reinterpret_cast<const unsigned char*>(text), text != nullptr ? std::strlen(text) : 0);
}

void TraceWriteLine(AppendFileHandle file, bool ending)
{
    if (LineCut) {
        std::memcpy(Line + LineLength, kTraceCutMark, sizeof kTraceCutMark - 1);
        LineLength += sizeof kTraceCutMark - 1;
    }
    if (ending) Line[LineLength++] = '\n';
    OsWriteAppendFile(file, Line, static_cast<uint32_t>(LineLength));
    LineLength = 0;
    LineCut = false;
}

void ResetTraceLineForTests()
{
    LineLength = 0;
    LineCut = false;
}
