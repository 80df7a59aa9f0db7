// qsxexport --check: the files an export wrote, read back and checked.
#pragma once

#include <string>
#include <vector>

namespace qsxhost {

// Checks each file: a script with the header and animation files of the same
// name beside it, or a header (.qsh) or animation file (.qsv) alone. Prints
// each problem as "FILE:LINE: what is wrong" and one summary line per file to
// standard output. Answers 0 all clean, 1 problems, 2 a file not readable.
int RunCheck(const std::vector<std::string>& files);

}  // namespace qsxhost
