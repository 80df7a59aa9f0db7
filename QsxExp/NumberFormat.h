// Number text for the script writer: byte-for-byte what the C library's printf prints in the "C" locale,
// independent of the process locale and much faster than snprintf.
#pragma once

#include <cstddef>

namespace qsx {

// Appends exactly what printf("% 4.6f", value) prints (blank in place of '+' for non-negative, 6 decimals,
// at least 4 wide). Includes "-0.000000" for negative zero and tiny negatives, " inf", "-inf", " nan", "-nan".
// Returns the pointer past the last char written; `out` needs room for kMaxFixed6 chars.
char* AppendFixed6(char* out, double value);
// Appends exactly what printf("%4g", value) prints (6 significant digits, trailing zeros removed, exponent
// form like "1e-05", "2.5e+06", "1e+100", right-aligned in at least 4 chars, "inf", "-nan" etc. padded to 4).
char* AppendG4(char* out, double value);
// Appends printf("%d") / ("%ld") of an integer.
char* AppendInt(char* out, long value);
// A run of numbers on one line, each after a blank: " " and AppendFixed6 of each value, or " " and
// AppendInt of each. One call for the run lets the numbers of a line be made side by side.
char* AppendFixed6List(char* out, const float* values, size_t count);
char* AppendIntList(char* out, const long* values, size_t count);
inline constexpr int kMaxFixed6 = 330;   // enough for % 4.6f of DBL_MAX
inline constexpr int kMaxG4 = 16;

namespace detail {
// The same formats produced only through std::to_chars, without the integer fast paths. The public functions
// fall back to these; tests and benchmarks call them directly to check and time both routes.
char* AppendFixed6ToChars(char* out, double value);
char* AppendG4ToChars(char* out, double value);
}  // namespace detail

}  // namespace qsx
