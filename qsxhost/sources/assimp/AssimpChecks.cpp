#include "qsxhost/sources/assimp/AssimpChecks.h"
#include "util/Text.h"

#include <assimp/anim.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace qsxhost {
namespace {

constexpr const char* kNotFinite = "is not a finite number";

// A name as the messages quote it; Assimp's length is not trusted past its buffer.
std::string Quoted(const aiString& s) {
    const size_t cap = std::min<size_t>(s.length, MAXLEN - 1);
    return qsx::util::Quoted(std::string_view(s.data, strnlen(s.data, cap)));
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

std::string Plain(const aiString& s) {
    const size_t cap = std::min<size_t>(s.length, MAXLEN - 1);
    return std::string(s.data, strnlen(s.data, cap));
}

// The nodes in pre-order, null children taken out and counted, or false
// when the tree is not a tree.
bool WalkTree(const aiNode* root, std::vector<aiNode*>* order, int64_t* nullChildren, aiNode** nullParent,
              std::string* error) {
    std::unordered_set<const aiNode*> seen;
    std::vector<aiNode*> stack{const_cast<aiNode*>(root)};
    while (!stack.empty()) {
        aiNode* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) {
            *error = "node " + Quoted(n->mName) + " appears twice in the node tree";
            return false;
        }
        if (n->mNumChildren > 0 && !n->mChildren) {
            *error = "node " + Quoted(n->mName) + " has no list of its children";
            return false;
        }
        if (n->mNumMeshes > 0 && !n->mMeshes) {
            *error = "node " + Quoted(n->mName) + " has no list of its meshes";
            return false;
        }
        order->push_back(n);
        // Some readers leave an empty slot among the children (the RAW
        // reader beside its meshes); nothing hangs below it.
        unsigned kept = 0;
        for (unsigned i = 0; i < n->mNumChildren; ++i)
            if (n->mChildren[i]) n->mChildren[kept++] = n->mChildren[i];
        *nullChildren += n->mNumChildren - kept;
        if (kept < n->mNumChildren && !*nullParent) *nullParent = n;
        n->mNumChildren = kept;
        for (unsigned i = n->mNumChildren; i-- > 0;) stack.push_back(n->mChildren[i]);
    }
    return true;
}

// The faces of a mesh as triangulation and the scene source read them: ""
// when they are sound, else the fault as the rest of a message that names
// the mesh.
std::string FaceFault(const aiMesh& m) {
    if (!m.mVertices) return " has no vertex positions";
    if (!m.mFaces) return " has no list of its faces";
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
        const aiFace& face = m.mFaces[f];
        if (face.mNumIndices > 0 && !face.mIndices) return ", face " + std::to_string(f) + " has no vertex indices";
        for (unsigned k = 0; k < face.mNumIndices; ++k)
            if (face.mIndices[k] >= m.mNumVertices)
                return ", face " + std::to_string(f) + ": vertex index " + std::to_string(face.mIndices[k]) +
                       " is out of range (the mesh has " + qsx::util::Count(m.mNumVertices, "vertex", "vertices") + ")";
    }
    return {};
}

}  // namespace

