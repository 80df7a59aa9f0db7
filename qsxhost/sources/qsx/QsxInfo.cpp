// What a script read back holds, for --info: its nodes as nested in the
// script, its material blocks as standard or multi materials, and its
// animation file's frames.
#include <unordered_map>

#include "qsxhost/sources/qsx/QsxSource.h"

namespace qsxhost::script {
namespace {

using MtlIndex = std::unordered_map<const host::Mtl*, int64_t>;

void DescribeNode(const QsxNode* n, const QsxNode* parent, int depth, SceneInfo* info,
                  std::unordered_map<const QsxNode*, int64_t>* index, const MtlIndex& mtlIndex) {
    if (parent || depth > 0) {
        SceneInfo::Node out;
        out.name = n->name;
        out.parent = parent && !parent->root ? index->at(parent) : -1;
        out.depth = depth;
        if (n->object) {
            out.meshes = 1;
            out.positions = n->vertices;
            out.triangles = n->faces;
        }
        if (n->mtl) out.materials.push_back(mtlIndex.at(n->mtl));
        index->emplace(n, static_cast<int64_t>(info->nodes.size()));
        info->nodes.push_back(std::move(out));
    }
    for (const QsxNode* c : n->children) DescribeNode(c, n, depth + 1, info, index, mtlIndex);
}

}  // namespace

SceneInfo QsxScene::Describe() const {
    SceneInfo info;
    info.format = "QSX script";
    info.upAxis = "+Y";
    info.upAxisWhy = "the script's frame, turned back to the host's Z-up";
    info.unitWhy = "not stated (a script is at the scale it was written)";
    MtlIndex mtlIndex;
    for (const SceneMtl& m : mtls) mtlIndex.emplace(&m, static_cast<int64_t>(mtlIndex.size()));
    for (const SceneMtl& m : mtls) {
        SceneInfo::Material out;
        out.kind = m.cls == host::MULTI_MATERIAL_CLASS_ID ? "multi" : "standard";
        for (const host::Mtl* sub : m.subs) out.subs.push_back(sub ? mtlIndex.at(sub) : -1);
        if (m.diffuseMap.map) out.textures.push_back({"diffuse", std::string(m.diffuseMap.map->GetMapName()), false});
        if (m.opacityMap.map) out.textures.push_back({"opacity", std::string(m.opacityMap.map->GetMapName()), false});
        info.materials.push_back(std::move(out));
    }
    std::unordered_map<const QsxNode*, int64_t> nodeIndex;
    DescribeNode(&root, nullptr, 0, &info, &nodeIndex, mtlIndex);
    if (range.end > range.start) {
        SceneInfo::Animation a;
        a.frames = range.end / kTicksPerFrame;
        a.fps = 4800.0 / kTicksPerFrame;
        a.seconds = static_cast<double>(a.frames) / a.fps;
        a.nodes = static_cast<int64_t>(nodes.size());
        a.transformKeys = a.frames * a.nodes;
        a.exported = true;
        info.animations.push_back(a);
    }
    return info;
}

}  // namespace qsxhost::script
