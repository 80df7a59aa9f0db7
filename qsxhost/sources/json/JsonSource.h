// The JSON scene source's parts, shared by the reader that fills a scene from
// a document, the scene itself and its description: the source class and its
// nodes, as the document gives them.
#pragma once

#include <deque>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneParts.h"
#include "qsxhost/sources/SceneSource.h"
#include "qsxhost/sources/TreeNode.h"

namespace qsxhost::json {

struct TransformKey {
    host::TimeValue time = 0;
    host::Matrix3 tm;
};

class JsonNode final : public TreeNode<JsonNode> {
public:
    host::Matrix3 tm;
    std::vector<TransformKey> keys;
    host::Point3 offsetPos;
    host::Quat offsetRot;

    host::Matrix3 GetNodeTM(host::TimeValue t) const override;  // JsonScene.cpp
    host::Point3 GetObjOffsetPos() const override { return offsetPos; }
    host::Quat GetObjOffsetRot() const override { return offsetRot; }
};

class JsonScene final : public SceneSource {
public:
    JsonScene() { root.root = true; }

    host::INode* GetRootNode() override { return &root; }
    host::Interval GetAnimRange() const override { return range; }
    int GetTicksPerFrame() const override { return ticksPerFrame; }
    SceneStats Stats() const override { return stats; }
    SceneInfo Describe() const override;  // JsonInfo.cpp

    JsonNode root;
    std::deque<JsonNode> nodes;
    std::deque<SceneObject> objects;
    std::deque<SceneMtl> mtls;
    std::deque<SceneTexmap> maps;
    host::Interval range;
    int ticksPerFrame = 160;
    SceneStats stats;
};

}  // namespace qsxhost::json
