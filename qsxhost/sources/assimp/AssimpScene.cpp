// The Assimp scene source in one file, over 600 lines: the import, the node
// tree, the objects, materials, embedded textures and animation tracks are
// all built from one aiScene by one source class whose indexes they share;
// the checks of the imported numbers stand apart in AssimpChecks.cpp.
#include "qsxhost/sources/assimp/AssimpScene.h"
#include "qsxhost/sources/assimp/AssimpChecks.h"
#include "qsxhost/sources/TreeNode.h"
#include "util/Files.h"
#include "util/Text.h"

#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>
#include <assimp/config.h>
#include <assimp/importerdesc.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace qsxhost {
namespace {

constexpr int kHostTicksPerSecond = 4800;

// Assimp's strings carry a length that a damaged file could set past the
// buffer; never read beyond it, and stop at the first NUL.
std::string ToString(const aiString& s) {
    const size_t cap = std::min<size_t>(s.length, MAXLEN - 1);
    return std::string(s.data, strnlen(s.data, cap));
}

// Assimp matrices act on column vectors; the host's on row vectors.
host::Matrix3 ToHost(const aiMatrix4x4& m) {
    host::Matrix3 r;
    r.SetRow(0, {m.a1, m.b1, m.c1});
    r.SetRow(1, {m.a2, m.b2, m.c2});
    r.SetRow(2, {m.a3, m.b3, m.c3});
    const host::Point3 t{m.a4, m.b4, m.c4};
    if (!(t == host::Point3{0, 0, 0})) r.SetTrans(t);
    return r;
}

// The turn of a world frame whose up axis is `axis` (0 x, 1 y, 2 z) pointing
// along `sign` into the host's Z-up frame, as a proper rotation: rows are the
// images of the source x, y and z axes.
host::Matrix3 UpTurn(int axis, int sign) {
    host::Matrix3 m;
    const float s = sign < 0 ? -1.0f : 1.0f;
    switch (axis) {
        case 0:  // (x, y, z) -> (y, s*z, s*x)
            m.SetRow(0, {0, 0, s});
            m.SetRow(1, {1, 0, 0});
            m.SetRow(2, {0, s, 0});
            break;
        case 1:  // (x, y, z) -> (x, -s*z, s*y)
            m.SetRow(0, {1, 0, 0});
            m.SetRow(1, {0, 0, s});
            m.SetRow(2, {0, -s, 0});
            break;
        default:  // (x, y, z) -> (x, s*y, s*z)
            m.SetRow(0, {1, 0, 0});
            m.SetRow(1, {0, s, 0});
            m.SetRow(2, {0, 0, s});
            break;
    }
    return m;
}

// ---------------------------------------------------------------------------
// Animation

struct VecKey {
    double time;  // host ticks
    aiVector3D value;
};
struct QuatKey {
    double time;
    aiQuaternion value;
};

struct Track {
    std::vector<VecKey> positions, scalings;
    std::vector<QuatKey> rotations;
};

// The key pair around t: index of the key at or before t, and the blend
// factor towards the next one. Held outside the keys.
template <class Key>
std::pair<size_t, float> Bracket(const std::vector<Key>& keys, double t) {
    if (t <= keys.front().time) return {0, 0.0f};
    if (t >= keys.back().time) return {keys.size() - 1, 0.0f};
    const auto it = std::upper_bound(keys.begin(), keys.end(), t, [](double v, const Key& k) { return v < k.time; });
    const size_t b = static_cast<size_t>(it - keys.begin());
    const Key& k0 = keys[b - 1];
    const Key& k1 = keys[b];
    return {b - 1, static_cast<float>((t - k0.time) / (k1.time - k0.time))};
}

aiVector3D SampleVec(const std::vector<VecKey>& keys, double t, const aiVector3D& fallback) {
    if (keys.empty()) return fallback;
    const auto [i, f] = Bracket(keys, t);
    if (f == 0.0f) return keys[i].value;
    const aiVector3D& a = keys[i].value;
    const aiVector3D& b = keys[i + 1].value;
    return a + (b - a) * f;
}

aiQuaternion SampleQuat(const std::vector<QuatKey>& keys, double t, const aiQuaternion& fallback) {
    if (keys.empty()) return fallback;
    const auto [i, f] = Bracket(keys, t);
    if (f == 0.0f) return keys[i].value;
    aiQuaternion out;
    aiQuaternion::Interpolate(out, keys[i].value, keys[i + 1].value, f);
    return out.Normalize();
}

// ---------------------------------------------------------------------------
// Nodes

class AssimpNode final : public TreeNode<AssimpNode> {
public:
    host::Matrix3 localRow;          // the node's own transform, host form
    const host::Matrix3* turn = nullptr;  // into the host frame; stands above the root
    const Track* track = nullptr;
    aiVector3D baseScaling{1, 1, 1}, basePosition;
    aiQuaternion baseRotation;
    bool animated = false;  // the node or one of its ancestors has a track
    host::Matrix3 staticWorld;

