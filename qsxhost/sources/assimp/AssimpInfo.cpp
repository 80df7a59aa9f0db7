// The Assimp scene source's report half: what --info shows of a 3D file,
// the notes on what the host scene leaves out, and why nothing or no motion
// would be written.
#include "qsxhost/sources/assimp/AssimpSource.h"

#include <assimp/material.h>

#include <algorithm>
#include <cmath>

namespace qsxhost::assimp {
namespace {

// "1 light", "2 lights"
std::string Count(int64_t n, const std::string& thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

std::vector<std::string> AssimpSceneSource::Notes() const {
    std::vector<std::string> notes;
    const LeftOut& l = leftOut_;
    if (!l.emptyMeshes.empty()) {
        std::string names;
        for (size_t i = 0; i < l.emptyMeshes.size() && i < 5; ++i) names += (i ? ", " : "") + l.emptyMeshes[i];
        if (l.emptyMeshes.size() > 5) names += " and " + std::to_string(l.emptyMeshes.size() - 5) + " more";
        notes.push_back("left out " + std::to_string(l.emptyMeshes.size()) + " empty mesh" +
                        (l.emptyMeshes.size() == 1 ? "" : "es") + " (no vertices or no faces): " + names);
    }
    if (l.bones > 0) notes.push_back("ignored " + Count(l.bones, "bone") + " and their skin weights (the bind pose is written)");
    if (l.morphTargets > 0 || l.morphAnimations > 0) {
        std::string what;
        if (l.morphTargets > 0) what = Count(l.morphTargets, "morph target");
        if (l.morphAnimations > 0) what += (what.empty() ? "" : " and ") + Count(l.morphAnimations, "morph-target animation");
        notes.push_back("ignored " + what);
    }
    if (l.lines > 0 || l.points > 0) {
        std::string what;
        if (l.lines > 0) what = std::to_string(l.lines) + " line";
        if (l.points > 0) what += (what.empty() ? "" : " and ") + std::to_string(l.points) + " point";
        notes.push_back("ignored " + what + " primitive" + (l.lines + l.points == 1 ? "" : "s"));
    }
    if (l.cameras > 0 || l.lights > 0) {
        std::string what;
        if (l.cameras > 0) what = Count(l.cameras, "camera");
        if (l.lights > 0) what += (what.empty() ? "" : ", ") + Count(l.lights, "light");
        notes.push_back("ignored " + what);
    }
    const unsigned animations = scene_->mAnimations ? scene_->mNumAnimations : 0;
    if (animations > 1)
        notes.push_back("ignored " + Count(animations - 1, "animation") + " other than --animation-index " +
                        std::to_string(animationIndex_));
    return notes;
}

std::string AssimpSceneSource::AnimationNote() const {
    if (!animation_ || animationMovesGeometry_) return {};
    const std::string which = "animation " + std::to_string(animationIndex_);
    if (animation_->mNumChannels == 0 || !animation_->mChannels)
        return which + " moves no node: every frame of the .qsv is the same";
    return which + (leftOut_.bones > 0 ? " moves only bones, which are not exported"
                                       : " moves only nodes without meshes") +
           ": every frame of the .qsv is the same";
}

std::string AssimpSceneSource::WhyNothingToExport() {
    const LeftOut& l = leftOut_;
    if (l.triangleMeshes > 0) return "no node of the file carries its meshes";
    if (l.lines > 0 || l.points > 0) return "the file has only line and point primitives, which QSX cannot store";
    const bool others = l.cameras > 0 || l.lights > 0 || l.bones > 0 ||
                        (scene_->mAnimations && scene_->mNumAnimations > 0) || scene_->mRootNode->mNumChildren > 0;
    return others ? "the file has only cameras, lights or bones" : "the file has no meshes";
}

SceneInfo AssimpSceneSource::Describe() const {
    SceneInfo info;
    const aiScene& sc = *scene_;
    info.format = format_.empty() ? "3D file" : format_;
    info.upAxis = upAxis_;
    info.upAxisWhy = upAxisWhy_;
    info.unitWhy = "not stated in the file";
    if (sc.mMetaData) {
        // FBX states it in centimetres per unit, as a double or a float.
        double factor = 0;
        float single = 0;
        if (!sc.mMetaData->Get("UnitScaleFactor", factor) && sc.mMetaData->Get("UnitScaleFactor", single))
            factor = single;
        if (factor > 0 && std::isfinite(factor)) {
            info.unit = factor;
            info.unitWhy = "the file's UnitScaleFactor";
        }
    }

    std::unordered_map<const AssimpNode*, int64_t> indexOf;
    for (size_t i = 1; i < nodes_.size(); ++i) {
        const AssimpNode& n = *nodes_[i];
        SceneInfo::Node out;
        out.name = n.name;
        if (!n.parent->root) {
            out.parent = indexOf.at(n.parent);
            out.depth = info.nodes[static_cast<size_t>(out.parent)].depth + 1;
        }
        out.meshes = n.fileMeshes;
        if (n.fileMeshes > 0) {
            out.positions = n.object->mesh.getNumVerts();
            out.triangles = n.object->mesh.getNumFaces();
            for (unsigned m : *n.materials) out.materials.push_back(m);
        }
        indexOf.emplace(&n, static_cast<int64_t>(info.nodes.size()));
        info.nodes.push_back(std::move(out));
    }

    for (unsigned i = 0; sc.mMaterials && i < sc.mNumMaterials; ++i) {
        SceneInfo::Material out;
        out.kind = "standard";
        if (const aiMaterial* m = sc.mMaterials[i]) {
            aiString s;
            if (m->Get(AI_MATKEY_NAME, s) == AI_SUCCESS) out.name = ToString(s);
            const auto texture = [&](aiTextureType type, const char* channel) {
                aiString path;
                if (m->GetTextureCount(type) == 0 || m->GetTexture(type, 0, &path) != AI_SUCCESS) return false;
                SceneInfo::Texture t;
                t.channel = channel;
                t.file = TextureName(path, &t.embedded);
                if (t.file.empty()) return false;
                out.textures.push_back(std::move(t));
                return true;
            };
            if (!texture(aiTextureType_DIFFUSE, "diffuse")) texture(aiTextureType_BASE_COLOR, "diffuse");
            texture(aiTextureType_OPACITY, "opacity");
        }
        info.materials.push_back(std::move(out));
    }

    const double fps = static_cast<double>(kHostTicksPerSecond) / ticksPerFrame_;
    for (unsigned i = 0; sc.mAnimations && i < sc.mNumAnimations; ++i) {
        const aiAnimation* a = sc.mAnimations[i];
        if (!a) continue;
        SceneInfo::Animation out;
        out.index = i;
        out.name = ToString(a->mName);
        // Without ticks per second the key times count frames.
        const double seconds = a->mTicksPerSecond > 0 ? a->mDuration / a->mTicksPerSecond : a->mDuration / fps;
        out.seconds = std::isfinite(seconds) ? seconds : 0;
        out.fps = fps;
        out.frames = static_cast<int64_t>(std::llround(std::min(out.seconds * fps, 9e15)));
        for (unsigned c = 0; a->mChannels && c < a->mNumChannels; ++c) {
            const aiNodeAnim* ch = a->mChannels[c];
            if (!ch) continue;
            ++out.nodes;
            out.positionKeys += ch->mNumPositionKeys;
            out.rotationKeys += ch->mNumRotationKeys;
            out.scalingKeys += ch->mNumScalingKeys;
        }
        out.morphChannels = (a->mMorphMeshChannels ? a->mNumMorphMeshChannels : 0) +
                            (a->mMeshChannels ? a->mNumMeshChannels : 0);
        out.exported = a == animation_;
        info.animations.push_back(std::move(out));
    }
    info.notes = Notes();
    return info;
}

}  // namespace qsxhost::assimp