bool PrepareScene(aiScene& scene, LeftOut* out, std::string* error) {
    // An importer that found nothing may leave the root out: an empty scene.
    if (!scene.mRootNode) scene.mRootNode = new aiNode();
    std::vector<aiNode*> nodes;
    aiNode* nullParent = nullptr;
    if (!WalkTree(scene.mRootNode, &nodes, &out->nullChildren, &nullParent, error)) return false;
    if (scene.mNumMeshes > 0 && !scene.mMeshes) {
        *error = "the file's list of meshes is missing";
        return false;
    }
    const unsigned numMaterials = scene.mMaterials ? scene.mNumMaterials : 0;
    for (const aiNode* n : nodes)
        for (unsigned i = 0; i < n->mNumMeshes; ++i)
            if (n->mMeshes[i] >= scene.mNumMeshes) {
                *error = "node " + Quoted(n->mName) + ": mesh " + std::to_string(n->mMeshes[i]) +
                         " is out of range (the file has " + qsx::util::Count(scene.mNumMeshes, "mesh", "meshes") + ")";
                return false;
            }

    // Meshes: sound ones kept in order, empty ones taken out.
    std::vector<unsigned> newIndex(scene.mNumMeshes, UINT32_MAX);
    std::unordered_set<std::string> boneNames;
    unsigned kept = 0;
    for (unsigned i = 0; i < scene.mNumMeshes; ++i) {
        aiMesh* m = scene.mMeshes[i];
        if (!m || m->mNumVertices == 0 || m->mNumFaces == 0) {
            out->pointClouds += m && m->mNumVertices > 0;
            out->emptyMeshes.push_back(m && m->mName.length > 0 ? Quoted(m->mName) : "mesh " + std::to_string(i));
            delete m;
            continue;
        }
        if (std::string fault = FaceFault(*m); !fault.empty()) {
            *error = Named("mesh", m->mName, i) + fault;
            return false;
        }
        if (m->mMaterialIndex >= numMaterials) {
            *error = Named("mesh", m->mName, i) + ": material " + std::to_string(m->mMaterialIndex) +
                     " is out of range (the file has " + qsx::util::Count(numMaterials, "material", "materials") + ")";
            return false;
        }
        bool polygons = false;
        for (unsigned f = 0; f < m->mNumFaces; ++f) {
            const unsigned n = m->mFaces[f].mNumIndices;
            out->points += n == 1;
            out->lines += n == 2;
            polygons = polygons || n >= 3;
        }
        out->triangleMeshes += polygons;
        for (unsigned b = 0; m->mBones && b < m->mNumBones; ++b)
            if (m->mBones[b]) boneNames.insert(Plain(m->mBones[b]->mName));
        if (m->mAnimMeshes) out->morphTargets += m->mNumAnimMeshes;
        newIndex[i] = kept;
        scene.mMeshes[kept++] = m;
    }
    scene.mNumMeshes = kept;
    if (!out->emptyMeshes.empty()) {
        for (aiNode* n : nodes) {
            unsigned k = 0;
            for (unsigned i = 0; i < n->mNumMeshes; ++i)
                if (newIndex[n->mMeshes[i]] != UINT32_MAX) n->mMeshes[k++] = newIndex[n->mMeshes[i]];
            n->mNumMeshes = k;
        }
    }
    // A reader that left null children lost the nodes that carried meshes
    // (the RAW reader keeps only its last group's): the meshes no node
    // carries go on one node in their place, so that none is lost.
    if (nullParent) {
        std::vector<bool> carried(scene.mNumMeshes, false);
        for (const aiNode* n : nodes)
            for (unsigned i = 0; i < n->mNumMeshes; ++i) carried[n->mMeshes[i]] = true;
        std::vector<unsigned> loose;
        for (unsigned i = 0; i < scene.mNumMeshes; ++i)
            if (!carried[i]) loose.push_back(i);
        if (!loose.empty()) {
            // The parent's list lost a null entry, so it has room for one more.
            auto* holder = new aiNode(kLooseMeshesNode);
            holder->mParent = nullParent;
            holder->mNumMeshes = static_cast<unsigned>(loose.size());
            holder->mMeshes = new unsigned[loose.size()];
            std::copy(loose.begin(), loose.end(), holder->mMeshes);
            nullParent->mChildren[nullParent->mNumChildren++] = holder;
            out->looseMeshes = static_cast<int64_t>(loose.size());
        }
    }
    out->bones = static_cast<int64_t>(boneNames.size());
    for (unsigned a = 0; scene.mAnimations && a < scene.mNumAnimations; ++a) {
        const aiAnimation* anim = scene.mAnimations[a];
        if (anim && ((anim->mMeshChannels && anim->mNumMeshChannels > 0) ||
                     (anim->mMorphMeshChannels && anim->mNumMorphMeshChannels > 0)))
            ++out->morphAnimations;
    }
    out->cameras = scene.mCameras ? scene.mNumCameras : 0;
    out->lights = scene.mLights ? scene.mNumLights : 0;
    return true;
}

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
        for (unsigned i = 0; i < n->mNumMeshes; ++i) {
            const unsigned id = n->mMeshes[i];
            if (checked[id]) continue;
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
