// The scene source over Assimp: small files written here, read back through
// the host interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qsxhost/sources/assimp/AssimpScene.h"
#include "tests/support/gltf_text.h"

using host::INode;
using host::Matrix3;
using host::Point3;
using qsxhost::AssimpOptions;
using qsxhost::SceneSource;
using qsxhost::UpAxis;
using gltf::Base64;
using gltf::Gltf;

namespace {

// The file at path, as the command reads a 3D file it names.
qsxhost::SceneRead ReadFile(const std::string& path, const AssimpOptions& options = {}) {
    return qsxhost::ReadAssimpScene({path, nullptr, {}}, options);
}

class AssimpSceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qsx_assimp_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::unique_ptr<SceneSource> Load(const std::string& path, AssimpOptions opt = {}) {
        qsxhost::SceneRead read = ReadFile(path, opt);
        EXPECT_TRUE(read.scene) << path << ": " << read.error;
        return std::move(read.scene);
    }

    std::string dir_;
};

INode* Find(INode* n, std::string_view name) {
    if (!n->IsRootNode() && n->GetName() == name) return n;
    for (int i = 0; i < n->NumberOfChildren(); ++i)
        if (INode* hit = Find(n->GetChildNode(i), name)) return hit;
    return nullptr;
}

const host::Mesh* MeshOf(INode* n, host::TimeValue t = 0) {
    host::Object* obj = n ? n->EvalWorldState(t) : nullptr;
    return obj ? &obj->ConvertToType(t, host::TRIOBJ_CLASS_ID)->GetMesh() : nullptr;
}

// Vertices carried into the host's world at t, in a stable order.
std::vector<Point3> WorldPoints(INode* n, host::TimeValue t = 0, const Matrix3& after = Matrix3()) {
    std::vector<Point3> out;
    const Matrix3 tm = n->GetNodeTM(t) * after;
    for (const Point3& p : MeshOf(n, t)->verts) {
        Point3 q = p * tm;
        for (int k = 0; k < 3; ++k) q[k] = std::round(q[k] * 1e4f) / 1e4f + 0.0f;  // fold -0 and float noise
        out.push_back(q);
    }
    std::sort(out.begin(), out.end(), [](const Point3& a, const Point3& b) {
        return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
    });
    return out;
}

void ExpectNear(const Point3& got, const Point3& want, const char* what) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-5) << what << " axis " << k;
}

// A box from (0, 0, 0) to (1, 2, 3) as its author built it, Z up.
const std::vector<Point3> kBoxZUp = [] {
    std::vector<Point3> p;
    for (float x : {0.f, 1.f})
        for (float y : {0.f, 2.f})
            for (float z : {0.f, 3.f}) p.push_back({x, y, z});
    return p;
}();
const std::vector<uint16_t> kBoxTris = {0, 2, 6, 0, 6, 4, 1, 5, 7, 1, 7, 3, 0, 4, 5, 0, 5, 1,
                                        2, 3, 7, 2, 7, 6, 0, 1, 3, 0, 3, 2, 4, 6, 7, 4, 7, 5};
const Point3 kBoxPlace{5, 6, 7};  // Z-up placement of the box node

// The same box as a Y-up file gives it: (x, y, z) Z-up is (x, z, -y) Y-up.
std::vector<float> BoxYUp() {
    std::vector<float> v;
    for (const Point3& p : kBoxZUp) v.insert(v.end(), {p.x, p.z, -p.y});
    return v;
}

std::vector<Point3> Placed(const std::vector<Point3>& pts, const Point3& d) {
    std::vector<Point3> out;
    for (const Point3& p : pts) out.push_back(p + d);
    std::sort(out.begin(), out.end(),
              [](const Point3& a, const Point3& b) { return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z); });
    return out;
}

// Y-up scene: ROOT -> Group -> Box (mesh, placed), Box2 (same mesh),
// Marker (no mesh, animated translation), Spinner (no mesh below it: none).
std::string HierarchyGltf() {
    Gltf g;
    const int pos = g.Floats(BoxYUp(), "VEC3", 3);
    const int idx = g.Indices(kBoxTris);
    const int times = g.Floats({0.0f, 0.1f}, "SCALAR", 1);
    const int moves = g.Floats({0, 0, 0, 0, 3, 0}, "VEC3", 3);
    const float h = std::sqrt(0.5f);
    const int turns = g.Floats({0, 0, 0, 1, 0, h, 0, h}, "VEC4", 4);  // identity, then 90 degrees about y
    const int sizes = g.Floats({1, 1, 1, 3, 3, 3}, "VEC3", 3);
    std::ostringstream s;
    s << R"("scenes":[{"nodes":[0,3,4]}],"nodes":[)"
      << R"({"name":"Group","children":[1,2]},)"
      << R"({"name":"Box","mesh":0,"translation":[5,7,-6]},)"
      << R"({"name":"Box2","mesh":0,"translation":[0,0,-1]},)"
      << R"({"name":"Marker","translation":[1,1,1]},)"
      << R"({"name":"Spinner"}],)"
      << R"("meshes":[{"primitives":[{"attributes":{"POSITION":)" << pos << R"(},"indices":)" << idx << "}]}],"
      << R"("animations":[{"samplers":[{"input":)" << times << R"(,"output":)" << moves << "},"
      << R"({"input":)" << times << R"(,"output":)" << turns << "},"
      << R"({"input":)" << times << R"(,"output":)" << sizes << "}],"
      << R"("channels":[{"sampler":0,"target":{"node":3,"path":"translation"}},)"
      << R"({"sampler":1,"target":{"node":4,"path":"rotation"}},)"
      << R"({"sampler":2,"target":{"node":4,"path":"scale"}}]}])";
    return g.Json(s.str());
}

