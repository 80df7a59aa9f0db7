// Path names on Windows: '\' and '/' both separate components.
#include "util/Paths.h"

namespace qsx::util {

size_t LastComponentStart(std::string_view path) {
    const size_t sep = path.find_last_of("/\\");
    return sep == std::string_view::npos ? 0 : sep + 1;
}

}  // namespace qsx::util
