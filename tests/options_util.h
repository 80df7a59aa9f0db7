// Whole export options compared and printed, so that a failure shows every
// field of both sides.
#pragma once

#include <ostream>
#include <tuple>

#include "QsxExp/Options.h"

namespace qsx {

inline auto OptionFields(const ExportOptions& o) {
    // The binding stops compiling when a field is added, so none goes uncompared.
    const auto& [scale, scaleType, centre, header, animation, hierarchy, textures, hints, ext] = o;
    return std::tie(scale, scaleType, centre, header, animation, hierarchy, textures, hints, ext);
}

inline bool operator==(const ExportOptions& a, const ExportOptions& b) { return OptionFields(a) == OptionFields(b); }

inline void PrintTo(const ExportOptions& o, std::ostream* os) {
    *os << "{scale " << o.scaleFactor << " type " << o.scaleType << ", centre " << o.centre << ", header "
        << o.saveHeader << ", animation " << o.saveAnimation << ", hierarchy " << o.hierarchyType << ", textures 0x"
        << std::hex << o.textureFlags << std::dec << ", hints " << o.hints << ", ext \"" << o.extName << "\"}";
}

}  // namespace qsx