// The Z-up twin: Group (helper) -> Box, vertices in world space as ASE
// keeps them, with position keys on Box. `frameSpeed` 0 makes Assimp's
// ticks per second 0, so the key times count frames.
std::string BoxAse(int frameSpeed, int lastKey) {
    std::ostringstream s;
    s << "*3DSMAX_ASCIIEXPORT 200\n*SCENE {\n *SCENE_FRAMESPEED " << frameSpeed << "\n *SCENE_TICKSPERFRAME 160\n}\n"
      << "*HELPEROBJECT {\n *NODE_NAME \"Group\"\n *HELPER_CLASS \"Dummy\"\n *NODE_TM {\n  *NODE_NAME \"Group\"\n"
      << "  *TM_ROW0 1 0 0\n  *TM_ROW1 0 1 0\n  *TM_ROW2 0 0 1\n  *TM_ROW3 0 0 0\n }\n}\n"
      << "*GEOMOBJECT {\n *NODE_NAME \"Box\"\n *NODE_PARENT \"Group\"\n *NODE_TM {\n  *NODE_NAME \"Box\"\n"
      << "  *TM_ROW0 1 0 0\n  *TM_ROW1 0 1 0\n  *TM_ROW2 0 0 1\n  *TM_ROW3 5 6 7\n }\n"
      << " *MESH {\n  *MESH_NUMVERTEX 8\n  *MESH_NUMFACES 12\n  *MESH_VERTEX_LIST {\n";
    for (size_t i = 0; i < kBoxZUp.size(); ++i) {
        const Point3 p = kBoxZUp[i] + kBoxPlace;
        s << "   *MESH_VERTEX " << i << " " << p.x << " " << p.y << " " << p.z << "\n";
    }
    s << "  }\n  *MESH_FACE_LIST {\n";
    for (size_t f = 0; f < kBoxTris.size() / 3; ++f)
        s << "   *MESH_FACE " << f << ": A: " << kBoxTris[3 * f] << " B: " << kBoxTris[3 * f + 1]
          << " C: " << kBoxTris[3 * f + 2] << " AB: 1 BC: 1 CA: 1 *MESH_SMOOTHING 1 *MESH_MTLID 0\n";
    s << "  }\n }\n *TM_ANIMATION {\n  *NODE_NAME \"Box\"\n  *CONTROL_POS_TRACK {\n"
      << "   *CONTROL_POS_SAMPLE 0 5 6 7\n   *CONTROL_POS_SAMPLE " << lastKey << " 5 6 10\n  }\n }\n}\n";
    return s.str();
}