    host::Point3 GetObjOffsetPos() const override { return {}; }
    host::Quat GetObjOffsetRot() const override { return {}; }

    host::Matrix3 GetNodeTM(host::TimeValue t) const override {
        if (!animated) return staticWorld;
        // Compose down from the nearest ancestor whose world at t is known,
        // without recursion (node trees can be deep).
        std::vector<const AssimpNode*> chain;
        const AssimpNode* n = this;
        while (n && n->animated && !(n->cacheValid_ && n->cacheTime_ == t)) {
            chain.push_back(n);
            n = n->parent;
        }
        host::Matrix3 world = !n ? *turn : (n->animated ? n->cacheWorld_ : n->staticWorld);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            world = (*it)->LocalAt(t) * world;
            (*it)->cacheWorld_ = world;
            (*it)->cacheTime_ = t;
            (*it)->cacheValid_ = true;
        }
        return world;
    }

private:
    host::Matrix3 LocalAt(host::TimeValue t) const {
        if (!track) return localRow;
        const double ticks = static_cast<double>(t);
        const aiVector3D s = SampleVec(track->scalings, ticks, baseScaling);
        const aiQuaternion r = SampleQuat(track->rotations, ticks, baseRotation);
        const aiVector3D p = SampleVec(track->positions, ticks, basePosition);
        return ToHost(aiMatrix4x4(s, r, p));
    }

    mutable bool cacheValid_ = false;
    mutable host::TimeValue cacheTime_ = 0;
    mutable host::Matrix3 cacheWorld_;
};

// ---------------------------------------------------------------------------
// The scene

class ProgressBridge final : public Assimp::ProgressHandler {
public:
    explicit ProgressBridge(const std::function<void(float)>& fn) : fn_(fn) {}
    bool Update(float percentage) override {
        if (fn_ && percentage >= 0.0f) fn_(std::min(percentage, 1.0f));
        return true;
    }

private:
    const std::function<void(float)>& fn_;
};

class AssimpSceneSource final : public SceneSource {
public:
    AssimpSceneSource(std::unique_ptr<aiScene> scene, int ticksPerFrame)
        : scene_(std::move(scene)), ticksPerFrame_(ticksPerFrame) {}

    bool Build(const AssimpOptions& options, bool fileIsFbx, std::string* error);

    host::INode* GetRootNode() override { return nodes_.front().get(); }
    host::Interval GetAnimRange() const override { return range_; }
    int GetTicksPerFrame() const override { return ticksPerFrame_; }
    SceneStats Stats() const override { return stats_; }

    const aiScene& Scene() const { return *scene_; }
    const std::vector<std::string>& EmbeddedNames() const { return embeddedNames_; }

private:
    bool CheckTree(std::string* error) const;
    bool UsableMesh(unsigned index) const;
    void NameEmbeddedTextures();
    host::Texmap* MapFor(const aiString& path);
    host::Mtl* StandardFor(unsigned materialIndex);
    std::pair<SceneObject*, host::Mtl*> ObjectFor(const std::vector<unsigned>& meshes);
    const Track* TrackFor(const aiNodeAnim* channel);
    double HostTicks(double keyTime) const;
    AssimpNode* NewNode(AssimpNode* parent);

    std::unique_ptr<aiScene> scene_;
    int ticksPerFrame_;
    host::Matrix3 turn_;
    host::Interval range_;
    SceneStats stats_;

    const aiAnimation* animation_ = nullptr;
    std::vector<std::unique_ptr<AssimpNode>> nodes_;  // pre-order; front is the root
    std::vector<std::unique_ptr<SceneObject>> objects_;
    std::vector<std::unique_ptr<SceneMtl>> materials_;
    std::vector<std::unique_ptr<SceneTexmap>> maps_;
    std::vector<std::unique_ptr<Track>> tracks_;
    std::vector<std::string> embeddedNames_;

