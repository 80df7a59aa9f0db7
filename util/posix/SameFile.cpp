#include "util/SameFile.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "util/Paths.h"

namespace qsx::util {
namespace {

// The absolute path with its folder resolved; the path itself when the
// folder does not resolve.
std::string Resolved(const std::string& path) {
    const std::string dir = DirName(path);
    char buf[PATH_MAX];
    if (!realpath(dir.c_str(), buf)) return path;
    std::string out(buf);
    if (out.back() != '/') out += '/';
    out += path.substr(LastComponentStart(path));
    return out;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return Resolved(a) == Resolved(b);
}

}  // namespace qsx::util
