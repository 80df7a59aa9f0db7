// Messages of the qsxexport command, all in one form on standard error:
// "qsxexport: FILE: what is wrong".
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace qsxhost {

inline constexpr const char* kProgramName = "qsxexport";

std::string FormatMessage(std::string_view file, std::string_view what);
// Writes FormatMessage(file, what) and a newline to standard error.
void PrintMessage(std::string_view file, std::string_view what);

// How the command ends: its exit status and, when told, what it says then.
// Steps answer it up to the top, which says it once; an ending that is not
// told says nothing (the run has reported as it went, or ends as asked).
struct Outcome {
    int status = 0;
    bool told = false;
    std::string file, message;
};

// An ending that says "qsxexport: FILE: MESSAGE" (no FILE part when file is "").
inline Outcome Fail(int status, std::string file, std::string message) {
    return {status, true, std::move(file), std::move(message)};
}

// An ending with nothing to say.
inline Outcome Silent(int status) {
    return {status, false, {}, {}};
}

// Says outcome's message when it is told; answers its status.
int Conclude(const Outcome& outcome);

}  // namespace qsxhost
