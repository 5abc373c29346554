#pragma once
// Numbers in the C locale's notation ('.' as the decimal point), whatever the user's locale, with
// the C library each system has: the same digits everywhere, by the means each one offers.

#include <cstddef>

// strtod in the C locale.
double TLStrtodC(const char* text, char** end);

// `value` in fixed notation with `decimals` digits after the point (0–60), the shortest exact
// decimal rounding of the binary value, ties to even, as printf's "%.*f" writes it in the C
// locale. Writes at most `size` characters (no terminator) and returns how many; 0 on failure.
size_t TLFixedC(char* out, size_t size, double value, int decimals);
