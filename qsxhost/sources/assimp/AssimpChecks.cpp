#include "qsxhost/sources/assimp/AssimpChecks.h"

#include <assimp/anim.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace qsxhost {
namespace {

constexpr const char* kNotFinite = "is not a finite number";

// A name as the messages quote it; Assimp's length is not trusted past its buffer.
std::string Quoted(const aiString& s) {
    const size_t cap = std::min<size_t>(s.length, MAXLEN - 1);
    return "\"" + std::string(s.data, strnlen(s.data, cap)) + "\"";
}

// A mesh or animation by its name, or by its index when it has none.
std::string Named(const char* what, const aiString& name, unsigned index) {
    return std::string(what) + " " + (name.length > 0 ? Quoted(name) : std::to_string(index));
}

bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool Finite(const aiQuaternion& q) {
    return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

// The rows the host's transform is made of; the bottom row is never read.
bool Finite(const aiMatrix4x4& m) {
    const float used[] = {m.a1, m.a2, m.a3, m.a4, m.b1, m.b2, m.b3, m.b4, m.c1, m.c2, m.c3, m.c4};
    return std::all_of(std::begin(used), std::end(used), [](float v) { return std::isfinite(v); });
}

// The first vertex of the mesh whose position or first texture coordinate is
// not finite, as the rest of a message; "" when there is none.
std::string MeshFault(const aiMesh& m) {
    const aiVector3D* uv = m.mTextureCoords[0];
    for (unsigned v = 0; v < m.mNumVertices; ++v) {
        if (!Finite(m.mVertices[v])) return "vertex " + std::to_string(v) + ": coordinate " + kNotFinite;
        if (uv && !Finite(uv[v])) return "vertex " + std::to_string(v) + ": texture coordinate " + kNotFinite;
    }
    return {};
}

template <typename Key>
std::string KeyFault(const char* kind, const Key* keys, unsigned count) {
    if (!keys) return {};
    for (unsigned k = 0; k < count; ++k)
        if (std::isfinite(keys[k].mTime) && !Finite(keys[k].mValue))
            return std::string(kind) + " key " + std::to_string(k) + ": value " + kNotFinite;
    return {};
}

}  // namespace

bool CheckFiniteNumbers(const aiScene& scene, int animationIndex, std::string* error) {
    // Each mesh once, named with the first node that uses it.
    std::vector<bool> checked(scene.mMeshes ? scene.mNumMeshes : 0, false);
    std::vector<const aiNode*> stack;
    if (scene.mRootNode) stack.push_back(scene.mRootNode);
    while (!stack.empty()) {
        const aiNode* n = stack.back();
        stack.pop_back();
        const std::string node = "node " + Quoted(n->mName);
        if (!Finite(n->mTransformation)) {
            *error = node + ": transform entry " + kNotFinite;
            return false;
        }
        for (unsigned i = 0; n->mMeshes && i < n->mNumMeshes; ++i) {
            const unsigned id = n->mMeshes[i];
            if (id >= checked.size() || checked[id] || !scene.mMeshes[id] || !scene.mMeshes[id]->mVertices) continue;
            checked[id] = true;
            const aiMesh& m = *scene.mMeshes[id];
            if (std::string fault = MeshFault(m); !fault.empty()) {
                *error = node + ", " + Named("mesh", m.mName, id) + ", " + fault;
                return false;
            }
        }
        for (unsigned i = n->mNumChildren; i-- > 0;) stack.push_back(n->mChildren[i]);
    }

    if (!scene.mAnimations || animationIndex < 0 || static_cast<unsigned>(animationIndex) >= scene.mNumAnimations)
        return true;
    const aiAnimation* a = scene.mAnimations[animationIndex];
    if (!a || !a->mChannels) return true;
    for (unsigned c = 0; c < a->mNumChannels; ++c) {
        const aiNodeAnim* ch = a->mChannels[c];
        if (!ch) continue;
        std::string fault = KeyFault("position", ch->mPositionKeys, ch->mNumPositionKeys);
        if (fault.empty()) fault = KeyFault("rotation", ch->mRotationKeys, ch->mNumRotationKeys);
        if (fault.empty()) fault = KeyFault("scaling", ch->mScalingKeys, ch->mNumScalingKeys);
        if (!fault.empty()) {
            *error = Named("animation", a->mName, static_cast<unsigned>(animationIndex)) + ", node " +
                     Quoted(ch->mNodeName) + ", " + fault;
            return false;
        }
    }
    return true;
}

}  // namespace qsxhost
