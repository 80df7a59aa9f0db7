// The scene as the exporter sees it: the operations a host (or any stand-alone
// scene source) offers. Nothing here knows a file format.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "host/Geometry.h"

namespace host {

using TimeValue = int32_t;

struct Interval {
    TimeValue start = 0;
    TimeValue end = 0;
};

struct Class_ID {
    uint32_t a = 0, b = 0;
    constexpr Class_ID() = default;
    constexpr Class_ID(uint32_t pa, uint32_t pb) : a(pa), b(pb) {}
    constexpr bool operator==(const Class_ID& o) const { return a == o.a && b == o.b; }
};

constexpr Class_ID STANDARD_MATERIAL_CLASS_ID{2, 0};
constexpr Class_ID MULTI_MATERIAL_CLASS_ID{0x200, 0};
constexpr Class_ID BITMAP_TEXTURE_CLASS_ID{0x240, 0};
constexpr Class_ID TRIOBJ_CLASS_ID{0x0009, 0};

// Map channels of a standard material.
constexpr int ID_DI = 1;  // diffuse
constexpr int ID_OP = 6;  // opacity

struct Face {
    uint32_t v[3] = {0, 0, 0};
    uint32_t smGroup = 0;
    uint32_t flags = 0;  // high 16 bits: material id
    uint16_t getMatID() const { return static_cast<uint16_t>(flags >> 16); }
};

struct TVFace {
    uint32_t t[3] = {0, 0, 0};
};

// A triangle mesh, read as data. tvFaces is empty when the mesh has no texture
// faces; otherwise it holds one entry per face.
struct Mesh {
    std::vector<Point3> verts;
    std::vector<Face> faces;
    std::vector<Point3> tVerts;  // u, v, w
    std::vector<TVFace> tvFaces;

    int getNumVerts() const { return static_cast<int>(verts.size()); }
    int getNumFaces() const { return static_cast<int>(faces.size()); }
    int getNumTVerts() const { return static_cast<int>(tVerts.size()); }
    bool hasTVFaces() const { return !tvFaces.empty(); }
};

class Texmap {
public:
    virtual ~Texmap() = default;
    virtual Class_ID ClassID() const = 0;
    // The file name (a full path) of a bitmap texture map; empty for other classes.
    virtual std::string_view GetMapName() const { return {}; }
};

// One interface for every material class; operations that do not apply to a
// class answer neutrally, so the exporter never needs a downcast.
class Mtl {
public:
    virtual ~Mtl() = default;
    virtual Class_ID ClassID() const = 0;

    // multi/sub-object
    virtual int NumSubMtls() const { return 0; }
    virtual Mtl* GetSubMtl(int) const { return nullptr; }

    // standard
    virtual bool MapEnabled(int /*channel*/) const { return false; }
    virtual Texmap* GetSubTexmap(int /*channel*/) const { return nullptr; }
    virtual bool GetTwoSided() const { return false; }
    virtual bool GetWire() const { return false; }
    virtual int GetShading() const { return 1; }
    virtual float GetOpacity(TimeValue) const { return 1.0f; }
    virtual Point3 GetAmbient(TimeValue) const { return {}; }
    virtual Point3 GetDiffuse(TimeValue) const { return {}; }
    virtual Point3 GetSpecular(TimeValue) const { return {}; }
};

class TriObject;

// An evaluated object.
class Object {
public:
    virtual ~Object() = default;
    virtual bool IsRenderable() const = 0;
    // Deformed bounding box at t of the object's points carried by tm, into box.
    virtual void GetDeformBBox(TimeValue t, Box3& box, const Matrix3* tm, int useSel) const = 0;
    // Converts to a triangle object; when the result is not this object, the
    // caller disposes of it with DeleteThis().
    virtual TriObject* ConvertToType(TimeValue t, Class_ID cls) = 0;
    virtual void DeleteThis() { delete this; }
};

class TriObject : public Object {
public:
    virtual const Mesh& GetMesh() const = 0;
};

class INode {
public:
    virtual ~INode() = default;
    virtual std::string_view GetName() const = 0;
    virtual int NumberOfChildren() const = 0;
    virtual INode* GetChildNode(int i) const = 0;
    virtual INode* GetParentNode() const = 0;
    virtual bool IsRootNode() const = 0;
    virtual Object* EvalWorldState(TimeValue t, int flag = 1) const = 0;  // may be null
    virtual Matrix3 GetNodeTM(TimeValue t) const = 0;
    virtual Point3 GetObjOffsetPos() const = 0;
    virtual Quat GetObjOffsetRot() const = 0;
    virtual Mtl* GetMtl() const = 0;  // may be null
};

}  // namespace host
