// The scene objects every scene source hands to the exporter: texture maps,
// materials and evaluated objects. A source fills them in; the scene owns them
// for as long as it lives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/Scene.h"

namespace qsxhost {

// A texture map of any class; only a bitmap map has a file name.
class SceneTexmap final : public host::Texmap {
public:
    host::Class_ID cls = host::BITMAP_TEXTURE_CLASS_ID;
    std::string file;

    host::Class_ID ClassID() const override { return cls; }
    std::string_view GetMapName() const override { return file; }
};

// A map channel of a material: whether it is enabled, and its map (which may
// be present while the channel is disabled).
struct MapSlot {
    bool enabled = false;
    host::Texmap* map = nullptr;
};

// One class answers for every material class: the members a class does not
// have keep their neutral values, which are what the interface answers for them.
class SceneMtl final : public host::Mtl {
public:
    host::Class_ID cls = host::STANDARD_MATERIAL_CLASS_ID;
    bool twoSided = false;
    bool wire = false;
    int shading = 1;
    float opacity = 1.0f;
    host::Point3 ambient, diffuse, specular;
    MapSlot diffuseMap, opacityMap;
    std::vector<host::Mtl*> subs;  // null entries: absent sub-materials

    host::Class_ID ClassID() const override { return cls; }
    int NumSubMtls() const override { return static_cast<int>(subs.size()); }
    host::Mtl* GetSubMtl(int i) const override {
        return i >= 0 && i < NumSubMtls() ? subs[static_cast<size_t>(i)] : nullptr;
    }
    bool MapEnabled(int channel) const override {
        const MapSlot* s = Slot(channel);
        return s && s->enabled;
    }
    host::Texmap* GetSubTexmap(int channel) const override {
        const MapSlot* s = Slot(channel);
        return s ? s->map : nullptr;
    }
    bool GetTwoSided() const override { return twoSided; }
    bool GetWire() const override { return wire; }
    int GetShading() const override { return shading; }
    float GetOpacity(host::TimeValue) const override { return opacity; }
    host::Point3 GetAmbient(host::TimeValue) const override { return ambient; }
    host::Point3 GetDiffuse(host::TimeValue) const override { return diffuse; }
    host::Point3 GetSpecular(host::TimeValue) const override { return specular; }

private:
    const MapSlot* Slot(int channel) const {
        if (channel == host::ID_DI) return &diffuseMap;
        if (channel == host::ID_OP) return &opacityMap;
        return nullptr;
    }
};

// An evaluated object holding a triangle mesh. It is its own triangle object,
// and the scene owns it: a caller disposing of it must not free it.
class SceneObject final : public host::TriObject {
public:
    bool renderable = true;
    host::Mesh mesh;

    bool IsRenderable() const override { return renderable; }
    void GetDeformBBox(host::TimeValue, host::Box3& box, const host::Matrix3* tm, int) const override {
        if (tm) {
            for (const host::Point3& p : mesh.verts) box += p * *tm;
        } else {
            for (const host::Point3& p : mesh.verts) box += p;
        }
    }
    host::TriObject* ConvertToType(host::TimeValue, host::Class_ID) override { return this; }
    void DeleteThis() override {}
    const host::Mesh& GetMesh() const override { return mesh; }
};

}  // namespace qsxhost
