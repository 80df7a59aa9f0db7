#include "util/Paths.h"

namespace qsx::util {

size_t ExtensionDot(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < LastComponentStart(path)) return std::string_view::npos;
    return dot;
}

std::string SideFileName(std::string_view path, std::string_view ext) {
    const size_t dot = ExtensionDot(path);
    std::string out(path.substr(0, dot == std::string_view::npos ? path.size() : dot));
    out.append(ext);
    return out;
}

std::string_view FolderOf(std::string_view path) { return path.substr(0, LastComponentStart(path)); }

std::string DirName(std::string_view path) {
    const size_t start = LastComponentStart(path);
    if (start == 0) return ".";
    if (start == 1) return std::string(path.substr(0, 1));
    return std::string(path.substr(0, start - 1));
}

}  // namespace qsx::util