    SceneObject* emptyObject_ = nullptr;
    std::vector<host::Mtl*> standardByIndex_;
    std::vector<bool> standardBuilt_;
    std::map<std::string, host::Texmap*> mapByName_;
    std::map<std::vector<unsigned>, std::pair<SceneObject*, host::Mtl*>> objectByMeshes_;
    std::map<std::vector<unsigned>, host::Mtl*> multiBySubs_;
    std::unordered_map<const aiNodeAnim*, const Track*> trackByChannel_;
};

// A node tree with a null node, a node listed twice or a child list that is
// missing is refused before anything walks it.
bool AssimpSceneSource::CheckTree(std::string* error) const {
    if (!scene_->mRootNode) {
        *error = "the file has no scene root";
        return false;
    }
    std::unordered_set<const aiNode*> seen;
    std::vector<const aiNode*> stack{scene_->mRootNode};
    while (!stack.empty()) {
        const aiNode* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) {
            *error = "node '" + ToString(n->mName) + "' appears twice in the node tree";
            return false;
        }
        if (n->mNumChildren > 0 && !n->mChildren) {
            *error = "node '" + ToString(n->mName) + "' has no list of its children";
            return false;
        }
        for (unsigned i = 0; i < n->mNumChildren; ++i) {
            if (!n->mChildren[i]) {
                *error = "node '" + ToString(n->mName) + "' has a null child node";
                return false;
            }
            stack.push_back(n->mChildren[i]);
        }
    }
    return true;
}

// Meshes of points and lines only are left out; triangulated meshes may
// carry the n-gon encoding flag as well, so the triangle bits decide.
bool AssimpSceneSource::UsableMesh(unsigned index) const {
    if (!scene_->mMeshes || index >= scene_->mNumMeshes) return false;
    const aiMesh* m = scene_->mMeshes[index];
    if (!m || (m->mNumVertices > 0 && !m->mVertices)) return false;
    const unsigned types = m->mPrimitiveTypes;
    const bool pointsOrLines = (types & (aiPrimitiveType_POINT | aiPrimitiveType_LINE)) != 0;
    const bool surfaces = (types & (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON)) != 0;
    return !(pointsOrLines && !surfaces);
}

// Embedded textures take the file name their hint gives (without its
// directories), else textureN with the format hint as extension; a texture
// stored as raw texels is written as a TGA file.
void AssimpSceneSource::NameEmbeddedTextures() {
    if (!scene_->mTextures) return;
    std::unordered_set<std::string> used;
    for (unsigned i = 0; i < scene_->mNumTextures; ++i) {
        const aiTexture* tex = scene_->mTextures[i];
        std::string ext;
        std::string base;
        if (tex) {
            const bool raw = tex->mHeight != 0;
            const size_t hintLen = strnlen(tex->achFormatHint, HINTMAXTEXTURELEN);
            for (size_t k = 0; k < hintLen; ++k) {
                const char c = tex->achFormatHint[k];
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) ext += c;
            }
            ext = raw ? "tga" : (ext.empty() ? "bin" : qsx::util::ToAsciiLower(ext));
            const std::string hint = ToString(tex->mFilename);
            const size_t cut = hint.find_last_of("/\\:");
            base = cut == std::string::npos ? hint : hint.substr(cut + 1);
            if (base == "." || base == "..") base.clear();
            if (!base.empty()) {
                const size_t dot = base.find_last_of('.');
                if (raw) base = (dot == std::string::npos ? base : base.substr(0, dot)) + ".tga";
                else if (dot == std::string::npos) base += "." + ext;
            }
        }
        if (ext.empty()) ext = "bin";
        const std::string fallback = "texture" + std::to_string(i) + "." + ext;
        std::string name = base.empty() || used.count(qsx::util::ToAsciiLower(base)) ? fallback : base;
        if (used.count(qsx::util::ToAsciiLower(name)))
            name = "texture" + std::to_string(i) + "_" + std::to_string(used.size()) + "." + ext;
        used.insert(qsx::util::ToAsciiLower(name));
        embeddedNames_.push_back(name);
    }
}

