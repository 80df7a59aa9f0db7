// References by index, resolved once every list is read: materials and maps
// may be listed anywhere in the document, before or after what names them.
#include "qsxhost/sources/json/JsonReader.h"

#include <algorithm>

namespace qsxhost::json {
namespace {

// The place of a node: "nodes[i]" and ".children[j]" down to it. Spelled out
// only for a message, so its index is looked up then.
std::string NodePlace(const JsonNode* n) {
    std::vector<const JsonNode*> chain;
    for (; n && !n->root; n = n->parent) chain.push_back(n);
    std::string s;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const std::vector<JsonNode*>& siblings = (*it)->parent->children;
        const auto index = std::find(siblings.begin(), siblings.end(), *it) - siblings.begin();
        s += (*it)->parent->root ? "nodes[" : ".children[";
        s += std::to_string(index);
        s += ']';
    }
    return s;
}

}  // namespace

bool Reader::Resolve() {
    const int64_t nMaps = static_cast<int64_t>(scene_.maps.size());
    const int64_t nMtls = static_cast<int64_t>(scene_.mtls.size());
    // Places are spelled out only for a message.
    auto badMtl = [&](int64_t index, const std::string& place) {
        return Fail(place, "material index " + std::to_string(index) + " out of range (the scene has " +
                               Count(nMtls, "material", "materials") + ")");
    };
    auto mapAt = [&](const Ref& r, size_t mtl, const char* channel, MapSlot& slot) {
        if (!r.present) return true;
        if (r.index < 0 || r.index >= nMaps)
            return Fail("materials[" + std::to_string(mtl) + "]." + channel + ".map",
                        "map index " + std::to_string(r.index) + " out of range (the scene has " +
                            Count(nMaps, "map", "maps") + ")");
        slot.map = &scene_.maps[static_cast<size_t>(r.index)];
        return true;
    };
    for (size_t i = 0; i < mtlRefs_.size(); ++i) {
        SceneMtl& m = scene_.mtls[i];
        const MtlRefs& refs = mtlRefs_[i];
        if (!mapAt(refs.diffuse, i, "diffuseMap", m.diffuseMap) || !mapAt(refs.opacity, i, "opacityMap", m.opacityMap))
            return false;
        m.subs.assign(refs.subs.size(), nullptr);
        for (size_t j = 0; j < refs.subs.size(); ++j) {
            const Ref& r = refs.subs[j];
            if (!r.present) continue;
            if (r.index < 0 || r.index >= nMtls)
                return badMtl(r.index, "materials[" + std::to_string(i) + "].subs[" + std::to_string(j) + "]");
            m.subs[j] = &scene_.mtls[static_cast<size_t>(r.index)];
        }
    }
    for (const auto& [node, index] : nodeMtls_) {
        if (index < 0 || index >= nMtls) return badMtl(index, NodePlace(node) + ".material");
        node->mtl = &scene_.mtls[static_cast<size_t>(index)];
    }
    scene_.stats.nodes = static_cast<int64_t>(scene_.nodes.size());
    scene_.stats.materials = nMtls;
    return true;
}

}  // namespace qsxhost::json