TEST_F(AssimpSceneTest, ObjWithTwoMaterialsBecomesOneMeshWithMultiSubObjectMaterial) {
    Write("two.mtl",
          "newmtl red\nKa 0.2 0 0\nKd 1 0 0\nKs 0.5 0.5 0.5\nd 0.5\nmap_Kd tex/red.png\n"
          "newmtl blue\nKd 0 0 1\n");
    const std::string obj = Write("two.obj",
                                  "mtllib two.mtl\n"
                                  "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\n"
                                  "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                  "o Thing\nusemtl red\nf 1/1 2/2 3/3 4/4\nusemtl blue\nf 1 2 6 5\n"
                                  "o Wire\nl 1 2 3\np 4\n");
    auto scene = Load(obj);
    ASSERT_TRUE(scene);
    INode* thing = Find(scene->GetRootNode(), "Thing");
    const host::Mesh* mesh = MeshOf(thing);
    ASSERT_TRUE(mesh);
    EXPECT_TRUE(thing->EvalWorldState(0)->IsRenderable());
    ASSERT_EQ(mesh->getNumVerts(), 6);  // the quads' six positions, joined across both parts
    ASSERT_EQ(mesh->getNumFaces(), 4);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(mesh->faces[f].getMatID(), f < 2 ? 0 : 1) << f;

    // Texture vertices are the distinct UVs; the blue part has none and uses (0, 0).
    ASSERT_EQ(mesh->getNumTVerts(), 4);
    ASSERT_EQ(mesh->tvFaces.size(), 4u);
    for (int f = 0; f < 4; ++f)
        for (int k = 0; k < 3; ++k) {
            const Point3 p = mesh->verts[mesh->faces[f].v[k]];
            const Point3 uv = mesh->tVerts[mesh->tvFaces[f].t[k]];
            EXPECT_EQ(uv, (f < 2 ? Point3{p.x, p.y, 0} : Point3{0, 0, 0})) << f << " " << k;  // vt i is v i here
        }

    host::Mtl* mtl = thing->GetMtl();
    ASSERT_TRUE(mtl);
    ASSERT_EQ(mtl->ClassID(), host::MULTI_MATERIAL_CLASS_ID);
    ASSERT_EQ(mtl->NumSubMtls(), 2);
    host::Mtl* red = mtl->GetSubMtl(0);
    host::Mtl* blue = mtl->GetSubMtl(1);
    ASSERT_TRUE(red && blue);
    EXPECT_EQ(red->ClassID(), host::STANDARD_MATERIAL_CLASS_ID);
    EXPECT_EQ(red->GetDiffuse(0), (Point3{1, 0, 0}));
    EXPECT_EQ(red->GetAmbient(0), (Point3{0.2f, 0, 0}));
    EXPECT_EQ(red->GetSpecular(0), (Point3{0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(red->GetOpacity(0), 0.5f);
    ASSERT_TRUE(red->MapEnabled(host::ID_DI));
    EXPECT_EQ(red->GetSubTexmap(host::ID_DI)->ClassID(), host::BITMAP_TEXTURE_CLASS_ID);
    EXPECT_EQ(red->GetSubTexmap(host::ID_DI)->GetMapName(), "tex/red.png");
    EXPECT_FALSE(red->MapEnabled(host::ID_OP));
    EXPECT_EQ(blue->GetDiffuse(0), (Point3{0, 0, 1}));
    EXPECT_FALSE(blue->MapEnabled(host::ID_DI));
    EXPECT_EQ(blue->GetSubTexmap(host::ID_DI), nullptr);

    // Lines and points are dropped: the node stays, without an object.
    INode* wire = Find(scene->GetRootNode(), "Wire");
    ASSERT_TRUE(wire);
    EXPECT_EQ(wire->EvalWorldState(0), nullptr);

    const qsxhost::SceneStats st = scene->Stats();
    EXPECT_EQ(st.nodes, 2);
    EXPECT_EQ(st.meshes, 1);
    EXPECT_EQ(st.vertices, 6);
    EXPECT_EQ(st.faces, 4);
}

TEST_F(AssimpSceneTest, GltfHierarchyKeepsGroupsInstancesAndHelpers) {
    auto scene = Load(Write("box.gltf", HierarchyGltf()));
    ASSERT_TRUE(scene);
    INode* root = scene->GetRootNode();
    ASSERT_TRUE(root->IsRootNode());
    EXPECT_EQ(root->EvalWorldState(0), nullptr);
    ASSERT_EQ(root->NumberOfChildren(), 3);
    INode* group = root->GetChildNode(0);
    EXPECT_EQ(group->GetName(), "Group");
    EXPECT_EQ(group->GetParentNode(), root);
    EXPECT_FALSE(group->IsRootNode());

    // A group over meshes is a renderable empty mesh, so its subtree keeps its place.
    const host::Mesh* empty = MeshOf(group);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(group->EvalWorldState(0)->IsRenderable());
    EXPECT_EQ(empty->getNumVerts(), 0);
    EXPECT_EQ(empty->getNumFaces(), 0);
    ASSERT_EQ(group->NumberOfChildren(), 2);

    INode* box = group->GetChildNode(0);
    INode* box2 = group->GetChildNode(1);
    EXPECT_EQ(box->GetParentNode(), group);
    ASSERT_TRUE(MeshOf(box) && MeshOf(box2));
    EXPECT_EQ(MeshOf(box)->getNumVerts(), 8);
    EXPECT_EQ(MeshOf(box)->getNumFaces(), 12);
    EXPECT_FALSE(MeshOf(box)->hasTVFaces());
    EXPECT_EQ(MeshOf(box2)->getNumFaces(), 12);  // the shared mesh, on both nodes
    EXPECT_EQ(WorldPoints(box), Placed(kBoxZUp, kBoxPlace));
    EXPECT_EQ(WorldPoints(box2), Placed(kBoxZUp, {0, 1, 0}));

    // Nodes with nothing below them have no evaluated object.
    EXPECT_EQ(Find(root, "Marker")->EvalWorldState(0), nullptr);
    EXPECT_EQ(Find(root, "Spinner")->EvalWorldState(0), nullptr);
    EXPECT_EQ(box->GetObjOffsetPos(), (Point3{0, 0, 0}));
    EXPECT_EQ(box->GetObjOffsetRot().w, 1.0f);

    // Bounds under a matrix carry every vertex.
    host::Box3 bb;
    const Matrix3 tm = box->GetNodeTM(0);
    box->EvalWorldState(0)->GetDeformBBox(0, bb, &tm, 0);
    ExpectNear(bb.pmin, kBoxPlace, "box min");
    ExpectNear(bb.pmax, kBoxPlace + Point3{1, 2, 3}, "box max");
    host::Box3 untouched;
    const Matrix3 identity;
    group->EvalWorldState(0)->GetDeformBBox(0, untouched, &identity, 0);
    EXPECT_TRUE(untouched.IsEmpty());
}

TEST_F(AssimpSceneTest, YUpGltfAndZUpAseOfOneBoxAgreeInTheHostFrame) {
    auto gltf = Load(Write("box.gltf", HierarchyGltf()));
    auto ase = Load(Write("box.ase", BoxAse(30, 480)));
    ASSERT_TRUE(gltf && ase);
    INode* a = Find(gltf->GetRootNode(), "Box");
    INode* b = Find(ase->GetRootNode(), "Box");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(WorldPoints(a), WorldPoints(b));
    EXPECT_EQ(WorldPoints(b), Placed(kBoxZUp, kBoxPlace));

    // The exporter's change of axes, (x, y, z) -> (x, z, -y), gives the Y-up
    // file its own coordinates back.
    Matrix3 toScript;
    toScript.SetRow(1, {0, 0, -1});
    toScript.SetRow(2, {0, 1, 0});
    std::vector<Point3> own;
    const std::vector<float> y = BoxYUp();
    for (size_t i = 0; i < y.size(); i += 3) own.push_back({y[i] + 5, y[i + 1] + 7, y[i + 2] - 6});
    EXPECT_EQ(WorldPoints(a, 0, toScript), Placed(own, {0, 0, 0}));
}

TEST_F(AssimpSceneTest, UpAxisOptionAndFbxAxisSettings) {
    const std::string fbxText = R"(; FBX 7.4.0 project file
FBXHeaderExtension:  {
	FBXHeaderVersion: 1003
	FBXVersion: 7400
}
GlobalSettings:  {
	Version: 1000
	Properties70:  {
		P: "UpAxis", "int", "Integer", "",2
		P: "UpAxisSign", "int", "Integer", "",1
		P: "FrontAxis", "int", "Integer", "",1
		P: "FrontAxisSign", "int", "Integer", "",-1
		P: "CoordAxis", "int", "Integer", "",0
		P: "CoordAxisSign", "int", "Integer", "",1
		P: "UnitScaleFactor", "double", "Number", "",1
	}
}
Objects:  {
	Geometry: 1001, "Geometry::Tri", "Mesh" {
		Vertices: *9 {
			a: 0,0,0,1,0,0,0,0,1
		}
		PolygonVertexIndex: *3 {
			a: 0,1,-3
		}
		GeometryVersion: 124
	}
	Model: 1002, "Model::Tri", "Mesh" {
		Version: 232
		Properties70:  {
			P: "Lcl Translation", "Lcl Translation", "", "A",0,0,5
		}
	}
}
Connections:  {
	C: "OO",1002,0
	C: "OO",1001,1002
}
)";
    const std::string fbx = Write("zup.fbx", fbxText);
    std::string fbxDownText = fbxText;
    fbxDownText.replace(fbxDownText.find(R"("UpAxisSign", "int", "Integer", "",1)"), 36,
                        R"("UpAxisSign", "int", "Integer", "",-1)");
    const std::string fbxDown = Write("zdown.fbx", fbxDownText);
    const std::string gltf = Write("box.gltf", HierarchyGltf());
    // A format whose reader keeps its own Z-up frame (as it does Blender's).
    const std::string amf = Write("tri.amf", R"(<?xml version="1.0" encoding="utf-8"?>
<amf unit="millimeter"><object id="0"><mesh><vertices>
<vertex><coordinates><x>0</x><y>0</y><z>5</z></coordinates></vertex>
<vertex><coordinates><x>1</x><y>0</y><z>5</z></coordinates></vertex>
<vertex><coordinates><x>0</x><y>1</y><z>5</z></coordinates></vertex>
</vertices><volume><triangle><v1>0</v1><v2>1</v2><v3>2</v3></triangle></volume></mesh></object></amf>
)");
    struct Case {
        const std::string* file;
        const char* node;
        UpAxis up;
        Point3 local;  // a point of the node's own frame
        Point3 host;   // where it lands in the host frame
        const char* axis;  // as --info gives it
        const char* from;  // a word of where --info says it comes from
    } cases[] = {
        {&fbx, "Tri", UpAxis::Auto, {}, {0, 0, 5}, "+Z", "file"},  // the file says Z up
        {&fbx, "Tri", UpAxis::Z, {}, {0, 0, 5}, "+Z", "--up-axis z"},
        {&fbx, "Tri", UpAxis::Y, {}, {0, -5, 0}, "+Y", "--up-axis y"},  // told otherwise: turned
        {&fbxDown, "Tri", UpAxis::Auto, {}, {0, 0, -5}, "-Z", "file"},  // upside down
        {&gltf, "Box", UpAxis::Auto, {}, {5, 6, 7}, "+Y", "glTF"},  // glTF is Y-up
        {&gltf, "Box", UpAxis::Z, {}, {5, 7, -6}, "+Z", "--up-axis z"},  // taken as it stands
        {&amf, "0", UpAxis::Auto, {0, 0, 5}, {0, 0, 5}, "+Z", "AMF"},  // the format is Z-up
        {&amf, "0", UpAxis::Y, {0, 0, 5}, {0, -5, 0}, "+Y", "--up-axis y"},
    };
    for (const Case& c : cases) {
        AssimpOptions opt;
        opt.upAxis = c.up;
        auto scene = Load(*c.file, opt);
        ASSERT_TRUE(scene);
        INode* n = Find(scene->GetRootNode(), c.node);
        ASSERT_TRUE(n) << c.node;
        ExpectNear(c.local * n->GetNodeTM(0), c.host, c.file->c_str());
        const qsxhost::SceneInfo info = scene->Describe();
        EXPECT_EQ(info.upAxis, c.axis) << *c.file;
        EXPECT_NE(info.upAxisWhy.find(c.from), std::string::npos) << *c.file << ": " << info.upAxisWhy;
        // Only the FBX file states its unit.
        EXPECT_EQ(info.unit, c.file == &gltf || c.file == &amf ? std::nullopt : std::optional<double>(1.0)) << *c.file;
    }
}

TEST_F(AssimpSceneTest, GltfAnimationIsSampledAtHostTimes) {
    auto scene = Load(Write("box.gltf", HierarchyGltf()));
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->GetTicksPerFrame(), 160);
    EXPECT_EQ(scene->GetAnimRange().start, 0);
    EXPECT_EQ(scene->GetAnimRange().end, 480);  // 0.1 s
    INode* marker = Find(scene->GetRootNode(), "Marker");
    INode* spinner = Find(scene->GetRootNode(), "Spinner");
    const float r = std::sqrt(2.0f);
    struct Case {
        host::TimeValue t;
        Point3 markerAt;  // Y-up (0, 3t, 0) is host (0, 0, 3t)
        Point3 spunX;     // where the spinner carries (1, 0, 0)
    } cases[] = {
        {-160, {0, 0, 0}, {1, 0, 0}},  // held before the first key
        {0, {0, 0, 0}, {1, 0, 0}},
        {160, {0, 0, 1}, {5.0f / 3 * std::sqrt(0.75f), 5.0f / 3 * 0.5f, 0}},  // scale 5/3, 30 degrees
        {240, {0, 0, 1.5f}, {r, r, 0}},  // half way: scale 2, 45 degrees
        {480, {0, 0, 3}, {0, 3, 0}},
        {960, {0, 0, 3}, {0, 3, 0}},     // held after the last key
    };
    for (const Case& c : cases) {
        ExpectNear(Point3{} * marker->GetNodeTM(c.t), c.markerAt, "marker");
        ExpectNear(Point3{1, 0, 0} * spinner->GetNodeTM(c.t), c.spunX, "spinner");
    }
    // Asking again at an earlier time gives the same answer (nothing stale).
    ExpectNear(Point3{} * marker->GetNodeTM(240), {0, 0, 1.5f}, "marker again");
}

TEST_F(AssimpSceneTest, AseHierarchyGroupAndKeys) {
    struct Case {
        int frameSpeed, lastKey, fps;
        host::TimeValue end, probe;
        float zAtProbe;
    } cases[] = {
        {30, 480, 30, 480, 160, 8},  // 4800 Assimp ticks per second: key times are host ticks
        {30, 480, 60, 480, 160, 8},  // --fps changes the frame, not the key times
        {0, 3, 30, 480, 160, 8},     // 0 ticks per second: keys are frames, 160 ticks each
        {0, 3, 60, 240, 80, 8},      // ... 80 ticks each at 60 fps
    };
    for (const Case& c : cases) {
        AssimpOptions opt;
        opt.fps = c.fps;
        auto scene = Load(Write("anim.ase", BoxAse(c.frameSpeed, c.lastKey)), opt);
        ASSERT_TRUE(scene);
        EXPECT_EQ(scene->GetTicksPerFrame(), 4800 / c.fps);
        EXPECT_EQ(scene->GetAnimRange().end, c.end) << c.frameSpeed << " " << c.fps;
        INode* group = Find(scene->GetRootNode(), "Group");
        INode* box = Find(scene->GetRootNode(), "Box");
        ASSERT_TRUE(group && box);
        EXPECT_EQ(box->GetParentNode(), group);
        ASSERT_TRUE(MeshOf(group));
        EXPECT_EQ(MeshOf(group)->getNumVerts(), 0);
        ASSERT_TRUE(box->GetMtl());
        EXPECT_EQ(box->GetMtl()->ClassID(), host::STANDARD_MATERIAL_CLASS_ID);
        ExpectNear(Point3{} * box->GetNodeTM(c.probe), {5, 6, c.zAtProbe}, "box origin");
        ExpectNear(Point3{} * box->GetNodeTM(c.end), {5, 6, 10}, "box at end");
    }
}

TEST_F(AssimpSceneTest, MeshesOnTheRootBecomeAFirstTopLevelNode) {
    // glTF with a single scene node: Assimp makes that node the root.
    Gltf g;
    const int pos = g.Floats(BoxYUp(), "VEC3", 3);
    const int idx = g.Indices(kBoxTris);
    const std::string path =
        Write("single.gltf", g.Json(R"("scenes":[{"nodes":[0]}],"nodes":[{"name":"Solo","mesh":0,)"
                                    R"("translation":[5,7,-6],"children":[1]},{"name":"Tip"}],)"
                                    R"("meshes":[{"primitives":[{"attributes":{"POSITION":)" +
                                    std::to_string(pos) + R"(},"indices":)" + std::to_string(idx) + "}]}]"));
    auto scene = Load(path);
    ASSERT_TRUE(scene);
    INode* root = scene->GetRootNode();
    EXPECT_EQ(root->GetName(), "Solo");
    EXPECT_EQ(root->EvalWorldState(0), nullptr);
    ASSERT_EQ(root->NumberOfChildren(), 2);
    INode* holder = root->GetChildNode(0);
    EXPECT_EQ(holder->GetName(), "Solo");
    ASSERT_TRUE(MeshOf(holder));
    EXPECT_EQ(WorldPoints(holder), Placed(kBoxZUp, kBoxPlace));
    EXPECT_EQ(root->GetChildNode(1)->GetName(), "Tip");
    EXPECT_EQ(scene->Stats().nodes, 2);
    EXPECT_EQ(scene->Stats().meshes, 1);
}

TEST_F(AssimpSceneTest, EmbeddedTexturesAreNamedAndExtracted) {
    Gltf g;
    const int pos = g.Floats(BoxYUp(), "VEC3", 3);
    const int idx = g.Indices(kBoxTris);
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "not really pixels";
    const std::string uri = "data:image/png;base64," + Base64(png);
    const std::string prim = R"({"attributes":{"POSITION":)" + std::to_string(pos) + R"(},"indices":)" +
                             std::to_string(idx) + R"(,"material":)";
    AssimpOptions named;
    named.unnamedTexturePrefix = "box_";
    auto scene = Load(Write(
        "tex.gltf",
        g.Json(R"("scenes":[{"nodes":[0,1]}],"nodes":[{"name":"A","mesh":0},{"name":"B","mesh":1}],)"
               R"("meshes":[{"primitives":[)" + prim + R"(0}]},{"primitives":[)" + prim + R"(1}]}],)"
               R"("images":[{"name":"skin","uri":")" + uri + R"("},{"uri":")" + uri + R"("}],)"
               R"("textures":[{"source":0},{"source":1}],)"
               R"("materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}},)"
               R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":1}}}])")),
        named);
    ASSERT_TRUE(scene);
    const auto mapName = [&](const char* node) {
        host::Mtl* m = Find(scene->GetRootNode(), node)->GetMtl();
        return m && m->GetSubTexmap(host::ID_DI) ? std::string(m->GetSubTexmap(host::ID_DI)->GetMapName()) : "";
    };
    EXPECT_EQ(mapName("A"), "skin.png");      // its own name, with the format as extension
    EXPECT_EQ(mapName("B"), "box_texture1.png");  // no name: numbered, after the output

    const std::string out = dir_ + "/out";
    std::filesystem::create_directory(out);
    std::vector<qsxhost::TextureFile> files;
    std::vector<std::string> written;
    std::string error;
    const auto extract = [&](const std::string& dir) {
        written.clear();
        EXPECT_TRUE(qsxhost::PlanEmbeddedTextures(*scene, dir, &files, &error)) << error;
        return qsxhost::WriteTextureFiles(files, [&](const std::string& p) { written.push_back(p); }, &error);
    };
    ASSERT_TRUE(extract(out)) << error;
    ASSERT_EQ(written, (std::vector<std::string>{out + "/skin.png", out + "/box_texture1.png"}));
    for (const std::string& f : written) {
        std::ifstream in(f, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), png) << f;
    }
    // The same bytes are left as they are; a different file is not taken for them.
    { std::ofstream(out + "/skin.png", std::ios::binary) << "another picture"; }
    ASSERT_TRUE(extract(out)) << error;
    EXPECT_EQ(written, std::vector<std::string>{out + "/skin.png"});

    EXPECT_FALSE(extract(dir_ + "/missing/dir"));
    EXPECT_NE(error.find("missing/dir/skin.png"), std::string::npos) << error;
    EXPECT_TRUE(written.empty());
}

