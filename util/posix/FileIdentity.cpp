#include "util/FileIdentity.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "util/Files.h"
#include "util/Paths.h"

namespace qsx::util {
namespace {

// The path of the file that writing path reaches, its folder resolved; the
// path as given where the folder does not resolve.
std::string ResolvedTarget(const std::string& path) {
    std::string target;
    if (!ResolveLinks(path, &target)) target = path;
    char buf[PATH_MAX];
    const std::string dir = DirName(target);
    if (!::realpath(dir.c_str(), buf)) return target;
    std::string out(buf);
    if (out.back() != '/') out += '/';
    out += target.substr(LastComponentStart(target));
    return out;
}

}  // namespace

std::string FileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return "file " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return "path " + ResolvedTarget(path);
}

bool NewFileInDeviceFolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return false;
    const std::string target = ResolvedTarget(path);
    return target.rfind("/dev/", 0) == 0;
}

}  // namespace qsx::util
