// Whether two paths lead to one file, as the file system decides it: a
// link, a second name or another spelling of the same folder is the same
// file, which comparing the names would miss.
#pragma once

#include <string>

namespace qsx::util {

// True when a and b name one file: the same file where both exist (device
// and inode, or volume and file index), else the same path once the folder
// is resolved (on Windows without regard to letter case).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace qsx::util
