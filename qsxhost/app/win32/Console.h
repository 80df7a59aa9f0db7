// The command's text on Windows, whole: a console decodes UTF-8 only when a
// character's bytes come in one write, and the C library hands a console one
// byte at a time.
#pragma once

#include <string_view>

namespace qsxhost {

// Writes all of text to the handle with the system's own call, in pieces
// that never cut a character; false when a write fails.
bool WriteWhole(void* handle, std::string_view text);

}  // namespace qsxhost
