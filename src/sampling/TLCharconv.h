#pragma once
#include <charconv>

// Floating-point std::from_chars and std::to_chars where the standard library has them, and a
// stand-in where it does not: Apple's libc++ has no floating-point from_chars, and its to_chars
// for double needs a newer macOS than this program's deployment target. The stand-ins follow the
// standard's rules (the "general" format, the C locale, shortest round-trip output), so both
// builds produce the same figures.

// std::from_chars(first, last, value, std::chars_format::general).
std::from_chars_result TLFromChars(const char* first, const char* last, double& value);
// std::to_chars(first, last, value): the shortest text that reads back as `value`.
std::to_chars_result TLToChars(char* first, char* last, double value);

// The stand-ins themselves, built on every platform so that they can be checked against the
// standard library's versions where those exist.
std::from_chars_result TLFromCharsPortable(const char* first, const char* last, double& value);
std::to_chars_result TLToCharsPortable(char* first, char* last, double value);