TEST_F(AssimpSceneTest, RefusedFilesAndOptionsSayWhy) {
    const std::string box = Write("box.gltf", HierarchyGltf());
    const std::string obj = Write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    struct Case {
        std::string path;
        int fps, animation;
    } cases[] = {
        {Write("broken.gltf", R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
                              R"("nodes":[{"mesh":0}],"meshes":[{"primitives":[{"attributes":{"POSITION":7}}]}]})"),
         30, 0},
        {dir_ + "/absent.obj", 30, 0},
        {obj, 30, 1},   // the file has no animation
        {box, 30, 1},   // it has one, index 0
        {box, 30, -1},
        {box, 0, 0},
        {box, 4801, 0},
    };
    for (const Case& c : cases) {
        AssimpOptions opt;
        opt.fps = c.fps;
        opt.animationIndex = c.animation;
        const qsxhost::SceneRead read = ReadFile(c.path, opt);
        EXPECT_EQ(read.scene, nullptr) << c.path;
        EXPECT_FALSE(read.error.empty()) << c.path;
    }
    const qsxhost::SceneRead ok = ReadFile(obj);
    EXPECT_NE(ok.scene, nullptr) << ok.error;
}

// One triangle node "Tri" (mesh "Tri.001") below a group, in a glTF file:
// `bad` stands in one of its numbers, chosen by `where` (as a translation in
// the document's text, an infinity is written as a number beyond float).
enum class Spot { Vertex, TexCoord, Translation, Key };
std::string TriangleGltf(Spot where, float bad) {
    Gltf g;
    const int pos = g.Floats({0, 0, 0, 1, 0, 0, 0, where == Spot::Vertex ? bad : 1, 0}, "VEC3", 3);
    const int uv = g.Floats({0, 0, where == Spot::TexCoord ? bad : 1, 0, 0, 1}, "VEC2", 2);
    const int idx = g.Indices({0, 1, 2});
    const int times = g.Floats({0.0f, 0.1f}, "SCALAR", 1);
    const int moves = g.Floats({0, 0, 0, where == Spot::Key ? bad : 1, 0, 0}, "VEC3", 3);
    std::ostringstream s;
    s << R"("scenes":[{"nodes":[0]}],"nodes":[{"name":"Group","children":[1]},)"
      << R"({"name":"Tri","mesh":0,"translation":[)"
      << (where == Spot::Translation && std::isinf(bad) ? "1e39" : "1") << R"(,0,0]}],)"
      << R"("meshes":[{"name":"Tri.001","primitives":[{"attributes":{"POSITION":)" << pos << R"(,"TEXCOORD_0":)"
      << uv << R"(},"indices":)" << idx << "}]}],"
      << R"("animations":[{"samplers":[{"input":)" << times << R"(,"output":)" << moves << "}],"
      << R"("channels":[{"sampler":0,"target":{"node":1,"path":"translation"}}]}])";
    return g.Json(s.str());
}

