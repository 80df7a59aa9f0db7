// The JSON scene source's scene half: what its nodes answer once read.
#include <algorithm>
#include <iterator>

#include "qsxhost/sources/json/JsonSource.h"

namespace qsxhost::json {

host::Matrix3 JsonNode::GetNodeTM(host::TimeValue t) const {
    if (keys.empty()) return tm;
    // Keys are held: the last key at or before t, the first key before them all.
    auto it = std::upper_bound(keys.begin(), keys.end(), t,
                               [](host::TimeValue v, const TransformKey& k) { return v < k.time; });
    return it == keys.begin() ? keys.front().tm : std::prev(it)->tm;
}

}  // namespace qsxhost::json
