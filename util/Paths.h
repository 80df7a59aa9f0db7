// Path names as the exporter and its host cut them: by the last component
// only, so that a dot in a folder name never cuts a path.
#pragma once

#include <string>
#include <string_view>

namespace qsx::util {

// Where the last path component starts ('/' everywhere, '\' too on Windows).
size_t LastComponentStart(std::string_view path);

// The '.' that starts the last component's extension, or npos.
size_t ExtensionDot(std::string_view path);

// The path with its last component's extension (from its last '.') replaced
// by ext, or ext appended when that component has none: "a.b/scene" + ".qsh"
// gives "a.b/scene.qsh".
std::string SideFileName(std::string_view path, std::string_view ext);

// The folder part of path with its separator ("dir/"), or "" for a bare name.
std::string_view FolderOf(std::string_view path);

// The folder that holds path, as a path of its own: "." for a bare name, "/"
// for a name in the root, else the folder part without its last separator.
std::string DirName(std::string_view path);

}  // namespace qsx::util
