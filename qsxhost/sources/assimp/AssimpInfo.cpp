// The Assimp scene source's report half: what --info shows of a 3D file,
// the notes on what the host scene leaves out, and why nothing or no motion
// would be written.
#include "qsxhost/sources/assimp/AssimpSource.h"
#include "util/Text.h"

#include <assimp/material.h>

#include <algorithm>
#include <cmath>

namespace qsxhost::assimp {
namespace {

// "1 light", "2 lights"
std::string Count(int64_t n, const std::string& thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

// The first five names, then how many more.
std::string Names(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size() && i < 5; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > 5) out += " and " + std::to_string(names.size() - 5) + " more";
    return out;
}

}  // namespace

std::vector<std::string> AssimpSceneSource::Notes() const {
    std::vector<std::string> notes;
    const LeftOut& l = leftOut_;
    if (!l.emptyMeshes.empty())
        notes.push_back("left out " + qsx::util::Count(static_cast<int64_t>(l.emptyMeshes.size()), "empty mesh",
                                                       "empty meshes") +
                        " (no vertices or no faces): " + Names(l.emptyMeshes));
    if (l.nullChildren > 0) {
        std::string loose;
        if (l.looseMeshes > 0)
            loose = "; the " + qsx::util::Count(l.looseMeshes, "mesh", "meshes") + " no node carried " +
                    (l.looseMeshes == 1 ? "is" : "are") + " on the node \"" + kLooseMeshesNode + "\"";
        notes.push_back("left out " + Count(l.nullChildren, "null child node") + " of the file's node tree" + loose);
    }
    if (l.bones > 0)
        notes.push_back("ignored " + Count(l.bones, "bone") +
                        " and their skin weights (skinned meshes are written as the skeleton holds them at rest)");
    if (!skinAsStored_.empty())
        notes.push_back("wrote " + Count(static_cast<int64_t>(skinAsStored_.size()), "skinned mesh") +
                        " as stored, not as its skeleton holds it: " + Names(skinAsStored_) +
                        " (a bone names no node, or the pose is not finite)");
    if (!greyMaterials_.empty())
        notes.push_back("gave " + Count(static_cast<int64_t>(greyMaterials_.size()), "material") +
                        " without a colour a light grey: " + Names(greyMaterials_));
    if (!placeholderMaterials_.empty())
        notes.push_back("wrote " + Count(static_cast<int64_t>(placeholderMaterials_.size()), "material") +
                        " without a texture: the reader named a stand-in file, not one of the file's: " +
                        Names(placeholderMaterials_));
    if (!clearMaterials_.empty())
        notes.push_back(Count(static_cast<int64_t>(clearMaterials_.size()), "material") +
                        (clearMaterials_.size() == 1 ? " is" : " are") +
                        " fully transparent (opacity 0), so the faces that use " +
                        (clearMaterials_.size() == 1 ? "it" : "them") + " are invisible: " + Names(clearMaterials_));
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
    if (l.pointClouds > 0) return "the file's meshes have only points (vertices without faces), which QSX cannot store";
    if (!l.emptyMeshes.empty()) return "the file's meshes are all empty";
    if (l.cameras > 0 || l.lights > 0 || l.bones > 0) return "the file has only cameras, lights or bones";
    return scene_->mRootNode->mNumChildren > 0 ? "the file has only nodes without meshes" : "the file has no meshes";
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
