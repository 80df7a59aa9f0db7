// Letters of the basic Latin alphabet only: names, extensions and keywords
// in files compare and change case the same whatever the user's locale says;
// and decimal numbers read the same in every locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qsx::util {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToAsciiLower(std::string_view s);
std::string ToAsciiUpper(std::string_view s);
// Bytes as a message may show them: control bytes and those outside ASCII as
// \xNN (lower-case hex) and, for a text shown in quotes, '"' and '\\' after a
// backslash; nothing else changes.
std::string EscapeBytes(std::string_view s, bool quoted = true);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);

// atof as the options have always read their numbers, in the C locale and
// decimal only: leading white space skipped, the longest leading decimal
// number ([sign] digits [. digits] [e [sign] digits], '.' the decimal point)
// converted, 0 when the text does not begin with one. Hexadecimal, "inf",
// "infinity" and "nan" are no decimal number ("0x10" reads as 0). A number
// beyond the double range gives an infinity of its sign, one below it 0.
double AtofDecimal(const char* text);

// "1 frame", "2 frames": a count with its noun in the number it takes.
std::string Count(long long n, std::string_view one, std::string_view many);

// A size as a person reads it: "812 bytes", "38.2 GB", "412 GB" (three
// figures, units of 1000 as disks are sold), whatever the process locale.
std::string ByteSize(uint64_t bytes);

// Text that came from a scene, a settings file or the command line, fit to be
// shown on a terminal: control bytes (C0, DEL and the C1 range) and bytes that
// are not UTF-8 as \xNN, everything else as it is. No escape sequence in a
// name can then move the cursor, clear the screen or retitle the window.
std::string Printable(std::string_view text);
// The same in double quotes, with '"' and '\' escaped, so that a quoted name
// ends where its quote does whatever it holds.
std::string Quoted(std::string_view text);

}  // namespace qsx::util
