// The script scene source's parts, shared by the file that builds the scene
// from a script and the one that describes it: the source class and its nodes.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "qsxhost/sources/SceneSource.h"
#include "qsxhost/sources/TreeNode.h"
#include "qsxhost/sources/qsx/QsxModel.h"

namespace qsxhost::script {

inline constexpr int kTicksPerFrame = 160;

class QsxNode final : public TreeNode<QsxNode> {
public:
    std::vector<host::Matrix3> frames;  // host node matrices, frame 0 the script's
    // Its mesh's vertices and faces, also where the script was read for its counts alone.
    int64_t vertices = 0, faces = 0;

    host::Matrix3 GetNodeTM(host::TimeValue t) const override {
        const size_t f = t <= 0 ? 0 : static_cast<size_t>(t / kTicksPerFrame);
        return frames[f < frames.size() ? f : frames.size() - 1];
    }
    host::Point3 GetObjOffsetPos() const override { return {}; }
    host::Quat GetObjOffsetRot() const override { return {}; }
};

class QsxScene final : public SceneSource {
public:
    QsxScene() { root.root = true; }
    host::INode* GetRootNode() override { return &root; }
    host::Interval GetAnimRange() const override { return range; }
    int GetTicksPerFrame() const override { return kTicksPerFrame; }
    SceneStats Stats() const override { return stats; }
    SceneInfo Describe() const override;  // QsxInfo.cpp
    // Reads the animation file beside the script (QsxRead.cpp): a stale one
    // stands in the way of no export that leaves the animation out.
    std::string UseAnimation() override;

    // --- building from a script (QsxScene.cpp)
    host::Texmap* Bitmap(const std::string& name);
    host::Mtl* Standard(const Material& b);
    // The node's material, and each triangle's slot in it in *faceIds.
    host::Mtl* MaterialOf(const Node& n, std::vector<uint32_t>* faceIds);
    SceneObject* Mesh(const Node& n, const std::vector<uint32_t>& faceIds);

    QsxNode root;
    std::deque<QsxNode> nodes;
    std::deque<SceneObject> objects;
    std::deque<SceneMtl> mtls;
    std::deque<SceneTexmap> maps;
    host::Interval range;
    SceneStats stats;
    std::string animationFile;  // beside the script, read when first used
    Detail animationDetail = Detail::Geometry;  // Counts: a description needs its frame count alone
    std::vector<int32_t> parents;  // each node's parent by script order, -1 none

    // Frames 1 on of every node from an animation whose frame 0 is the script's (QsxScene.cpp).
    void AddFrames(const Animation& animation);

private:
    std::string ReadAnimationFile();
    bool animationRead_ = false;
    std::string animationWhy_;
};

}  // namespace qsxhost::script
