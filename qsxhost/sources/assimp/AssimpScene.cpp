// The Assimp scene source's scene half: the host node tree, objects,
// materials and animation tracks built from one imported aiScene.
#include "qsxhost/sources/assimp/AssimpSource.h"
#include "qsxhost/sources/assimp/PointJoin.h"
#include "util/Text.h"

#include <assimp/material.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>

namespace qsxhost::assimp {
namespace {

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

// The name a reader gives a texture it made up for a model without one
// (the MD2 reader, for a model without a skin): no file of the model.
constexpr const char* kPlaceholderTexture = "$texture_dummy.bmp";

// A diffuse colour for a material without one: light enough that the
// model's shape shows, where black gives a silhouette.
constexpr float kNeutralGrey = 0.8f;

// The rows the host takes of a transform, in one list.
std::vector<float> Rows(const aiMatrix4x4& m) {
    return {m.a1, m.a2, m.a3, m.a4, m.b1, m.b2, m.b3, m.b4, m.c1, m.c2, m.c3, m.c4};
}

// Equal but for float noise: bone offsets are inverses the importer or the
// authoring tool computed.
bool SameTransform(const aiMatrix4x4& a, const aiMatrix4x4& b) {
    const std::vector<float> x = Rows(a), y = Rows(b);
    float scale = 1.0f;
    for (size_t k = 0; k < x.size(); ++k) scale = std::max({scale, std::fabs(x[k]), std::fabs(y[k])});
    for (size_t k = 0; k < x.size(); ++k)
        if (!(std::fabs(x[k] - y[k]) <= 1e-5f * scale)) return false;
    return true;
}

aiQuaternion SampleQuat(const std::vector<QuatKey>& keys, double t, const aiQuaternion& fallback) {
    if (keys.empty()) return fallback;
    const auto [i, f] = Bracket(keys, t);
    if (f == 0.0f) return keys[i].value;
    aiQuaternion out;
    aiQuaternion::Interpolate(out, keys[i].value, keys[i + 1].value, f);
    return out.Normalize();
}

}  // namespace

std::string ToString(const aiString& s) {
    const size_t cap = std::min<size_t>(s.length, MAXLEN - 1);
    return std::string(s.data, strnlen(s.data, cap));
}

host::Matrix3 AssimpNode::GetNodeTM(host::TimeValue t) const {
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

host::Matrix3 AssimpNode::LocalAt(host::TimeValue t) const {
    if (!track) return localRow;
    const double ticks = static_cast<double>(t);
    const aiVector3D s = SampleVec(track->scalings, ticks, baseScaling);
    const aiQuaternion r = SampleQuat(track->rotations, ticks, baseRotation);
    const aiVector3D p = SampleVec(track->positions, ticks, basePosition);
    return ToHost(aiMatrix4x4(s, r, p));
}

// Where a skin's rest differs from its node's place: a bone whose global
// transform times its offset is not the node's global transform (or that
// names no node, which Skin then notes).
bool AssimpSceneSource::SkinMoves(const aiMesh& m, const aiMatrix4x4& nodeGlobal) const {
    for (unsigned b = 0; m.mBones && b < m.mNumBones; ++b) {
        if (!m.mBones[b]) continue;
        const auto bone = globalByName_.find(ToString(m.mBones[b]->mName));
        if (bone == globalByName_.end() || !SameTransform(bone->second * m.mBones[b]->mOffsetMatrix, nodeGlobal))
            return true;
    }
    return false;
}

// Each vertex where the skeleton at rest puts it, by the weighted sum of
// its bones' global times offset transforms, then carried into the frame of
// the node (whose transform the host applies after). A vertex without
// weight keeps its place in that frame. False, with the mesh noted, when
// it must stay as stored.
bool AssimpSceneSource::Skin(unsigned index, const aiMatrix4x4& nodeGlobal, std::vector<aiVector3D>* out) {
    const aiMesh& m = *scene_->mMeshes[index];
    std::vector<aiVector3D> sum(m.mNumVertices);
    std::vector<float> weight(m.mNumVertices, 0.0f);
    aiMatrix4x4 toNode = nodeGlobal;
    bool sound = std::fabs(nodeGlobal.Determinant()) > 0.0f;
    toNode.Inverse();
    for (unsigned b = 0; sound && b < m.mNumBones; ++b) {
        const aiBone* bone = m.mBones[b];
        if (!bone || !bone->mWeights) continue;
        const auto node = globalByName_.find(ToString(bone->mName));
        sound = node != globalByName_.end();
        if (!sound) break;
        const aiMatrix4x4 rest = node->second * bone->mOffsetMatrix;
        for (unsigned w = 0; w < bone->mNumWeights; ++w) {
            const aiVertexWeight& vw = bone->mWeights[w];
            if (vw.mVertexId >= m.mNumVertices || !std::isfinite(vw.mWeight)) continue;
            sum[vw.mVertexId] += (rest * m.mVertices[vw.mVertexId]) * vw.mWeight;
            weight[vw.mVertexId] += vw.mWeight;
        }
    }
    out->resize(m.mNumVertices);
    for (unsigned v = 0; sound && v < m.mNumVertices; ++v) {
        const aiVector3D p = weight[v] > 0.0f ? toNode * (sum[v] / weight[v]) : m.mVertices[v];
        sound = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
        (*out)[v] = p;
    }
    if (!sound) {
        std::string name = m.mName.length > 0 ? qsx::util::Quoted(ToString(m.mName)) : "mesh " + std::to_string(index);
        if (std::find(skinAsStored_.begin(), skinAsStored_.end(), name) == skinAsStored_.end())
            skinAsStored_.push_back(std::move(name));
    }
    return sound;
}

// Meshes of points and lines only are left out (their primitives are
// counted for the notes); triangulated meshes may carry the n-gon encoding
// flag as well, so the triangle bits decide.
bool AssimpSceneSource::UsableMesh(unsigned index) const {
    return (scene_->mMeshes[index]->mPrimitiveTypes & (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON)) != 0;
}

// The name of a texture path: an embedded texture's ("*N", or a path whose
// file name is an embedded texture's) by its embedded name, any other the
// path as the file gives it.
std::string AssimpSceneSource::TextureName(const aiString& path, bool* embedded) const {
    std::string name = ToString(path);
    *embedded = false;
    if (name.empty() || name == kPlaceholderTexture) return {};
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
    aiString text;
    const std::string name = m.Get(AI_MATKEY_NAME, text) == AI_SUCCESS && text.length > 0
                                 ? qsx::util::Quoted(ToString(text))
                                 : "material " + std::to_string(index);
    if ((m.Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS || m.Get(AI_MATKEY_BASE_COLOR, c) == AI_SUCCESS) && finite()) {
        mtl.diffuse = {c.r, c.g, c.b};
    } else {
        mtl.diffuse = {kNeutralGrey, kNeutralGrey, kNeutralGrey};
        greyMaterials_.push_back(name);
    }
    if (m.Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS && finite()) mtl.specular = {c.r, c.g, c.b};
    float f = 1.0f;
    if (m.Get(AI_MATKEY_OPACITY, f) == AI_SUCCESS && std::isfinite(f)) mtl.opacity = f;
    if (mtl.opacity <= 0.0f) clearMaterials_.push_back(name);
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
    for (aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR, aiTextureType_OPACITY})
        if (m.GetTextureCount(type) > 0 && m.GetTexture(type, 0, &path) == AI_SUCCESS &&
            ToString(path) == kPlaceholderTexture) {
            placeholderMaterials_.push_back(name);
            break;
        }
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
const AssimpSceneSource::Built& AssimpSceneSource::ObjectFor(const std::vector<unsigned>& meshIds,
                                                              const aiMatrix4x4* skinnedIn) {
    auto key = std::make_pair(meshIds, skinnedIn ? Rows(*skinnedIn) : std::vector<float>{});
    auto found = objectByMeshes_.find(key);
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
        const aiVector3D* at = m.mVertices;
        if (skinnedIn && SkinMoves(m, *skinnedIn) && Skin(id, *skinnedIn, &skinned_)) at = skinned_.data();
        joinedPosition_.resize(m.mNumVertices);
        for (unsigned v = 0; v < m.mNumVertices; ++v) {
            const aiVector3D& p = at[v];
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
    return objectByMeshes_.emplace(std::move(key), std::move(built)).first->second;
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

bool AssimpSceneSource::Build(const AssimpOptions& options, const FormatUp& formatUp, std::string* error) {
    if (!CheckFiniteNumbers(*scene_, options.animationIndex, error)) return false;
    const aiScene& sc = *scene_;

    // Up axis of Assimp's world frame.
    int upAxis = 1, upSign = 1;
    upAxisWhy_ = "the file states none";
    if (options.upAxis != UpAxis::Auto) {
        upAxis = options.upAxis == UpAxis::Z ? 2 : 1;
        upAxisWhy_ = upAxis == 2 ? "--up-axis z" : "--up-axis y";
    } else if (!formatUp.fromMetadata) {
        upAxis = formatUp.axis;
        upAxisWhy_ = formatUp.why;
    } else if (sc.mMetaData) {
        int32_t axis = 1, sign = 1;
        if (sc.mMetaData->Get("UpAxis", axis) && axis >= 0 && axis <= 2) {
            upAxis = axis;
            if (sc.mMetaData->Get("UpAxisSign", sign)) upSign = sign < 0 ? -1 : 1;
            upAxisWhy_ = "from the file";
        }
    }
    upAxis_ = std::string(upSign < 0 ? "-" : "+") + "XYZ"[upAxis];
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

    unnamedTexturePrefix_ = options.unnamedTexturePrefix;
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

    // Static global transforms in the file's frame, per node (parallel to
    // nodes_), and by name for the bones when there are any.
    std::vector<aiMatrix4x4> globals;
    const auto placed = [&](const aiNode* src, const aiMatrix4x4& global) {
        globals.push_back(global);
        if (leftOut_.bones > 0) globalByName_.emplace(ToString(src->mName), global);
    };

    AssimpNode* root = NewNode(nullptr);
    root->root = true;
    setup(root, sc.mRootNode);
    ownMeshes.emplace_back();
    placed(sc.mRootNode, sc.mRootNode->mTransformation);
    // Meshes on the root itself would be lost (the root is never written):
    // they become a first top-level node in the root's place.
    if (std::vector<unsigned> rootMeshes = meshesOf(sc.mRootNode); !rootMeshes.empty()) {
        AssimpNode* holder = NewNode(root);
        holder->name = root->name;
        ownMeshes.push_back(std::move(rootMeshes));
        globals.push_back(globals.front());
    }
    struct Pending {
        const aiNode* src;
        AssimpNode* parent;
        aiMatrix4x4 parentGlobal;
    };
    std::vector<Pending> stack;
    for (unsigned i = sc.mRootNode->mNumChildren; i-- > 0;)
        stack.push_back({sc.mRootNode->mChildren[i], root, globals.front()});
    while (!stack.empty()) {
        const Pending next = stack.back();
        stack.pop_back();
        AssimpNode* node = NewNode(next.parent);
        setup(node, next.src);
        ownMeshes.push_back(meshesOf(next.src));
        placed(next.src, next.parentGlobal * next.src->mTransformation);
        for (unsigned i = next.src->mNumChildren; i-- > 0;)
            stack.push_back({next.src->mChildren[i], node, globals.back()});
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
            // A skinned mesh shared by nodes stands at rest in each one's own frame.
            const aiMatrix4x4* skinnedIn = nullptr;
            for (unsigned id : ownMeshes[i])
                if (SkinMoves(*sc.mMeshes[id], globals[i])) skinnedIn = &globals[i];
            const Built& built = ObjectFor(ownMeshes[i], skinnedIn);
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

}  // namespace qsxhost::assimp