// The map of a texture path: an embedded texture ("*N", or a path whose file
// name is an embedded texture's) by its embedded name, any other by the path
// as the file gives it.
host::Texmap* AssimpSceneSource::MapFor(const aiString& path) {
    std::string name = ToString(path);
    if (name.empty()) return nullptr;
    if (name[0] == '*') {
        const std::string digits = name.substr(1);
        if (!digits.empty() && digits.size() < 10 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const unsigned long idx = std::stoul(digits);
            if (idx < embeddedNames_.size()) name = embeddedNames_[idx];
        }
    } else if (!embeddedNames_.empty()) {
        const auto shortName = [](const std::string& s) {
            const size_t cut = s.find_last_of("/\\");
            return cut == std::string::npos ? s : s.substr(cut + 1);
        };
        const std::string mine = shortName(name);
        for (unsigned i = 0; i < embeddedNames_.size(); ++i) {
            const aiTexture* tex = scene_->mTextures[i];
            if (tex && tex->mFilename.length > 0 && shortName(ToString(tex->mFilename)) == mine) {
                name = embeddedNames_[i];
                break;
            }
        }
    }
    auto found = mapByName_.find(name);
    if (found != mapByName_.end()) return found->second;
    SceneTexmap& map = *maps_.emplace_back(std::make_unique<SceneTexmap>());
    map.cls = host::BITMAP_TEXTURE_CLASS_ID;
    map.file = name;
    mapByName_.emplace(std::move(name), &map);
    return &map;
}

host::Mtl* AssimpSceneSource::StandardFor(unsigned index) {
    if (index >= standardBuilt_.size() || !scene_->mMaterials[index]) return nullptr;
    if (standardBuilt_[index]) return standardByIndex_[index];
    const aiMaterial& m = *scene_->mMaterials[index];
    SceneMtl& mtl = *materials_.emplace_back(std::make_unique<SceneMtl>());
    mtl.cls = host::STANDARD_MATERIAL_CLASS_ID;
    aiColor3D c;
    if (m.Get(AI_MATKEY_COLOR_AMBIENT, c) == AI_SUCCESS) mtl.ambient = {c.r, c.g, c.b};
    if (m.Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS || m.Get(AI_MATKEY_BASE_COLOR, c) == AI_SUCCESS)
        mtl.diffuse = {c.r, c.g, c.b};
    if (m.Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS) mtl.specular = {c.r, c.g, c.b};
    float f = 1.0f;
    if (m.Get(AI_MATKEY_OPACITY, f) == AI_SUCCESS) mtl.opacity = f;
    int i = 0;
    if (m.Get(AI_MATKEY_TWOSIDED, i) == AI_SUCCESS) mtl.twoSided = i != 0;
    i = 0;
    if (m.Get(AI_MATKEY_ENABLE_WIREFRAME, i) == AI_SUCCESS) mtl.wire = i != 0;
    i = aiShadingMode_Gouraud;
    if (m.Get(AI_MATKEY_SHADING_MODEL, i) == AI_SUCCESS) mtl.shading = i == aiShadingMode_Flat ? 0 : 1;
    // A channel is enabled exactly when the file gives it a texture.
    aiString path;
    if (m.GetTextureCount(aiTextureType_DIFFUSE) > 0 && m.GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS)
        mtl.diffuseMap.map = MapFor(path);
    if (!mtl.diffuseMap.map && m.GetTextureCount(aiTextureType_BASE_COLOR) > 0 &&
        m.GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS)
        mtl.diffuseMap.map = MapFor(path);
    if (m.GetTextureCount(aiTextureType_OPACITY) > 0 && m.GetTexture(aiTextureType_OPACITY, 0, &path) == AI_SUCCESS)
        mtl.opacityMap.map = MapFor(path);
    mtl.diffuseMap.enabled = mtl.diffuseMap.map != nullptr;
    mtl.opacityMap.enabled = mtl.opacityMap.map != nullptr;
    standardBuilt_[index] = true;
    standardByIndex_[index] = &mtl;
    return &mtl;
}