TEST_F(AssimpSceneTest, NumbersThatAreNotFiniteRefuseTheFileNamingTheFirst) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::string bad, good;  // the file with the number, and with a finite one in its place
        std::string error;
    } cases[] = {
        {"infinite coordinate", TriangleGltf(Spot::Vertex, inf), TriangleGltf(Spot::Vertex, 2),
         R"(node "Tri", mesh "Tri.001", vertex 2: coordinate is not a finite number)"},
        {"NaN texture coordinate", TriangleGltf(Spot::TexCoord, nan), TriangleGltf(Spot::TexCoord, 2),
         R"(node "Tri", mesh "Tri.001", vertex 1: texture coordinate is not a finite number)"},
        {"translation beyond float", TriangleGltf(Spot::Translation, inf), TriangleGltf(Spot::Translation, 2),
         R"(node "Tri": transform entry is not a finite number)"},
        {"infinite key", TriangleGltf(Spot::Key, -inf), TriangleGltf(Spot::Key, 2),
         R"(animation 0, node "Tri", position key 1: value is not a finite number)"},
    };
    for (const Case& c : cases) {
        const qsxhost::SceneRead bad = ReadFile(Write("bad.gltf", c.bad));
        EXPECT_EQ(bad.scene, nullptr) << c.name;
        EXPECT_EQ(bad.error, c.error) << c.name;
        const qsxhost::SceneRead good = ReadFile(Write("good.gltf", c.good));
        EXPECT_NE(good.scene, nullptr) << good.error;
    }
}

