#include "util/FileIdentity.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>

#include "util/posix/AtomicFile.h"
#include "util/Paths.h"

namespace qsx::util {
namespace {

FolderFacts LookAtFolder(const std::string& dir) {
    FolderFacts facts;
    char buf[PATH_MAX];
    if (::realpath(dir.c_str(), buf)) {
        facts.resolved = buf;
        if (facts.resolved.back() != '/') facts.resolved += '/';
    } else {
        facts.resolved = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    }
    facts.deviceFolder = IsDeviceFolder(dir);
    return facts;
}

}  // namespace

// /dev is a file system of its own (devtmpfs, or a tmpfs in a container): a
// folder on it is a device folder. Where it is not, the folder's resolved
// path says.
bool IsDeviceFolder(const std::string& folder) {
    static const struct Devices {
        dev_t dev = dev_t(-1);
        bool ownFileSystem = false;
    } devices = [] {
        Devices d;
        struct stat dev {}, root {};
        if (::stat("/dev", &dev) == 0 && ::stat("/", &root) == 0) {
            d.dev = dev.st_dev;
            d.ownFileSystem = dev.st_dev != root.st_dev;
        }
        return d;
    }();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return false;
    if (devices.ownFileSystem) return st.st_dev == devices.dev;
    char buf[PATH_MAX];
    if (!::realpath(folder.c_str(), buf)) return false;
    const std::string resolved = buf;
    return resolved == "/dev" || resolved.rfind("/dev/", 0) == 0;
}

PathIdentity IdentifyPath(const std::string& path, FolderCache* cache) {
    PathIdentity id;
    struct stat st {};
    // lstat alone answers for a path that is no link or names nothing: one
    // look at each of a run's many new files.
    const bool seen = ::lstat(path.c_str(), &st) == 0;
    const bool direct = seen ? !S_ISLNK(st.st_mode) : errno == ENOENT;
    if (direct ? seen : ::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.key = "file " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        return id;
    }
    // Not there: the file that writing it would create, where links lead.
    std::string target = path;
    if (!direct && !ResolveLinks(path, &target)) target = path;
    const std::string dir = DirName(target);
    id.newFileFolder = dir;
    FolderFacts local;
    const FolderFacts* facts = &local;
    if (cache) {
        auto it = cache->find(dir);
        if (it == cache->end()) it = cache->emplace(dir, LookAtFolder(dir)).first;
        facts = &it->second;
    } else {
        local = LookAtFolder(dir);
    }
    id.key = "path " + facts->resolved + target.substr(LastComponentStart(target));
    id.newInDeviceFolder = facts->deviceFolder;
    return id;
}

FreeSpace SpaceFor(const std::string& path, SpaceCache* cache, const PathIdentity* known) {
    struct stat st {};
    std::string dir;
    if (known && !known->exists && !known->newFileFolder.empty()) {
        dir = known->newFileFolder;
    } else {
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return {};
        std::string target;
        if (!ResolveLinks(path, &target)) target = path;
        dir = DirName(target);
    }
    if (cache)
        if (const auto it = cache->find(dir); it != cache->end()) return it->second;
    FreeSpace space;
    struct statvfs fs {};
    if (::stat(dir.c_str(), &st) == 0 && ::statvfs(dir.c_str(), &fs) == 0) {
        space.fileSystem = "device " + std::to_string(st.st_dev);
        space.bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
        space.known = true;
    }
    if (cache) cache->emplace(dir, space);
    return space;
}

}  // namespace qsx::util
