#include "whole_number.h"

bool ParseWholeNumber(const char* text, unsigned long low, unsigned long high, unsigned long* number)
{
    if (text[0] == '\0') return false;
    unsigned long value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') return false;
        // Beyond high already: no more digits can bring it back.
        if (value > high) return false;
        value = value * 10 + static_cast<unsigned long>(*digit - '0');
    }
    if (value < low || value > high) return false;
    *number = value;
    return true;
}