// One host mesh of all the node's meshes, vertex for vertex, faces in mesh
// order; the material is the one Assimp material, or a multi/sub-object
// material of all of them in first-use order with matching face ids.
std::pair<SceneObject*, host::Mtl*> AssimpSceneSource::ObjectFor(const std::vector<unsigned>& meshIds) {
    auto found = objectByMeshes_.find(meshIds);
    if (found != objectByMeshes_.end()) return found->second;

    auto object = std::make_unique<SceneObject>();
    host::Mesh& mesh = object->mesh;
    bool anyUV = false;
    for (unsigned id : meshIds) anyUV = anyUV || scene_->mMeshes[id]->mTextureCoords[0] != nullptr;

    std::vector<unsigned> matOrder;
    for (unsigned id : meshIds) {
        const aiMesh& m = *scene_->mMeshes[id];
        const uint32_t base = static_cast<uint32_t>(mesh.verts.size());
        const aiVector3D* uv = m.mTextureCoords[0];
        for (unsigned v = 0; v < m.mNumVertices; ++v) {
            const aiVector3D& p = m.mVertices[v];
            mesh.verts.push_back({p.x, p.y, p.z});
            if (anyUV) mesh.tVerts.push_back(uv ? host::Point3{uv[v].x, uv[v].y, uv[v].z} : host::Point3{});
        }
        auto slot = std::find(matOrder.begin(), matOrder.end(), m.mMaterialIndex);
        if (slot == matOrder.end()) slot = matOrder.insert(matOrder.end(), m.mMaterialIndex);
        const uint32_t matId = static_cast<uint32_t>(slot - matOrder.begin()) & 0xFFFFu;
        if (!m.mFaces) continue;
        for (unsigned f = 0; f < m.mNumFaces; ++f) {
            const aiFace& face = m.mFaces[f];
            if (face.mNumIndices != 3 || !face.mIndices) continue;
            if (face.mIndices[0] >= m.mNumVertices || face.mIndices[1] >= m.mNumVertices ||
                face.mIndices[2] >= m.mNumVertices)
                continue;
            host::Face hf;
            for (int k = 0; k < 3; ++k) hf.v[k] = base + face.mIndices[k];
            hf.flags = matId << 16;
            mesh.faces.push_back(hf);
            if (anyUV) mesh.tvFaces.push_back({{hf.v[0], hf.v[1], hf.v[2]}});
        }
    }

    host::Mtl* mtl = nullptr;
    if (matOrder.size() == 1) {
        mtl = StandardFor(matOrder.front());
    } else if (matOrder.size() > 1) {
        auto multi = multiBySubs_.find(matOrder);
        if (multi != multiBySubs_.end()) {
            mtl = multi->second;
        } else {
            std::vector<host::Mtl*> subs;
            for (unsigned idx : matOrder) subs.push_back(StandardFor(idx));
            SceneMtl& multiMtl = *materials_.emplace_back(std::make_unique<SceneMtl>());
            multiMtl.cls = host::MULTI_MATERIAL_CLASS_ID;
            multiMtl.subs = std::move(subs);
            mtl = &multiMtl;
            multiBySubs_.emplace(matOrder, mtl);
        }
    }
    objects_.push_back(std::move(object));
    const std::pair<SceneObject*, host::Mtl*> result{objects_.back().get(), mtl};
    objectByMeshes_.emplace(meshIds, result);
    return result;
}

// Key times in host ticks: Assimp's ticks per second, or frames at the
// chosen rate when the file gives none.
double AssimpSceneSource::HostTicks(double keyTime) const {
    const double tps = animation_ ? animation_->mTicksPerSecond : 0.0;
    return tps > 0.0 ? keyTime * kHostTicksPerSecond / tps : keyTime * ticksPerFrame_;
}

const Track* AssimpSceneSource::TrackFor(const aiNodeAnim* ch) {
    auto found = trackByChannel_.find(ch);
    if (found != trackByChannel_.end()) return found->second;
    auto track = std::make_unique<Track>();
    if (ch->mPositionKeys)
        for (unsigned k = 0; k < ch->mNumPositionKeys; ++k) {
            const double t = HostTicks(ch->mPositionKeys[k].mTime);
            if (std::isfinite(t)) track->positions.push_back({t, ch->mPositionKeys[k].mValue});
        }
    if (ch->mScalingKeys)
        for (unsigned k = 0; k < ch->mNumScalingKeys; ++k) {
            const double t = HostTicks(ch->mScalingKeys[k].mTime);
            if (std::isfinite(t)) track->scalings.push_back({t, ch->mScalingKeys[k].mValue});
        }
    if (ch->mRotationKeys)
        for (unsigned k = 0; k < ch->mNumRotationKeys; ++k) {
            const double t = HostTicks(ch->mRotationKeys[k].mTime);
            if (std::isfinite(t)) track->rotations.push_back({t, ch->mRotationKeys[k].mValue});
        }
    const auto byTime = [](const auto& a, const auto& b) { return a.time < b.time; };
    std::stable_sort(track->positions.begin(), track->positions.end(), byTime);
    std::stable_sort(track->scalings.begin(), track->scalings.end(), byTime);
    std::stable_sort(track->rotations.begin(), track->rotations.end(), byTime);
    const Track* result = nullptr;
    if (!track->positions.empty() || !track->scalings.empty() || !track->rotations.empty()) {
        tracks_.push_back(std::move(track));
        result = tracks_.back().get();
    }
    trackByChannel_.emplace(ch, result);
    return result;
}

