// What a JSON scene holds, for --info: its nodes with their meshes and
// materials, its materials and maps by their indexes in the document, and
// its one animation, the range with the nodes that have keys.
#include <unordered_map>

#include "qsxhost/sources/json/JsonSource.h"

namespace qsxhost::json {

SceneInfo JsonScene::Describe() const {
    SceneInfo info;
    info.format = "JSON scene";
    info.upAxis = "+Z";
    info.upAxisWhy = "the host frame, which JSON scenes are given in";
    info.unitWhy = "not stated (JSON scenes have none)";

    std::unordered_map<const host::Mtl*, int64_t> mtlIndex;
    for (const SceneMtl& m : mtls) mtlIndex.emplace(&m, static_cast<int64_t>(mtlIndex.size()));
    for (const SceneMtl& m : mtls) {
        SceneInfo::Material out;
        if (m.cls == host::STANDARD_MATERIAL_CLASS_ID) {
            out.kind = "standard";
            const std::pair<const MapSlot*, const char*> slots[] = {{&m.diffuseMap, "diffuse"},
                                                                    {&m.opacityMap, "opacity"}};
            for (const auto& [slot, channel] : slots)
                if (slot->enabled && slot->map && !slot->map->GetMapName().empty())
                    out.textures.push_back({channel, std::string(slot->map->GetMapName()), false});
        } else if (m.cls == host::MULTI_MATERIAL_CLASS_ID) {
            out.kind = "multi";
            for (const host::Mtl* sub : m.subs) out.subs.push_back(sub ? mtlIndex.at(sub) : -1);
        } else {
            out.kind = "class " + std::to_string(m.cls.a) + " " + std::to_string(m.cls.b);
        }
        info.materials.push_back(std::move(out));
    }

    SceneInfo::Animation anim;
    anim.seconds = (static_cast<double>(range.end) - range.start) / 4800.0;
    anim.fps = 4800.0 / ticksPerFrame;
    anim.frames = (static_cast<int64_t>(range.end) - range.start) / ticksPerFrame;
    anim.exported = true;

    // Pre-order without recursion: hierarchies may be very deep.
    std::vector<std::pair<const JsonNode*, int64_t>> stack;
    for (size_t i = root.children.size(); i-- > 0;) stack.emplace_back(root.children[i], -1);
    while (!stack.empty()) {
        const auto [n, parent] = stack.back();
        stack.pop_back();
        SceneInfo::Node out;
        out.name = n->name;
        out.parent = parent;
        out.depth = parent < 0 ? 1 : info.nodes[static_cast<size_t>(parent)].depth + 1;
        if (n->object && n->object->renderable) {
            out.meshes = 1;
            out.positions = n->object->mesh.getNumVerts();
            out.triangles = n->object->mesh.getNumFaces();
        }
        if (n->mtl) out.materials.push_back(mtlIndex.at(n->mtl));
        if (!n->keys.empty()) {
            ++anim.nodes;
            anim.transformKeys += static_cast<int64_t>(n->keys.size());
        }
        const int64_t self = static_cast<int64_t>(info.nodes.size());
        info.nodes.push_back(std::move(out));
        for (size_t i = n->children.size(); i-- > 0;) stack.emplace_back(n->children[i], self);
    }
    if (anim.nodes > 0 || range.end > range.start) info.animations.push_back(anim);
    return info;
}

}  // namespace qsxhost::json