// A cube of 8 corners with one normal per face, as flat-shaded cubes are
// saved: the importer gives each face its own 4 vertices. With `uv`, every
// face maps the whole texture, so corners split where the faces meet.
std::string FlatCubeObj(bool uv, std::vector<std::pair<int, int>>* corners) {
    const int quads[6][4] = {{1, 3, 4, 2}, {5, 6, 8, 7}, {1, 2, 6, 5}, {3, 7, 8, 4}, {1, 5, 7, 3}, {2, 4, 8, 6}};
    std::ostringstream s;
    for (const Point3& p : kBoxZUp) s << "v " << p.x << " " << p.y << " " << p.z << "\n";
    s << "vn -1 0 0\nvn 1 0 0\nvn 0 -1 0\nvn 0 1 0\nvn 0 0 -1\nvn 0 0 1\n";
    if (uv) s << "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";
    for (int f = 0; f < 6; ++f) {
        s << "f";
        for (int k = 0; k < 4; ++k) {
            s << " " << quads[f][k] << "/" << (uv ? std::to_string(k + 1) : "") << "/" << f + 1;
            corners->emplace_back(quads[f][k], uv ? k + 1 : 0);
        }
        s << "\n";
    }
    return s.str();
}

// A triangle skinned half to each of two joints, Root and its child Tip one
// unit up, with identity inverse bind matrices, so that the skeleton at rest
// holds it half a unit up, whichever way its node (turned 90 degrees about z)
// stands. Each of two animations moves Tip alone.
std::string SkinnedGltf() {
    Gltf g;
    const int pos = g.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3", 3);
    const int idx = g.Indices({0, 1, 2});
    const std::vector<uint16_t> joints = {0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0};
    const int jnt = g.Add(joints.data(), joints.size() * 2, 5123, "VEC4", 3);
    const int wgt = g.Floats({.5f, .5f, 0, 0, .5f, .5f, 0, 0, .5f, .5f, 0, 0}, "VEC4", 4);
    std::vector<float> binds;
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 16; ++k) binds.push_back(k % 5 == 0 ? 1.0f : 0.0f);
    const int bind = g.Floats(binds, "MAT4", 16);  // the importer reads them unasked
    const int times = g.Floats({0.0f, 1.0f}, "SCALAR", 1);
    const int moves = g.Floats({0, 1, 0, 0, 2, 0}, "VEC3", 3);
    const std::string anim = R"({"samplers":[{"input":)" + std::to_string(times) + R"(,"output":)" +
                             std::to_string(moves) + R"(}],"channels":[{"sampler":0,"target":{"node":2,"path":"translation"}}]})";
    return g.Json(R"("scenes":[{"nodes":[0,1]}],"nodes":[)"
                  R"({"name":"Skin","mesh":0,"skin":0,"rotation":[0,0,0.70710677,0.70710677]},)"
                  R"({"name":"Root","children":[2]},{"name":"Tip","translation":[0,1,0]}],)"
                  R"("skins":[{"joints":[1,2],"inverseBindMatrices":)" + std::to_string(bind) + "}],"
                  R"("meshes":[{"primitives":[{"attributes":{"POSITION":)" +
                  std::to_string(pos) + R"(,"JOINTS_0":)" + std::to_string(jnt) + R"(,"WEIGHTS_0":)" +
                  std::to_string(wgt) + R"(},"indices":)" + std::to_string(idx) + R"(}]}],"animations":[)" + anim +
                  "," + anim + "]");
}

// As chosen: a triangle; a light that two nodes could be (Assimp ties a
// light to its node by name); a camera.
std::string TriangleAndLampGltf(bool triangle, bool lamp, bool camera) {
    Gltf g;
    const int pos = g.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3", 3);
    const int idx = g.Indices({0, 1, 2});
    std::string nodes, roots;
    int count = 0;
    const auto node = [&](const std::string& n) {
        roots += (count ? "," : "") + std::to_string(count);
        nodes += (count++ ? "," : "") + n;
    };
    if (triangle) node(R"({"name":"Tri","mesh":0})");
    if (lamp) {
        node(R"({"name":"Lamp","extensions":{"KHR_lights_punctual":{"light":0}}})");
        node(R"({"name":"Lamp"})");
    }
    if (camera) node(R"({"name":"Cam","camera":0})");
    return g.Json(R"("extensionsUsed":["KHR_lights_punctual"],)"
                  R"("extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","name":"Lamp"}]}},)"
                  R"("cameras":[{"type":"perspective","perspective":{"yfov":1,"znear":0.1}}],)"
                  R"("scenes":[{"nodes":[)" + roots + R"(]}],"nodes":[)" + nodes + R"(],)"
                  R"("meshes":[{"primitives":[{"attributes":{"POSITION":)" + std::to_string(pos) + R"(},"indices":)" +
                  std::to_string(idx) + "}]}]");
}