AssimpNode* AssimpSceneSource::NewNode(AssimpNode* parent) {
    nodes_.push_back(std::make_unique<AssimpNode>());
    AssimpNode* n = nodes_.back().get();
    n->parent = parent;
    n->turn = &turn_;
    if (parent) parent->children.push_back(n);
    return n;
}

bool AssimpSceneSource::Build(const AssimpOptions& options, bool fileIsFbx, std::string* error) {
    if (!CheckTree(error)) return false;
    if (!CheckFiniteNumbers(*scene_, options.animationIndex, error)) return false;
    const aiScene& sc = *scene_;

    // Up axis of Assimp's world frame.
    int upAxis = 1, upSign = 1;
    if (options.upAxis == UpAxis::Z) {
        upAxis = 2;
    } else if (options.upAxis == UpAxis::Auto && fileIsFbx && sc.mMetaData) {
        int32_t axis = 1, sign = 1;
        if (sc.mMetaData->Get("UpAxis", axis) && axis >= 0 && axis <= 2) {
            upAxis = axis;
            if (sc.mMetaData->Get("UpAxisSign", sign)) upSign = sign < 0 ? -1 : 1;
        }
    }
    turn_ = UpTurn(upAxis, upSign);

    // Animation.
    if (options.animationIndex < 0 ||
        (options.animationIndex > 0 && static_cast<unsigned>(options.animationIndex) >= sc.mNumAnimations)) {
        *error = "there is no animation " + std::to_string(options.animationIndex) + " (the file has " +
                 std::to_string(sc.mNumAnimations) + ")";
        return false;
    }
    if (sc.mAnimations && static_cast<unsigned>(options.animationIndex) < sc.mNumAnimations)
        animation_ = sc.mAnimations[options.animationIndex];
    std::unordered_map<std::string, const aiNodeAnim*> channelByName;
    double latest = 0.0;
    if (animation_ && animation_->mChannels) {
        for (unsigned i = 0; i < animation_->mNumChannels; ++i) {
            const aiNodeAnim* ch = animation_->mChannels[i];
            if (!ch) continue;
            channelByName.emplace(ToString(ch->mNodeName), ch);
            if (const Track* tr = TrackFor(ch)) {
                if (!tr->positions.empty()) latest = std::max(latest, tr->positions.back().time);
                if (!tr->scalings.empty()) latest = std::max(latest, tr->scalings.back().time);
                if (!tr->rotations.empty()) latest = std::max(latest, tr->rotations.back().time);
            }
        }
    }
    range_.start = 0;
    range_.end = static_cast<host::TimeValue>(std::llround(std::min(latest, static_cast<double>(INT32_MAX))));

    NameEmbeddedTextures();
    const unsigned numMaterials = sc.mMaterials ? sc.mNumMaterials : 0;
    standardByIndex_.assign(numMaterials, nullptr);
    standardBuilt_.assign(numMaterials, false);
    stats_.materials = numMaterials;

    // The tree, in pre-order, parents before children.
    std::vector<std::vector<unsigned>> ownMeshes;  // per node, parallel to nodes_
    const auto meshesOf = [&](const aiNode* n) {
        std::vector<unsigned> ids;
        if (n->mMeshes)
            for (unsigned i = 0; i < n->mNumMeshes; ++i)
                if (UsableMesh(n->mMeshes[i])) ids.push_back(n->mMeshes[i]);
        return ids;
    };
    const auto setup = [&](AssimpNode* node, const aiNode* src) {
        node->name = ToString(src->mName);
        node->localRow = ToHost(src->mTransformation);
        auto ch = channelByName.find(node->name);
        if (ch != channelByName.end()) node->track = TrackFor(ch->second);
        // What a channel leaves without keys keeps the node's own value.
        if (node->track) src->mTransformation.Decompose(node->baseScaling, node->baseRotation, node->basePosition);
    };

    AssimpNode* root = NewNode(nullptr);
    root->root = true;
    setup(root, sc.mRootNode);
    ownMeshes.emplace_back();
    // Meshes on the root itself would be lost (the root is never written):
    // they become a first top-level node in the root's place.
    if (std::vector<unsigned> rootMeshes = meshesOf(sc.mRootNode); !rootMeshes.empty()) {
        AssimpNode* holder = NewNode(root);
        holder->name = root->name;
        ownMeshes.push_back(std::move(rootMeshes));
    }
    std::vector<std::pair<const aiNode*, AssimpNode*>> stack;
    for (unsigned i = sc.mRootNode->mNumChildren; i-- > 0;) stack.emplace_back(sc.mRootNode->mChildren[i], root);
    while (!stack.empty()) {
        const auto [src, parent] = stack.back();
        stack.pop_back();
        AssimpNode* node = NewNode(parent);
        setup(node, src);
        ownMeshes.push_back(meshesOf(src));
        for (unsigned i = src->mNumChildren; i-- > 0;) stack.emplace_back(src->mChildren[i], node);
    }

    // Objects: own meshes, else an empty mesh when a descendant has meshes
    // (so that the subtree keeps its place), else none.
    std::vector<bool> meshBelow(nodes_.size(), false);
    std::unordered_map<const AssimpNode*, size_t> indexOf;
    for (size_t i = 0; i < nodes_.size(); ++i) indexOf.emplace(nodes_[i].get(), i);
    for (size_t i = nodes_.size(); i-- > 1;) {
        if (!ownMeshes[i].empty() || meshBelow[i]) meshBelow[indexOf.at(nodes_[i]->parent)] = true;
    }
    for (size_t i = 1; i < nodes_.size(); ++i) {
        AssimpNode* node = nodes_[i].get();
        if (!ownMeshes[i].empty()) {
            std::tie(node->object, node->mtl) = ObjectFor(ownMeshes[i]);
            ++stats_.meshes;
            stats_.vertices += node->object->mesh.getNumVerts();
            stats_.faces += node->object->mesh.getNumFaces();
        } else if (meshBelow[i]) {
            if (!emptyObject_) {
                objects_.push_back(std::make_unique<SceneObject>());
                emptyObject_ = objects_.back().get();
            }
            node->object = emptyObject_;
        }
    }
    stats_.nodes = static_cast<int64_t>(nodes_.size()) - 1;

    // World transforms: the node's own, then its ancestors' up to the root's,
    // then the turn into the host frame.
    for (auto& n : nodes_) {
        n->animated = n->track || (n->parent && n->parent->animated);
        n->staticWorld = n->localRow * (n->parent ? n->parent->staticWorld : turn_);
    }
    return true;
}

