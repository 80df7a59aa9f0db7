// Messages of the qsxexport command, all in one form on standard error:
// "qsxexport: FILE: what is wrong".
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace qsxhost {

inline constexpr const char* kProgramName = "qsxexport";

std::string FormatMessage(std::string_view file, std::string_view what);
// Writes FormatMessage(file, what) and a newline to standard error.
void PrintMessage(std::string_view file, std::string_view what);

// Text for the user on standard output or error, as one piece: a console is
// given it whole by the platform's layer (posix/ or win32/Console.cpp).
bool WriteText(std::FILE* stream, std::string_view text);

#ifdef __MINGW_PRINTF_FORMAT
#define QSX_PRINTF_FORMAT __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#else
#define QSX_PRINTF_FORMAT __attribute__((format(printf, 2, 3)))
#endif
// printf's formatting, written with WriteText.
void PrintTo(std::FILE* stream, const char* format, ...) QSX_PRINTF_FORMAT;

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
