// Which file a path reaches, as a key that two paths share exactly when
// writing through either would change the same file: through "./" and "..",
// symbolic links (also dangling ones) and hard links.
#pragma once

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

// Whether folder (which exists) is a device folder such as /dev.
bool IsDeviceFolder(const std::string& folder);

}  // namespace qsx::util
