// The Assimp scene source in one file, near 1,000 lines: the import, the node
// tree, the objects, materials, embedded textures, animation tracks and the
// report of what the scene holds are all built from one aiScene by one
// source class whose indexes they share; the checks of the imported file
// stand apart in AssimpChecks.cpp, the vertex join in PointJoin.h.
#include "qsxhost/sources/assimp/AssimpScene.h"
#include "qsxhost/sources/assimp/AssimpChecks.h"
#include "qsxhost/sources/assimp/PointJoin.h"
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
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
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
    int64_t fileMeshes = 0;                           // the file's meshes joined into its object
    const std::vector<unsigned>* materials = nullptr;  // the file's materials in face-id order

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
    AssimpSceneSource(std::unique_ptr<aiScene> scene, int ticksPerFrame, const LeftOut& leftOut, std::string format)
        : scene_(std::move(scene)), ticksPerFrame_(ticksPerFrame), leftOut_(leftOut), format_(std::move(format)) {}

    bool Build(const AssimpOptions& options, bool fileIsFbx, std::string* error);

    host::INode* GetRootNode() override { return nodes_.front().get(); }
    host::Interval GetAnimRange() const override { return range_; }
    int GetTicksPerFrame() const override { return ticksPerFrame_; }
    SceneStats Stats() const override { return stats_; }
    SceneInfo Describe() const override;
    std::vector<std::string> Notes() const override;
    std::string AnimationNote() const override;
    std::string WhyNothingToExport() override;

    const aiScene& Scene() const { return *scene_; }
    const std::vector<std::string>& EmbeddedNames() const { return embeddedNames_; }

private:
    // A node's host mesh and material, and the file's materials in face-id order.
    struct Built {
        SceneObject* object = nullptr;
        host::Mtl* mtl = nullptr;
        std::vector<unsigned> materials;
    };

    bool UsableMesh(unsigned index) const;
    void NameEmbeddedTextures();
    std::string TextureName(const aiString& path, bool* embedded) const;
    host::Texmap* MapFor(const aiString& path);
    host::Mtl* StandardFor(unsigned materialIndex);
    const Built& ObjectFor(const std::vector<unsigned>& meshes);
    const Track* TrackFor(const aiNodeAnim* channel);
    double HostTicks(double keyTime) const;
    AssimpNode* NewNode(AssimpNode* parent);

    std::unique_ptr<aiScene> scene_;
    int ticksPerFrame_;
    LeftOut leftOut_;
    std::string format_;
    std::string upAxis_;
    host::Matrix3 turn_;
    host::Interval range_;
    SceneStats stats_;

    const aiAnimation* animation_ = nullptr;
    unsigned animationIndex_ = 0;
    bool animationMovesGeometry_ = false;
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
    std::map<std::vector<unsigned>, Built> objectByMeshes_;
    std::map<std::vector<unsigned>, host::Mtl*> multiBySubs_;
    std::unordered_map<const aiNodeAnim*, const Track*> trackByChannel_;
    std::vector<uint32_t> joinedPosition_, joinedUV_;  // per vertex of one Assimp mesh
};

// Meshes of points and lines only are left out (their primitives are
// counted for the notes); triangulated meshes may carry the n-gon encoding
// flag as well, so the triangle bits decide.
bool AssimpSceneSource::UsableMesh(unsigned index) const {
    return (scene_->mMeshes[index]->mPrimitiveTypes & (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON)) != 0;
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

// The name of a texture path: an embedded texture's ("*N", or a path whose
// file name is an embedded texture's) by its embedded name, any other the
// path as the file gives it.
std::string AssimpSceneSource::TextureName(const aiString& path, bool* embedded) const {
    std::string name = ToString(path);
    *embedded = false;
    if (name.empty()) return name;
    if (name[0] == '*') {
        const std::string digits = name.substr(1);
        if (!digits.empty() && digits.size() < 10 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const unsigned long idx = std::stoul(digits);
            if (idx < embeddedNames_.size()) {
                *embedded = true;
                return embeddedNames_[idx];
            }
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
                *embedded = true;
                return embeddedNames_[i];
            }
        }
    }
    return name;
}

