// The benchmark scenes: large generated scenes held in memory as host objects,
// so that the exporter can be timed without any loader, and written out as a
// JSON scene file and as a binary glTF file for the whole-command timings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneParts.h"

namespace bench {

// Maps and objects as the scene readers make them.
using Texmap = qsxhost::SceneTexmap;
using Object = qsxhost::SceneObject;

struct Mtl final : host::Mtl {
    int index = 0;  // position in Scene::materials
    bool multi = false;
    std::vector<Mtl*> subs;  // multi: null for an absent sub-material
    bool twoSided = false;
    int shading = 1;
    float opacity = 1.0f;
    host::Point3 ambient, diffuse, specular;
    Texmap* diffuseMap = nullptr;
    Texmap* opacityMap = nullptr;
    int diffuseMapIndex = -1, opacityMapIndex = -1;

    host::Class_ID ClassID() const override {
        return multi ? host::MULTI_MATERIAL_CLASS_ID : host::STANDARD_MATERIAL_CLASS_ID;
    }
    int NumSubMtls() const override { return static_cast<int>(subs.size()); }
    host::Mtl* GetSubMtl(int i) const override {
        return i >= 0 && i < NumSubMtls() ? subs[static_cast<size_t>(i)] : nullptr;
    }
    bool MapEnabled(int ch) const override { return GetSubTexmap(ch) != nullptr; }
    host::Texmap* GetSubTexmap(int ch) const override {
        return ch == host::ID_DI ? diffuseMap : ch == host::ID_OP ? opacityMap : nullptr;
    }
    bool GetTwoSided() const override { return twoSided; }
    int GetShading() const override { return shading; }
    float GetOpacity(host::TimeValue) const override { return opacity; }
    host::Point3 GetAmbient(host::TimeValue) const override { return ambient; }
    host::Point3 GetDiffuse(host::TimeValue) const override { return diffuse; }
    host::Point3 GetSpecular(host::TimeValue) const override { return specular; }
};

struct Node final : host::INode {
    std::string name;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    bool root = false;
    host::Matrix3 world;  // node transform in world space
    host::Point3 offsetPos;
    std::unique_ptr<Object> object;
    Mtl* mtl = nullptr;

    std::string_view GetName() const override { return name; }
    int NumberOfChildren() const override { return static_cast<int>(children.size()); }
    host::INode* GetChildNode(int i) const override { return children[static_cast<size_t>(i)].get(); }
    host::INode* GetParentNode() const override { return parent; }
    bool IsRootNode() const override { return root; }
    host::Object* EvalWorldState(host::TimeValue, int) const override { return object.get(); }
    host::Matrix3 GetNodeTM(host::TimeValue) const override { return world; }
    host::Point3 GetObjOffsetPos() const override { return offsetPos; }
    host::Quat GetObjOffsetRot() const override { return {}; }
    host::Mtl* GetMtl() const override { return mtl; }

    Node* Add(std::string childName);
};

struct Stats {
    int64_t nodes = 0;
    int64_t vertices = 0;
    int64_t faces = 0;
    int64_t texVertices = 0;
    int64_t largestMeshVertices = 0;  // of the single largest mesh
    int64_t largestMeshTexVertices = 0;
};

struct Scene {
    Node root;
    std::vector<std::unique_ptr<Texmap>> maps;
    std::vector<std::unique_ptr<Mtl>> materials;
    Scene() { root.root = true; }
    Stats Measure() const;
};

enum class Kind { Heavy, Wide };

// heavy: 256 x scale textured torus nodes of 4096 vertices and 8192
// triangles, 16 x scale top-level nodes with 15 children each (about 1
// million vertices and 2 million triangles at 1x); wide: 100,000 x scale
// textured boxes, 1000 x scale top-level boxes with 99 children each. Both
// use multi/sub-object materials with bitmap texture maps. The same kind and
// scale always give the same scene.
std::unique_ptr<Scene> Generate(Kind kind, double scale);
bool ParseKind(const std::string& text, Kind* kind);

// The scene as a JSON scene file (format version 1). False with *error set.
bool WriteJson(const Scene& scene, const std::string& path, std::string* error);
// The scene as a binary glTF 2.0 file: one glTF mesh per node, one primitive
// per sub-material used, vertices split where texture coordinates differ.
bool WriteGlb(const Scene& scene, const std::string& path, std::string* error);

}  // namespace bench
