// Hexadecimal digits, read and written the one way: the trace, the
// stand-in and the tools share it.
#pragma once

// Upper-case digits by value.
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of a digit of either case; -1 for any other character.
constexpr int HexDigitValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}
