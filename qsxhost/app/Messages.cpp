#include "qsxhost/app/Messages.h"

#include <cstdio>

namespace qsxhost {

std::string FormatMessage(std::string_view file, std::string_view what) {
    std::string s = kProgramName;
    s += ": ";
    if (!file.empty()) {
        s += file;
        s += ": ";
    }
    s += what;
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
