// Which file a path reaches, as a key that two paths share exactly when
// writing through either would change the same file: through "./" and "..",
// symbolic links (also dangling ones) and hard links.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace qsx::util {

struct PathIdentity {
    // The file's identity on its device where it exists; else the path of
    // the file that writing it would create, its folder resolved.
    std::string key;
    bool exists = false;
    // Writing it would make a new file in a device folder (/dev), where
    // only devices belong.
    bool newInDeviceFolder = false;
    // The device that the name itself stands for, whatever folder it is in
    // (Windows: NUL, AUX, "com1.QSX"); "" for a file.
    std::string device;
    // Where a file that does not exist yet would be made, links followed, as
    // SpaceFor looks for it; "" where the lookup did not need it.
    std::string newFileFolder;
};

// What is known of folders already looked at, so that many files in one
// folder cost a lookup each, not a folder resolution each.
struct FolderFacts {
    std::string resolved;
    bool deviceFolder = false;
};
using FolderCache = std::unordered_map<std::string, FolderFacts>;

PathIdentity IdentifyPath(const std::string& path, FolderCache* cache = nullptr);

inline std::string FileIdentity(const std::string& path) { return IdentifyPath(path).key; }
inline bool SameFile(const std::string& a, const std::string& b) { return FileIdentity(a) == FileIdentity(b); }

// The file system that a file written at path goes to (where its temporary
// is made: beside the target of a link), and the bytes free to the user
// there. Not known for a path written in place (a device, a pipe), where no
// file takes space, nor for a folder that cannot be looked at.
struct FreeSpace {
    std::string fileSystem;
    uint64_t bytes = 0;
    bool known = false;
};
using SpaceCache = std::unordered_map<std::string, FreeSpace>;  // by folder
// `known`, the path's identity when the caller has it: a run of thousands
// of new files then costs no second look at each.
FreeSpace SpaceFor(const std::string& path, SpaceCache* cache = nullptr, const PathIdentity* known = nullptr);

// Whether folder (which exists) is a device folder such as /dev.
bool IsDeviceFolder(const std::string& folder);

}  // namespace qsx::util