// A triangle on one joint, its material without a colour. The reader wants
// the sections apart by blank lines.
std::string Md5Triangle() {
    return "MD5Version 10\ncommandline \"\"\n\nnumJoints 1\nnumMeshes 1\n\n"
           "joints {\n\"root\" -1 ( 0 0 0 ) ( 0 0 0 )\n}\n\n"
           "mesh {\nshader \"\"\nnumverts 3\nvert 0 ( 0 0 ) 0 1\nvert 1 ( 0 0 ) 1 1\nvert 2 ( 0 0 ) 2 1\n"
           "numtris 1\ntri 0 0 1 2\nnumweights 3\nweight 0 0 1 ( 0 0 0 )\nweight 1 0 1 ( 1 0 0 )\n"
           "weight 2 0 1 ( 0 1 0 )\n}\n";
}

// A one-frame MD2 triangle without a skin.
std::string Md2Triangle() {
    std::string b = "IDP2";
    const auto i32 = [&](int32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
    const int32_t frameSize = 40 + 3 * 4, st = 68, tris = st + 4, frames = tris + 12, gl = frames + frameSize;
    // version, skin size, frame size, skins, vertices, texture coordinates,
    // triangles, GL commands, frames, then the offsets
    for (int32_t v : {8, 8, 8, frameSize, 0, 3, 1, 1, 0, 1, st, st, tris, frames, gl, gl + 4}) i32(v);
    b.append(4, '\0');                                                    // one texture coordinate
    for (char v : {0, 1, 2, 0, 0, 0}) b.append({v, 0});                   // the triangle's vertices and coordinates
    for (float f : {1.f, 1.f, 1.f, 0.f, 0.f, 0.f}) b.append(reinterpret_cast<const char*>(&f), 4);  // scale, move
    b.append("frame").append(11, '\0');
    b.append(std::string("\0\0\0\0\1\0\0\0\0\1\0\0", 12));  // packed vertices and normal indexes
    return b.append(4, '\0');                                      // no GL commands
}

// Files the importer's whole-file validation refused, or took without a
// word for what it dropped: each loads, with the vertices the host holds
// and one note per kind of data left out; one with nothing to write says why.
TEST_F(AssimpSceneTest, SmallFilesLoadWithWhatWasLeftOutSaid) {
    std::vector<std::pair<int, int>> flat, seams;
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    struct Case {
        const char* name;
        std::string file, text;
        int64_t vertices;  // positions the host mesh holds
        size_t pairs;      // distinct (position, texture vertex) pairs: the script's Vertex lines
        std::vector<std::string> notes;
        std::string nothing;  // why nothing is written, or "" when a triangle is
        std::string animationNote;
        std::vector<Point3> world = {};         // when given: every vertex in the host's world, sorted
        std::set<std::string> textures = {};    // the texture files the materials name
    } cases[] = {
        {"light Assimp cannot tie to one node", "lamp.gltf", TriangleAndLampGltf(true, true, false), 3, 0,
         {"ignored 1 light"}, "", ""},
        {"empty mesh beside a good one", "two.stl",
         "solid hollow\nendsolid hollow\nsolid tri\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
         "vertex 0 1 0\nendloop\nendfacet\nendsolid tri\n",
         3, 0, {R"(left out 1 empty mesh (no vertices or no faces): "hollow")"}, "", ""},
        {"flat-shaded cube", "flat.obj", FlatCubeObj(false, &flat), 8, 0, {}, "", ""},
        {"flat-shaded cube with UV seams", "seams.obj", FlatCubeObj(true, &seams), 8,
         std::set<std::pair<int, int>>(seams.begin(), seams.end()).size(), {}, "", ""},
        {"mesh with a line", "mixed.obj", tri + "f 1 2 3\nl 1 2\n", 3, 0, {"ignored 1 line primitive"}, "", ""},
        {"skinned on a turned node, animated by its bones", "skin.gltf", SkinnedGltf(), 3, 0,
         {"ignored 2 bones and their skin weights (skinned meshes are written as the skeleton holds them at rest)",
          "ignored 1 animation other than --animation-index 0"},
         "", "animation 0 moves only bones, which are not exported: every frame of the .qsv is the same",
         Placed({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}, {0, 0, 0.5f})},
        {"material without a colour", "grey.md5mesh", Md5Triangle(), 3, 0,
         {"ignored 1 bone and their skin weights (skinned meshes are written as the skeleton holds them at rest)",
          "gave 1 material without a colour a light grey: material 0"},
         "", ""},
        {"texture the reader made up", "skinless.md2", Md2Triangle(), 3, 0,
         {R"(wrote 1 material without a texture: the reader named a stand-in file, not one of the file's: )"
          R"("DefaultMaterial")"},
         "", ""},
        {"null child beside the meshes", "two.raw",
         "0 0 0 0 1 0 1 0 0 t.png\n\nGroup\n0 0 3 0 1 3 1 0 3 u.png\n", 6, 0,
         {R"(left out 1 null child node of the file's node tree; the 1 mesh no node carried is on the node )"
          R"("meshes without a node")"},
         "", "", {}, {"t.png", "u.png"}},
        {"points without faces", "cloud.obj", tri, 0, 0, {"left out 1 empty mesh (no vertices or no faces): mesh 0"},
         "the file's meshes have only points (vertices without faces), which QSX cannot store", ""},
        {"one helper node", "helper.ase",
         "*3DSMAX_ASCIIEXPORT 200\n*HELPEROBJECT {\n *NODE_NAME \"Group\"\n *HELPER_CLASS \"Dummy\"\n}\n", 0, 0,
         {}, "the file has only nodes without meshes", ""},
        {"lines and points only", "lines.obj", tri + "l 1 2\nl 2 3\np 1\n", 0, 0,
         {"ignored 2 line and 1 point primitives"},
         "the file has only line and point primitives, which QSX cannot store", ""},
        {"camera only", "camera.gltf", TriangleAndLampGltf(false, false, true), 0, 0, {"ignored 1 camera"},
         "the file has only cameras, lights or bones", ""},
        {"no nodes", "none.gltf", TriangleAndLampGltf(false, false, false), 0, 0, {}, "the file has no meshes", ""},
        {"bytes the reader finds nothing in", "garbage.obj", std::string("\0\1\2\3 not a model", 16), 0, 0, {},
         "the file has no meshes", ""},
        {"ASE without materials (the stand-in has a NaN colour)", "tri.ase",
         "*3DSMAX_ASCIIEXPORT 200\n*GEOMOBJECT {\n *NODE_NAME \"Tri\"\n *MESH {\n  *MESH_NUMVERTEX 3\n"
         "  *MESH_NUMFACES 1\n  *MESH_VERTEX_LIST {\n   *MESH_VERTEX 0 0 0 0\n   *MESH_VERTEX 1 1 0 0\n"
         "   *MESH_VERTEX 2 0 1 0\n  }\n  *MESH_FACE_LIST {\n   *MESH_FACE 0: A: 0 B: 1 C: 2\n  }\n }\n}\n",
         3, 0, {}, "", ""},
        {"positions equal but for the sign of zero", "zeros.obj",
         "v 0 0 0\nv -0 -0 -0\nv 1 0 0\nv 0 1 0\nf 1 3 4\nf 3 2 4\n", 3, 0, {}, "", ""},
    };
    for (Case& c : cases) {
        auto scene = Load(Write(c.file, c.text));
        ASSERT_TRUE(scene) << c.name;
        EXPECT_EQ(scene->Stats().vertices, c.vertices) << c.name;
        EXPECT_EQ(scene->Stats().faces == 0 ? scene->WhyNothingToExport() : "", c.nothing) << c.name;
        EXPECT_EQ(scene->Notes(), c.notes) << c.name;
        EXPECT_EQ(scene->AnimationNote(), c.animationNote) << c.name;
        std::set<std::pair<uint32_t, uint32_t>> pairs;
        std::vector<Point3> world;
        std::set<std::string> textures;
        std::vector<INode*> stack{scene->GetRootNode()};
        while (!stack.empty()) {
            INode* n = stack.back();
            stack.pop_back();
            if (const host::Mtl* m = n->GetMtl()) {
                for (const Point3& colour : {m->GetAmbient(0), m->GetDiffuse(0), m->GetSpecular(0)})
                    EXPECT_TRUE(std::isfinite(colour.x + colour.y + colour.z)) << c.name;
                // No file here has a black material: black is one without a colour left so.
                EXPECT_NE(m->GetDiffuse(0), Point3{}) << c.name;
                if (host::Texmap* map = m->GetSubTexmap(host::ID_DI)) textures.emplace(map->GetMapName());
            }
            const host::Mesh* m = n->IsRootNode() ? nullptr : MeshOf(n);
            for (size_t f = 0; m && m->hasTVFaces() && f < m->faces.size(); ++f)
                for (int k = 0; k < 3; ++k) pairs.emplace(m->faces[f].v[k], m->tvFaces[f].t[k]);
            if (m)
                for (const Point3& p : WorldPoints(n)) world.push_back(p);
            for (int i = 0; i < n->NumberOfChildren(); ++i) stack.push_back(n->GetChildNode(i));
        }
        EXPECT_TRUE(c.pairs == 0 || pairs.size() == c.pairs) << c.name << ": " << pairs.size();
        EXPECT_EQ(textures, c.textures) << c.name;
        EXPECT_TRUE(c.world.empty() || Placed(world, {}) == c.world) << c.name;
    }
}

TEST_F(AssimpSceneTest, ProgressRunsToOne) {
    std::vector<float> seen;
    AssimpOptions opt;
    opt.progress = [&](float f) { seen.push_back(f); };
    ASSERT_TRUE(Load(Write("box.gltf", HierarchyGltf()), opt));
    ASSERT_FALSE(seen.empty());
    for (float f : seen) EXPECT_TRUE(f >= 0.0f && f <= 1.0f) << f;
    EXPECT_EQ(seen.back(), 1.0f);
}

// The bundled example: the robot's body carries its head, both animated.
TEST(AssimpExample, RobotKeepsItsHierarchyTextureAndAnimation) {
    qsxhost::SceneRead read = ReadFile(std::string(QSX_SOURCE_DIR) + "/examples/robot.gltf");
    ASSERT_TRUE(read.scene) << read.error;
    const std::unique_ptr<SceneSource> scene = std::move(read.scene);
    EXPECT_EQ(scene->GetAnimRange().end, 4800);
    INode* root = scene->GetRootNode();
    ASSERT_EQ(root->NumberOfChildren(), 1);
    INode* body = root->GetChildNode(0);
    ASSERT_EQ(body->GetName(), "Body");
    ASSERT_EQ(body->NumberOfChildren(), 1);
    INode* head = body->GetChildNode(0);
    EXPECT_EQ(head->GetName(), "Head");
    ASSERT_TRUE(body->GetMtl() && body->GetMtl()->GetSubTexmap(host::ID_DI));
    EXPECT_EQ(body->GetMtl()->GetSubTexmap(host::ID_DI)->GetMapName(), "robot.png");
    EXPECT_TRUE(MeshOf(body)->hasTVFaces());
    ExpectNear(Point3{} * head->GetNodeTM(0), {0, 0, 3.5f}, "head at rest");
    ExpectNear(Point3{} * head->GetNodeTM(2400), {0, 0, 4.0f}, "head lifted by the body");
    ExpectNear(Point3{1, 0, 0} * head->GetNodeTM(2400) - Point3{0, 0, 4.0f}, {0, 1, 0}, "head turned");
}

TEST(AssimpFormats, ExtensionListIsSortedWordsOfTheImporter) {
    const std::string list = qsxhost::AssimpInputExtensions();
    std::istringstream in(list);
    std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    EXPECT_TRUE(std::is_sorted(words.begin(), words.end())) << list;
    EXPECT_EQ(std::adjacent_find(words.begin(), words.end()), words.end()) << list;
    for (const char* e : {"3ds", "ase", "dae", "fbx", "glb", "gltf", "obj"})
        EXPECT_NE(std::find(words.begin(), words.end(), e), words.end()) << e;
    EXPECT_EQ(list.find_first_of("*;"), std::string::npos) << list;  // words, not patterns
}

}  // namespace
