// Text at the edge of the Windows API: the program's strings are UTF-8, the
// system's wide-character functions take UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace qsx::util {

// False (and out empty) when text is not valid UTF-8.
bool Utf8ToWide(std::string_view text, std::wstring* out);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// The system's message for a Windows error code (GetLastError), in UTF-8,
// without its line break; never the number alone.
std::string WindowsErrorText(unsigned long code);

}  // namespace qsx::util
