// Path names on POSIX: '/' is the only separator; '\' is a name's own character.
#include "util/Paths.h"

namespace qsx::util {

size_t LastComponentStart(std::string_view path) {
    const size_t sep = path.rfind('/');
    return sep == std::string_view::npos ? 0 : sep + 1;
}

}  // namespace qsx::util
