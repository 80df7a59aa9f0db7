// Which file a path reaches, as a key that two paths share exactly when
// writing through either would change the same file: through "./" and "..",
// symbolic links (also dangling ones) and hard links.
#pragma once

#include <string>

namespace qsx::util {

// The file's identity on its device where it exists; else the path of the
// file that writing it would create, its folder resolved.
std::string FileIdentity(const std::string& path);

// Whether a and b reach one file.
inline bool SameFile(const std::string& a, const std::string& b) { return FileIdentity(a) == FileIdentity(b); }

// Whether writing path would make a new file under /dev, where only devices belong.
bool NewFileInDeviceFolder(const std::string& path);

}  // namespace qsx::util
