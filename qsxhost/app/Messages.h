// Messages of the qsxexport command, all in one form on standard error:
// "qsxexport: FILE: what is wrong".
#pragma once

#include <string>
#include <string_view>

namespace qsxhost {

inline constexpr const char* kProgramName = "qsxexport";

std::string FormatMessage(std::string_view file, std::string_view what);
// Writes FormatMessage(file, what) and a newline to standard error.
void PrintMessage(std::string_view file, std::string_view what);

}  // namespace qsxhost
