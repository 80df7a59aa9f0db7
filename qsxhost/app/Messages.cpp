#include "qsxhost/app/Messages.h"

#include <cstdarg>
#include <cstdio>

#include "util/Text.h"

namespace qsxhost {

std::string FormatMessage(std::string_view file, std::string_view what) {
    std::string s = kProgramName;
    s += ": ";
    // Paths and scene text reach the terminal only as printable text.
    if (!file.empty()) {
        s += qsx::util::Printable(file);
        s += ": ";
    }
    s += qsx::util::Printable(what);
    return s;
}

void PrintMessage(std::string_view file, std::string_view what) {
    std::string s = FormatMessage(file, what);
    s += '\n';
    WriteText(stderr, s);
}

void PrintTo(std::FILE* stream, const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        std::string text(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
        WriteText(stream, text);
    }
    va_end(again);
}

int Conclude(const Outcome& outcome) {
    if (outcome.told) PrintMessage(outcome.file, outcome.message);
    return outcome.status;
}

}  // namespace qsxhost
