#include "qsxhost/app/Messages.h"

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
    std::fwrite(s.data(), 1, s.size(), stderr);
}

int Conclude(const Outcome& outcome) {
    if (outcome.told) PrintMessage(outcome.file, outcome.message);
    return outcome.status;
}

}  // namespace qsxhost