bool IsFbxImport(const Assimp::Importer& importer) {
    const int index = importer.GetPropertyInteger("importerIndex", -1);
    if (index < 0) return false;
    const aiImporterDesc* desc = importer.GetImporterInfo(static_cast<size_t>(index));
    if (!desc || !desc->mFileExtensions) return false;
    const std::string exts = " " + qsx::util::ToAsciiLower(desc->mFileExtensions) + " ";
    return exts.find(" fbx ") != std::string::npos;
}

// Published whole or not at all, like every file of an export.
bool WriteFile(const std::string& path, const void* data, size_t size, std::string* error) {
    std::string why;
    if (qsx::util::PublishFile(path, static_cast<const char*>(data), size, &why)) return true;
    *error = path + ": " + why;
    return false;
}

// Raw texels (BGRA, top row first) as an uncompressed 32-bit TGA.
std::vector<unsigned char> RawTextureAsTga(const aiTexture& tex) {
    std::vector<unsigned char> out(18, 0);
    out[2] = 2;  // uncompressed true colour
    out[12] = static_cast<unsigned char>(tex.mWidth & 0xFF);
    out[13] = static_cast<unsigned char>((tex.mWidth >> 8) & 0xFF);
    out[14] = static_cast<unsigned char>(tex.mHeight & 0xFF);
    out[15] = static_cast<unsigned char>((tex.mHeight >> 8) & 0xFF);
    out[16] = 32;
    out[17] = 0x28;  // 8 alpha bits, top-left origin
    const size_t n = static_cast<size_t>(tex.mWidth) * tex.mHeight;
    out.reserve(out.size() + n * 4);
    for (size_t i = 0; i < n; ++i) {
        const aiTexel& t = tex.pcData[i];
        out.insert(out.end(), {t.b, t.g, t.r, t.a});
    }
    return out;
}

}  // namespace

