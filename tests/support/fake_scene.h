// An in-memory scene and host for the exporter's tests: nodes, meshes and
// materials built in code, output captured in memory. The nodes and objects
// are the tests' own: they key transforms by time, carry object offsets and
// count conversions and disposals, which no scene file gives.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/MemoryFileSystem.h"
#include "QsxExp/QsxExport.h"
#include "host/Interface.h"
#include "qsxhost/sources/SceneParts.h"
#include "tests/support/fake_host.h"

namespace fake {

using host::Matrix3;
using host::Point3;

// Maps and materials are the readers' own: what the exporter is given here
// is what it is given by a scene file.
using Texmap = qsxhost::SceneTexmap;
using Mtl = qsxhost::SceneMtl;

// The slot of a material's map channel (diffuse or opacity).
inline qsxhost::MapSlot& Slot(Mtl& m, int channel) { return channel == host::ID_OP ? m.opacityMap : m.diffuseMap; }

// A converted copy that counts its own disposal.
struct TriCopy : host::TriObject {
    host::Mesh mesh;
    int* disposed;
    TriCopy(const host::Mesh& m, int* d) : mesh(m), disposed(d) {}
    bool IsRenderable() const override { return true; }
    void GetDeformBBox(host::TimeValue, host::Box3&, const Matrix3*, int) const override {}
    host::TriObject* ConvertToType(host::TimeValue, host::Class_ID) override { return this; }
    const host::Mesh& GetMesh() const override { return mesh; }
    void DeleteThis() override {
        ++*disposed;
        delete this;
    }
};

struct Object : host::TriObject {
    bool renderable = true;
    bool convertsToCopy = false;
    int disposed = 0;
    host::TimeValue lastConvertTime = -1;
    host::Mesh mesh;
    bool IsRenderable() const override { return renderable; }
    void GetDeformBBox(host::TimeValue, host::Box3& box, const Matrix3* tm, int) const override {
        for (const Point3& v : mesh.verts) box += tm ? v * *tm : v;
    }
    host::TriObject* ConvertToType(host::TimeValue t, host::Class_ID) override {
        lastConvertTime = t;
        if (convertsToCopy) return new TriCopy(mesh, &disposed);
        return this;
    }
    const host::Mesh& GetMesh() const override { return mesh; }
};

struct Node : host::INode {
    std::string name;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    std::unique_ptr<Object> object;
    std::map<host::TimeValue, Matrix3> keys;  // held: last key at or before t
    Point3 offsetPos;
    host::Quat offsetRot;
    host::Mtl* mtl = nullptr;
    bool root = false;

    std::string_view GetName() const override { return name; }
    int NumberOfChildren() const override { return static_cast<int>(children.size()); }
    host::INode* GetChildNode(int i) const override { return children.at(static_cast<size_t>(i)).get(); }
    host::INode* GetParentNode() const override { return parent; }
    bool IsRootNode() const override { return root; }
    host::Object* EvalWorldState(host::TimeValue, int) const override { return object.get(); }
    Matrix3 GetNodeTM(host::TimeValue t) const override {
        if (keys.empty()) return Matrix3{};
        auto it = keys.upper_bound(t);
        if (it == keys.begin()) return it->second;
        return std::prev(it)->second;
    }
    Point3 GetObjOffsetPos() const override { return offsetPos; }
    host::Quat GetObjOffsetRot() const override { return offsetRot; }
    host::Mtl* GetMtl() const override { return mtl; }

    Node* Add(const std::string& childName) {
        auto n = std::make_unique<Node>();
        n->name = childName;
        n->parent = this;
        children.push_back(std::move(n));
        return children.back().get();
    }
    // A renderable mesh object.
    host::Mesh& MakeMesh() {
        object = std::make_unique<Object>();
        return object->mesh;
    }
    void SetTM(const Matrix3& m) { keys[0] = m; }
};

inline Matrix3 Translation(float x, float y, float z) {
    Matrix3 m;
    m.SetTrans({x, y, z});
    return m;
}

// A face on vertices a, b, c with material id `id`, and a texture face.
inline host::Face F(uint32_t a, uint32_t b, uint32_t c, uint16_t id = 0) {
    host::Face f;
    f.v[0] = a;
    f.v[1] = b;
    f.v[2] = c;
    f.flags = static_cast<uint32_t>(id) << 16;
    return f;
}

inline host::TVFace T(uint32_t a, uint32_t b, uint32_t c) {
    host::TVFace t;
    t.t[0] = a;
    t.t[1] = b;
    t.t[2] = c;
    return t;
}

// A unit-ish triangle mesh of n vertices on a fan (no texture vertices).
inline void Fan(host::Mesh& m, int n) {
    for (int i = 0; i < n; ++i) m.verts.push_back({static_cast<float>(i), static_cast<float>(i % 2), 0});
    for (int i = 1; i + 1 < n; ++i) {
        host::Face f;
        f.v[0] = 0;
        f.v[1] = static_cast<uint32_t>(i);
        f.v[2] = static_cast<uint32_t>(i + 1);
        m.faces.push_back(f);
    }
}

// A host over the root node in memory.
class Host : public OptionsHost {
public:
    Node root;
    host::Interval range{0, 0};
    int ticksPerFrame = 160;

    Host() { root.root = true; }
    host::Interval GetAnimRange() override { return range; }
    host::INode* GetRootNode() override { return &root; }
    int GetTicksPerFrame() override { return ticksPerFrame; }
};

struct Run {
    qsx::MemoryFileSystem fs;
    qsx::QsxExport exporter;
    int result = -1;
    Run() { exporter.writer.SetFileSystem(&fs); }
    int Export(Host& h, const std::string& path = "out/scene.QSX") {
        result = exporter.DoExport(path.c_str(), nullptr, &h, 0);
        return result;
    }
    const std::string& File(const std::string& path) { return fs.files.at(path); }
};

// Lines of a CR LF file, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            out.push_back(text.substr(pos) + "<no CRLF>");
            break;
        }
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

}  // namespace fake
