// The Assimp scene source's parts, shared by the files that read a 3D file,
// build its host scene, describe it and write its embedded textures: the
// source class and its nodes, whose indexes all of them use.
#pragma once

#include <assimp/scene.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qsxhost/sources/SceneSource.h"
#include "qsxhost/sources/TreeNode.h"
#include "qsxhost/sources/assimp/AssimpChecks.h"
#include "qsxhost/sources/assimp/AssimpScene.h"

namespace qsxhost::assimp {

inline constexpr int kHostTicksPerSecond = 4800;

// Assimp's strings carry a length that a damaged file could set past the
// buffer; never read beyond it, and stop at the first NUL.
std::string ToString(const aiString& s);

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

// The up axis of the world frame the importer delivers a file in, as far as
// the format decides it: stated in the file's metadata (FBX), implied by the
// format (Blender is Z-up, and its reader keeps that frame), else Y.
struct FormatUp {
    bool fromMetadata = false;
    int axis = 1;  // 0 x, 1 y, 2 z
    std::string why = "the file states none";
};

// The entry of the importer whose extensions ("blend", "fbx", "md5mesh
// md5camera md5anim") are given.
FormatUp FormatUpOf(const std::string& importerExtensions);

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

    host::Matrix3 GetNodeTM(host::TimeValue t) const override;

private:
    host::Matrix3 LocalAt(host::TimeValue t) const;

    mutable bool cacheValid_ = false;
    mutable host::TimeValue cacheTime_ = 0;
    mutable host::Matrix3 cacheWorld_;
};

class AssimpSceneSource final : public SceneSource {
public:
    AssimpSceneSource(std::unique_ptr<aiScene> scene, int ticksPerFrame, const LeftOut& leftOut, std::string format)
        : scene_(std::move(scene)), ticksPerFrame_(ticksPerFrame), leftOut_(leftOut), format_(std::move(format)) {}

    bool Build(const AssimpOptions& options, const FormatUp& formatUp, std::string* error);

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
    bool SkinMoves(const aiMesh& mesh, const aiMatrix4x4& nodeGlobal) const;
    bool Skin(unsigned meshIndex, const aiMatrix4x4& nodeGlobal, std::vector<aiVector3D>* out);
    void NameEmbeddedTextures();
    std::string TextureName(const aiString& path, bool* embedded) const;
    host::Texmap* MapFor(const aiString& path);
    host::Mtl* StandardFor(unsigned materialIndex);
    // skinnedIn: the global transform of the node carrying the meshes when
    // their skeleton at rest moves them, else null.
    const Built& ObjectFor(const std::vector<unsigned>& meshes, const aiMatrix4x4* skinnedIn);
    const Track* TrackFor(const aiNodeAnim* channel);
    double HostTicks(double keyTime) const;
    AssimpNode* NewNode(AssimpNode* parent);

    std::unique_ptr<aiScene> scene_;
    int ticksPerFrame_;
    LeftOut leftOut_;
    std::string format_;
    std::string upAxis_;     // "+Y", "-Z"
    std::string upAxisWhy_;  // where it comes from
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
    std::string unnamedTexturePrefix_;  // before the names of unnamed embedded textures

    SceneObject* emptyObject_ = nullptr;
    std::vector<host::Mtl*> standardByIndex_;
    std::vector<bool> standardBuilt_;
    std::map<std::string, host::Texmap*> mapByName_;
    // Skinned objects are the carrying node's own: keyed by its global transform.
    std::map<std::pair<std::vector<unsigned>, std::vector<float>>, Built> objectByMeshes_;
    std::map<std::vector<unsigned>, host::Mtl*> multiBySubs_;
    std::unordered_map<const aiNodeAnim*, const Track*> trackByChannel_;
    std::vector<uint32_t> joinedPosition_, joinedUV_;  // per vertex of one Assimp mesh
    std::vector<aiVector3D> skinned_;                   // likewise

    // The static global transform of the first node of each name, as bones
    // name their nodes; filled only when a mesh has bones.
    std::unordered_map<std::string, aiMatrix4x4> globalByName_;
    // Names for the notes, each once.
    std::vector<std::string> skinAsStored_;
    std::vector<std::string> greyMaterials_, placeholderMaterials_, clearMaterials_;
};

}  // namespace qsxhost::assimp