namespace {

// The file's bytes come from a path, or from memory with a format hint when
// they arrived through a pipe (no name, no second read).
struct Input {
    const std::string* path = nullptr;
    std::string_view bytes;
    std::string hint;
};

std::unique_ptr<SceneSource> Load(const Input& input, const AssimpOptions& options, std::string* error) {
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    // A file without meshes stays without: no stand-in skeleton geometry.
    importer.SetPropertyInteger(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, 1);
    ProgressBridge progress(options.progress);
    // The importer deletes the handler it holds when it goes; this one is
    // ours, so it gets its own default back first, whichever way we leave.
    struct HandlerRelease {
        Assimp::Importer& importer;
        ~HandlerRelease() { importer.SetProgressHandler(nullptr); }
    } release{importer};
    importer.SetProgressHandler(&progress);

    const unsigned flags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                           aiProcess_ValidateDataStructure;
    const aiScene* read = input.path ? importer.ReadFile(*input.path, flags)
                                     : importer.ReadFileFromMemory(input.bytes.data(), input.bytes.size(), flags,
                                                                   input.hint.c_str());
    if (!read) {
        const char* why = importer.GetErrorString();
        *error = why && *why ? why : "Assimp could not import the file";
        return nullptr;
    }
    const bool fbx = IsFbxImport(importer);
    std::unique_ptr<aiScene> scene(importer.GetOrphanedScene());
    if (!scene) {
        *error = "Assimp gave no scene";
        return nullptr;
    }
    auto source = std::make_unique<AssimpSceneSource>(std::move(scene), kHostTicksPerSecond / options.fps);
    if (!source->Build(options, fbx, error)) return nullptr;
    if (options.progress) options.progress(1.0f);
    return source;
}

std::unique_ptr<SceneSource> LoadInput(const Input& input, const AssimpOptions& options, std::string* error) {
    std::string scratch;
    if (!error) error = &scratch;
    if (options.fps < 1 || options.fps > kHostTicksPerSecond) {
        *error = "frame rate " + std::to_string(options.fps) + " is outside 1 to " +
                 std::to_string(kHostTicksPerSecond);
        return nullptr;
    }
    // Errors leave here as values, never as exceptions.
    try {
        return Load(input, options, error);
    } catch (const std::bad_alloc&) {
        *error = kOutOfMemory;
    } catch (const std::exception& e) {
        *error = e.what();
    } catch (...) {
        *error = "import failed";
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<SceneSource> LoadAssimpScene(const std::string& path, const AssimpOptions& options,
                                             std::string* error) {
    return LoadInput({&path, {}, {}}, options, error);
}

std::unique_ptr<SceneSource> LoadAssimpSceneFromMemory(std::string_view bytes, const std::string& extension,
                                                       const AssimpOptions& options, std::string* error) {
    if (bytes.empty()) {
        if (error) *error = "empty";
        return nullptr;
    }
    return LoadInput({nullptr, bytes, qsx::util::ToAsciiLower(extension)}, options, error);
}

std::string AssimpInputExtensions() {
    Assimp::Importer importer;
    std::string list;
    importer.GetExtensionList(list);
    std::vector<std::string> exts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string e = list.substr(start, end - start);
        if (e.rfind("*.", 0) == 0) e.erase(0, 2);
        if (!e.empty()) exts.push_back(qsx::util::ToAsciiLower(e));
        start = end + 1;
    }
    std::sort(exts.begin(), exts.end());
    exts.erase(std::unique(exts.begin(), exts.end()), exts.end());
    std::string out;
    for (const std::string& e : exts) out += (out.empty() ? "" : " ") + e;
    return out;
}

bool ExtractEmbeddedTextures(SceneSource& scene, const std::string& outputDir, std::vector<std::string>* written,
                             std::string* error) {
    std::string scratch;
    if (!error) error = &scratch;
    const auto* source = dynamic_cast<const AssimpSceneSource*>(&scene);
    if (!source) return true;
    try {
        const aiScene& sc = source->Scene();
        const std::vector<std::string>& names = source->EmbeddedNames();
        std::string dir = outputDir.empty() ? "." : outputDir;
        if (dir.back() != '/') dir += '/';
        for (unsigned i = 0; i < sc.mNumTextures && i < names.size(); ++i) {
            const aiTexture* tex = sc.mTextures ? sc.mTextures[i] : nullptr;
            if (!tex || !tex->pcData) continue;
            const std::string path = dir + names[i];
            bool ok;
            if (tex->mHeight == 0) {
                ok = WriteFile(path, tex->pcData, tex->mWidth, error);
            } else if (tex->mWidth > 0xFFFF || tex->mHeight > 0xFFFF) {
                *error = path + ": a texture of " + std::to_string(tex->mWidth) + " by " +
                         std::to_string(tex->mHeight) + " texels is too large to write";
                ok = false;
            } else {
                const std::vector<unsigned char> tga = RawTextureAsTga(*tex);
                ok = WriteFile(path, tga.data(), tga.size(), error);
            }
            if (!ok) return false;
            if (written) written->push_back(path);
        }
        return true;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
}

}  // namespace qsxhost