host::Texmap* AssimpSceneSource::MapFor(const aiString& path) {
    bool embedded = false;
    std::string name = TextureName(path, &embedded);
    if (name.empty()) return nullptr;
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
    // A value that is not finite is not taken: importers make some up (the
    // ASE reader's stand-in material has a NaN ambient red), and the script
    // cannot hold it.
    aiColor3D c;
    const auto finite = [&] { return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b); };
    if (m.Get(AI_MATKEY_COLOR_AMBIENT, c) == AI_SUCCESS && finite()) mtl.ambient = {c.r, c.g, c.b};
    if ((m.Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS || m.Get(AI_MATKEY_BASE_COLOR, c) == AI_SUCCESS) && finite())
        mtl.diffuse = {c.r, c.g, c.b};
    if (m.Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS && finite()) mtl.specular = {c.r, c.g, c.b};
    float f = 1.0f;
    if (m.Get(AI_MATKEY_OPACITY, f) == AI_SUCCESS && std::isfinite(f)) mtl.opacity = f;
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

// One host mesh of all the node's meshes, held the way the host holds a
// mesh: positions joined on their exact values over all the meshes, the
// first texture coordinates likewise joined into texture vertices, and
// faces (in mesh order) indexing both. The vertices the importer split
// for their normals, colours or other channels the script does not store
// become one again; the script's vertex table splits a position only where
// its texture vertices differ. The material is the one Assimp material, or
// a multi/sub-object material of all of them in first-use order with
// matching face ids.
const AssimpSceneSource::Built& AssimpSceneSource::ObjectFor(const std::vector<unsigned>& meshIds) {
    auto found = objectByMeshes_.find(meshIds);
    if (found != objectByMeshes_.end()) return found->second;

    auto object = std::make_unique<SceneObject>();
    host::Mesh& mesh = object->mesh;
    bool anyUV = false;
    size_t corners = 0, faces = 0;
    for (unsigned id : meshIds) {
        anyUV = anyUV || scene_->mMeshes[id]->mTextureCoords[0] != nullptr;
        corners += scene_->mMeshes[id]->mNumVertices;
        faces += scene_->mMeshes[id]->mNumFaces;
    }
    PointJoin positions(&mesh.verts, corners);
    std::optional<PointJoin> uvs;
    if (anyUV) uvs.emplace(&mesh.tVerts, corners);
    mesh.faces.reserve(faces);
    if (anyUV) mesh.tvFaces.reserve(faces);

    Built built;
    std::vector<unsigned>& matOrder = built.materials;
    for (unsigned id : meshIds) {
        const aiMesh& m = *scene_->mMeshes[id];
        joinedPosition_.resize(m.mNumVertices);
        for (unsigned v = 0; v < m.mNumVertices; ++v) {
            const aiVector3D& p = m.mVertices[v];
            joinedPosition_[v] = positions.Add(p.x, p.y, p.z);
        }
        if (anyUV) {
            joinedUV_.resize(m.mNumVertices);
            const aiVector3D* uv = m.mTextureCoords[0];
            for (unsigned v = 0; v < m.mNumVertices; ++v)
                joinedUV_[v] = uv ? uvs->Add(uv[v].x, uv[v].y, uv[v].z) : uvs->Add(0, 0, 0);
        }
        auto slot = std::find(matOrder.begin(), matOrder.end(), m.mMaterialIndex);
        if (slot == matOrder.end()) slot = matOrder.insert(matOrder.end(), m.mMaterialIndex);
        const uint32_t matId = static_cast<uint32_t>(slot - matOrder.begin()) & 0xFFFFu;
        for (unsigned f = 0; f < m.mNumFaces; ++f) {
            const aiFace& face = m.mFaces[f];
            if (face.mNumIndices != 3 || !face.mIndices) continue;  // points, lines, a polygon not triangulated
            host::Face hf;
            for (int k = 0; k < 3; ++k) hf.v[k] = joinedPosition_[face.mIndices[k]];
            hf.flags = matId << 16;
            mesh.faces.push_back(hf);
            if (anyUV)
                mesh.tvFaces.push_back(
                    {{joinedUV_[face.mIndices[0]], joinedUV_[face.mIndices[1]], joinedUV_[face.mIndices[2]]}});
        }
    }

    if (matOrder.size() == 1) {
        built.mtl = StandardFor(matOrder.front());
    } else if (matOrder.size() > 1) {
        auto multi = multiBySubs_.find(matOrder);
        if (multi != multiBySubs_.end()) {
            built.mtl = multi->second;
        } else {
            std::vector<host::Mtl*> subs;
            for (unsigned idx : matOrder) subs.push_back(StandardFor(idx));
            SceneMtl& multiMtl = *materials_.emplace_back(std::make_unique<SceneMtl>());
            multiMtl.cls = host::MULTI_MATERIAL_CLASS_ID;
            multiMtl.subs = std::move(subs);
            built.mtl = &multiMtl;
            multiBySubs_.emplace(matOrder, built.mtl);
        }
    }
    objects_.push_back(std::move(object));
    built.object = objects_.back().get();
    return objectByMeshes_.emplace(meshIds, std::move(built)).first->second;
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
    if (!CheckFiniteNumbers(*scene_, options.animationIndex, error)) return false;
    const aiScene& sc = *scene_;

    // Up axis of Assimp's world frame.
    int upAxis = 1, upSign = 1;
    upAxis_ = "Y (the file states none)";
    if (options.upAxis != UpAxis::Auto) {
        upAxis = options.upAxis == UpAxis::Z ? 2 : 1;
        upAxis_ = upAxis == 2 ? "Z (--up-axis z)" : "Y (--up-axis y)";
    } else if (fileIsFbx && sc.mMetaData) {
        int32_t axis = 1, sign = 1;
        if (sc.mMetaData->Get("UpAxis", axis) && axis >= 0 && axis <= 2) {
            upAxis = axis;
            if (sc.mMetaData->Get("UpAxisSign", sign)) upSign = sign < 0 ? -1 : 1;
            upAxis_ = std::string(upSign < 0 ? "-" : "") + "XYZ"[axis] + " (from the file)";
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
    animationIndex_ = static_cast<unsigned>(options.animationIndex);
    if (sc.mAnimations && animationIndex_ < sc.mNumAnimations) animation_ = sc.mAnimations[animationIndex_];
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
    std::unordered_map<const AssimpNode*, const aiNodeAnim*> channelOf;
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
        if (ch != channelByName.end()) {
            node->track = TrackFor(ch->second);
            channelOf.emplace(node, ch->second);
        }
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
            const Built& built = ObjectFor(ownMeshes[i]);
            node->object = built.object;
            node->mtl = built.mtl;
            node->fileMeshes = static_cast<int64_t>(ownMeshes[i].size());
            node->materials = &built.materials;
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
    for (const auto& [node, channel] : channelOf) animationMovesGeometry_ = animationMovesGeometry_ || node->object;

    // World transforms: the node's own, then its ancestors' up to the root's,
    // then the turn into the host frame.
    for (auto& n : nodes_) {
        n->animated = n->track || (n->parent && n->parent->animated);
        n->staticWorld = n->localRow * (n->parent ? n->parent->staticWorld : turn_);
    }
    return true;
}

// "1 light", "2 lights"
std::string Count(int64_t n, const std::string& thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

// A number as the shortest text that reads back to it, in any locale.
std::string Number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

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
    info.unit = "not stated in the file";
    if (sc.mMetaData) {
        // FBX states it in centimetres per unit, as a double or a float.
        double factor = 0;
        float single = 0;
        if (!sc.mMetaData->Get("UnitScaleFactor", factor) && sc.mMetaData->Get("UnitScaleFactor", single))
            factor = single;
        if (factor > 0 && std::isfinite(factor)) info.unit = "1 unit = " + Number(factor) + " cm (UnitScaleFactor)";
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
            out.vertices = n.object->mesh.getNumVerts();
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

    // Read without post-processing: what the steps read is checked first,
    // in our words (the importer's validation would refuse the whole file
    // for parts that never reach the host scene). Vertices are joined by the
    // scene source, which knows which channels the host keeps.
    const aiScene* read = input.path ? importer.ReadFile(*input.path, 0)
                                     : importer.ReadFileFromMemory(input.bytes.data(), input.bytes.size(), 0,
                                                                   input.hint.c_str());
    const auto importFailed = [&] {
        const char* why = importer.GetErrorString();
        *error = why && *why ? why : "Assimp could not import the file";
        return nullptr;
    };
    if (!read) return importFailed();
    LeftOut leftOut;
    if (!PrepareScene(*const_cast<aiScene*>(read), &leftOut, error)) return nullptr;
    if (!importer.ApplyPostProcessing(aiProcess_Triangulate)) return importFailed();

    const bool fbx = IsFbxImport(importer);
    const int index = importer.GetPropertyInteger("importerIndex", -1);
    const aiImporterDesc* desc = index >= 0 ? importer.GetImporterInfo(static_cast<size_t>(index)) : nullptr;
    std::string format = desc && desc->mName ? desc->mName : "";
    std::unique_ptr<aiScene> scene(importer.GetOrphanedScene());
    if (!scene) {
        *error = "Assimp gave no scene";
        return nullptr;
    }
    auto source = std::make_unique<AssimpSceneSource>(std::move(scene), kHostTicksPerSecond / options.fps, leftOut,
                                                      std::move(format));
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
