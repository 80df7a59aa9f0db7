// Letters of the basic Latin alphabet only: names, extensions and keywords
// in files compare and change case the same whatever the user's locale says.
#pragma once

#include <string>
#include <string_view>

namespace qsx::util {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToAsciiLower(std::string_view s);
std::string ToAsciiUpper(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);

}  // namespace qsx::util
