// The mesh block of one node: vertex lines with their texture coordinates,
// material statements and triangle lines.
#include <gtest/gtest.h>

#include "tests/support/fake_scene.h"

using fake::Lines;

namespace {

// Exports one top-level node (mode "multiple clumps", no centring, scale 1)
// and answers the lines of its mesh block, without indentation, from the
// first line after "Hints" to the line before "ClumpEnd".
std::vector<std::string> MeshBlock(fake::Host& h, const std::string& node = "M") {
    h.preset.hierarchyType = 2;
    h.preset.centre = 0;
    fake::Run r;
    r.Export(h);
    std::vector<std::string> out;
    bool in = false;
    std::string current;
    for (std::string line : Lines(r.File("out/scene.QSX"))) {
        line.erase(0, line.find_first_not_of(' ') == std::string::npos ? line.size() : line.find_first_not_of(' '));
        if (line.rfind("# ", 0) == 0) current = line.substr(2);
        if (line == "ClumpEnd") in = false;
        if (in && current == node) out.push_back(line);
        if (line.rfind("Hints", 0) == 0) in = true;
    }
    return out;
}

using fake::F;
using fake::T;

TEST(VertexLines, WorkedExampleSplitsVerticesPerTextureVertex) {
    fake::Host h;
    host::Mesh& m = h.root.Add("M")->MakeMesh();
    m.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    m.tVerts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-0.5f, 0.25f, 0}, {2, 1.5f, 0}};
    m.faces = {F(0, 1, 2), F(0, 2, 3)};
    m.tvFaces = {T(0, 1, 2), T(3, 2, 4)};
    EXPECT_EQ(MeshBlock(h), (std::vector<std::string>{
                                "Vertex  0.000000  0.000000  0.000000 UV  1.000000  2.000000",
                                "Vertex  0.000000  0.000000  0.000000 UV  0.500000  1.750000",
                                "Vertex  1.000000  0.000000  0.000000 UV  2.000000  2.000000",
                                "Vertex  1.000000  0.000000 -1.000000 UV  2.000000  1.000000",
                                "Vertex  0.000000  0.000000 -1.000000 UV  3.000000  0.500000",
                                "",
                                "Triangle 1 3 4",
                                "Triangle 2 4 5",
                                "",
                            }));
}

struct UvCase {
    const char* name;
    std::vector<host::Point3> tverts;  // one per mesh vertex, faces 0 1 2 / 0 2 3
    std::vector<std::pair<float, float>> expected;
};

TEST(VertexLines, ShiftFlipAndWrapOfTextureCoordinates) {
    const UvCase cases[] = {
        {"u -0.3..0.7, v 0.2..1.0", {{-0.3f, 0.2f, 0}, {0.7f, 1.0f, 0}, {0.2f, 0.5f, 0}, {0, 0.6f, 0}},
         {{0.7f, 1.8f}, {1.7f, 1.0f}, {1.2f, 1.5f}, {1.0f, 1.4f}}},
        {"v all negative keeps the smallest normal as maximum", {{0, -2, 0}, {0, -1, 0}, {0, -1.5f, 0}, {0, -1, 0}},
         {{0, 3}, {0, 2}, {0, 2.5f}, {0, 2}}},
        {"wrap by 32", {{40, 0, 0}, {64, 0, 0}, {100.5f, 0, 0}, {0, 0, 0}}, {{8, 1}, {32, 1}, {4.5f, 1}, {0, 1}}},
        {"32 stays", {{32, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{32, 1}, {0, 1}, {0, 1}, {0, 1}}},
        {"v wraps on its own", {{0, -40, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{0, 9}, {0, 1}, {0, 1}, {0, 1}}},
    };
    for (const UvCase& c : cases) {
        fake::Host h;
        host::Mesh& m = h.root.Add("M")->MakeMesh();
        m.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        m.tVerts = c.tverts;
        m.faces = {F(0, 1, 2), F(0, 2, 3)};
        m.tvFaces = {T(0, 1, 2), T(0, 2, 3)};
        const auto lines = MeshBlock(h);
        ASSERT_GE(lines.size(), 4u) << c.name;
        for (size_t i = 0; i < 4; ++i) {
            float u = 0, v = 0;
            const size_t at = lines[i].find("UV");
            ASSERT_NE(at, std::string::npos) << c.name;
            ASSERT_EQ(std::sscanf(lines[i].c_str() + at + 2, "%f %f", &u, &v), 2);
            EXPECT_FLOAT_EQ(u, c.expected[i].first) << c.name << " vertex " << i;
            EXPECT_FLOAT_EQ(v, c.expected[i].second) << c.name << " vertex " << i;
        }
    }
}

TEST(VertexLines, UnusedVerticesWithAndWithoutTextureVertices) {
    for (bool textured : {false, true}) {
        fake::Host h;
        host::Mesh& m = h.root.Add("M")->MakeMesh();
        m.verts = {{0, 0, 0}, {9, 9, 9}, {1, 0, 0}, {1, 1, 0}};
        m.faces = {F(0, 2, 3)};
        if (textured) {
            m.tVerts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
            m.tvFaces = {T(0, 1, 2)};
        }
        const auto lines = MeshBlock(h);
        const size_t vertexLines = std::count_if(lines.begin(), lines.end(),
                                                 [](const std::string& l) { return l.rfind("Vertex", 0) == 0; });
        EXPECT_EQ(vertexLines, textured ? 3u : 4u);
        EXPECT_NE(std::find(lines.begin(), lines.end(), textured ? "Triangle 1 2 3" : "Triangle 1 3 4"), lines.end());
    }
}

TEST(VertexLines, MoreThanFiftyTextureVerticesOnOneVertexKeepsThemAll) {
    fake::Host h;
    host::Mesh& m = h.root.Add("M")->MakeMesh();
    const int fans = 60;
    m.verts.push_back({0, 0, 0});
    for (int i = 0; i < fans; ++i) {
        m.verts.push_back({1, static_cast<float>(i), 0});
        m.verts.push_back({2, static_cast<float>(i), 0});
        const auto b = static_cast<uint32_t>(1 + 2 * i);
        m.faces.push_back(F(0, b, b + 1));
        const auto t = static_cast<uint32_t>(m.tVerts.size());
        m.tVerts.push_back({static_cast<float>(i) / 100, 0, 0});
        m.tVerts.push_back({0, 0, 0});
        m.tVerts.push_back({0, 1, 0});
        m.tvFaces.push_back(T(t, t + 1, t + 2));
    }
    const auto lines = MeshBlock(h);
    for (const auto& l : lines) {
        if (l.rfind("Triangle", 0) == 0) {
            EXPECT_EQ(l.find("-1"), std::string::npos) << l;
        }
    }
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Vertex", 0) == 0; }),
              3 * fans);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Triangle 60 179 180"), lines.end()) << "the 60th texture vertex of vertex 0";
    // Every corner that met the full slot was reported.
    EXPECT_EQ(std::count(h.asserts.begin(), h.asserts.end(), std::make_pair(800, std::string("qsexp"))), fans - 50);
}

TEST(VertexLines, FailedTableAllocationFailsTheExportCleanly) {
    for (long k = 1; k <= 2; ++k) {
        fake::Host h;
        fake::Fan(h.root.Add("A")->MakeMesh(), 4);
        fake::Fan(h.root.Add("B")->MakeMesh(), 4);
        fake::Run r;
        r.exporter.vertexTable.FailAllocationAt(k);
        EXPECT_EQ(r.Export(h), 0) << k;
        EXPECT_TRUE(r.fs.files.empty()) << k;
    }
}

// ------------------------------------------------------------ materials

struct Materials {
    fake::Texmap wood, mask, other;
    fake::Mtl std;
    Materials() {
        wood.file = "C:\\maps\\wood.tga";
        mask.file = "C:\\maps\\woodmask.tga";
        other.cls = {7, 0};
        std.diffuse = {0.5f, 0.25f, 1};
        std.specular = {0.9f, 0.9f, 0.9f};
        std.diffuseMap.map = &wood;
        std.diffuseMap.enabled = true;
    }
};

std::vector<std::string> MaterialBlock(fake::Mtl& mtl, uint32_t textureFlags, const std::string& ext = "BMP") {
    fake::Host h;
    h.preset.textureFlags = textureFlags;
    h.preset.extName = ext;
    fake::Node* n = h.root.Add("M");
    n->MakeMesh();
    n->mtl = &mtl;
    auto lines = MeshBlock(h);
    // vertex block (one empty line), then the material block up to its empty line
    std::vector<std::string> out(lines.begin() + 1, lines.end() - 1);
    return out;
}

TEST(Materials, TypicalBlockAndItsVariants) {
    Materials m;
    const std::vector<std::string> head = {"GeometrySampling Solid", "LightSampling Vertex", "Ambient  0.1  0.1  0.1",
                                           "Color  0.5 0.25    1",    "Diffuse  0.5 0.25    1",
                                           "Specular  0.9  0.9  0.9"};
    struct Case {
        uint32_t flags;
        bool mask;
        std::vector<std::string> tail;
    } cases[] = {
        {1, false, {"TextureModes NULL", "Texture wood.tga", ""}},
        {2 + 8 + 16, false, {"TextureModes Lit Filter", "Texture NULL # wood.BMP", ""}},
        {1 + 16, false, {"TextureModes NULL", "Texture wood.BMP", ""}},
        {1, true, {"TextureModes NULL", "TextureExt wood.tga Mask woodmask.tga", ""}},
        {0, true, {"TextureModes NULL", "TextureExt NULL Mask NULL # wood.tga woodmask.tga", ""}},
        {2 + 4 + 8, false, {"TextureModes Lit Foreshorten Filter", "Texture NULL # wood.tga", ""}},
    };
    for (const Case& c : cases) {
        m.std.opacityMap.map = c.mask ? &m.mask : nullptr;
        m.std.opacityMap.enabled = c.mask;
        auto expected = head;
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(MaterialBlock(m.std, c.flags), expected) << "flags " << c.flags;
    }
}

TEST(Materials, ConditionalLinesClampingAndTextureChoices) {
    Materials m;
    m.std.twoSided = true;
    m.std.wire = true;
    m.std.shading = 0;
    m.std.opacity = 0.5f;
    m.std.ambient = {0.05f, 0.1f, 0.7f};
    auto lines = MaterialBlock(m.std, 1);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"MaterialModes Double", "GeometrySampling WireFrame", "LightSampling Facet",
                                        "Opacity  0.5", "Ambient  0.1  0.1  0.7"}));

    struct Case {
        const char* name;
        bool diffuseEnabled;
        host::Texmap* diffuse;
        bool maskEnabled;
        host::Texmap* maskMap;
        const char* line;
    } cases[] = {
        {"disabled diffuse", false, &m.wood, true, &m.mask, "Texture NULL"},
        {"diffuse of another class", true, &m.other, true, &m.mask, "Texture NULL"},
        {"no diffuse map", true, nullptr, false, nullptr, "Texture NULL"},
        {"mask on a disabled channel", true, &m.wood, false, &m.mask, "Texture wood.tga"},
        {"mask of another class", true, &m.wood, true, &m.other, "Texture wood.tga"},
    };
    for (const Case& c : cases) {
        m.std.diffuseMap.enabled = c.diffuseEnabled;
        m.std.diffuseMap.map = c.diffuse;
        m.std.opacityMap.enabled = c.maskEnabled;
        m.std.opacityMap.map = c.maskMap;
        lines = MaterialBlock(m.std, 1);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], c.line) << c.name;
    }
}

TEST(Materials, TextureNames) {
    struct Case {
        const char* path;
        uint32_t flags;
        const char* ext;
        const char* name;
    } cases[] = {
        {"C:\\maps\\wood.tga", 0, "BMP", "wood.tga"},
        {"C:wood.tga", 0, "BMP", "wood.tga"},
        {"wood.tga", 0, "BMP", "wood.tga"},
        {"wood.tga", 16, "BMP", "wood.BMP"},
        {"C:\\maps\\wood.old.tga", 16, "BMP", "wood.BMP"},
        {"wood", 16, "BMP", "wood.BMP"},
        {"wood.tga", 16, "", "wood."},
        {"C:\\Maps\\Wood.TGA", 0, "BMP", "Wood.TGA"},
        {"./duckCM.tga", 16, "BMP", "duckCM.BMP"},
        {"C:/tex/robot.png", 0, "BMP", "robot.png"},
        {"//DROPLETS.tga", 0, "BMP", "DROPLETS.tga"},
        {"C:\\maps/sub\\a.b/Wood.tga", 0, "BMP", "Wood.tga"},
    };
    for (const Case& c : cases) {
        qsx::QsxExport e;
        e.options.textureFlags = c.flags;
        e.options.extName = c.ext;
        EXPECT_EQ(e.TextureName(c.path), c.name) << c.path;
    }
}

TEST(Materials, NoMaterialAndOtherClassesWriteNoBlock) {
    fake::Mtl other;
    other.cls = {0x1234, 0};
    for (fake::Mtl* mtl : {static_cast<fake::Mtl*>(nullptr), &other}) {
        fake::Host h;
        fake::Node* n = h.root.Add("M");
        fake::Fan(n->MakeMesh(), 3);
        n->mtl = mtl;
        EXPECT_EQ(MeshBlock(h), (std::vector<std::string>{"Vertex  0.000000  0.000000  0.000000",
                                                          "Vertex  1.000000  0.000000 -1.000000",
                                                          "Vertex  2.000000  0.000000  0.000000", "",
                                                          "Triangle 1 2 3", ""}));
    }
}

// ------------------------------------------------------------ triangles

std::vector<std::string> Switches(const std::vector<std::string>& lines) {
    // "Color" opens each material block; a neutral block says "Color 0.0 0.0 0.0".
    std::vector<std::string> out;
    for (const auto& l : lines) {
        if (l.rfind("Color", 0) == 0) out.push_back(l);
        if (l.rfind("Triangle", 0) == 0) out.push_back("T");
    }
    return out;
}

TEST(Triangles, SubMaterialSwitchesByIdentity) {
    fake::Mtl a, b, c, multi, other;
    a.diffuse = {1, 0, 0};
    b.diffuse = {0, 1, 0};
    c.diffuse = {0, 0, 1};
    other.cls = {7, 7};
    multi.cls = host::MULTI_MATERIAL_CLASS_ID;
    const std::string A = "Color    1    0    0", B = "Color    0    1    0", C = "Color    0    0    1",
                      N = "Color 0.0 0.0 0.0";
    struct Case {
        const char* name;
        std::vector<host::Mtl*> subs;
        std::vector<uint16_t> ids;
        std::vector<std::string> expected;
    } cases[] = {
        {"ids 1 1 4 4 1 with three subs", {&a, &b, &c}, {1, 1, 4, 4, 1}, {B, "T", "T", "T", "T", "T"}},
        {"ids 0 1 0", {&a, &b}, {0, 1, 0}, {A, "T", B, "T", A, "T"}},
        {"identical slots", {&a, &a}, {0, 1, 0}, {A, "T", "T", "T"}},
        {"absent first, then standard, then other class", {nullptr, &a, &other}, {0, 1, 2}, {"T", A, "T", N, "T"}},
        {"no sub-materials", {}, {0, 3}, {"T", "T"}},
    };
    for (const Case& cs : cases) {
        multi.subs = cs.subs;
        fake::Host h;
        fake::Node* n = h.root.Add("M");
        host::Mesh& m = n->MakeMesh();
        for (size_t i = 0; i < cs.ids.size(); ++i) {
            const auto base = static_cast<uint32_t>(m.verts.size());
            m.verts.insert(m.verts.end(), {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
            m.faces.push_back(F(base, base + 1, base + 2, cs.ids[i]));
        }
        n->mtl = &multi;
        EXPECT_EQ(Switches(MeshBlock(h)), cs.expected) << cs.name;
    }
}

TEST(Triangles, DegenerateFacesAreLeftOutWithoutChangingTheMaterial) {
    fake::Mtl a, b, multi;
    a.diffuse = {1, 0, 0};
    b.diffuse = {0, 1, 0};
    multi.cls = host::MULTI_MATERIAL_CLASS_ID;
    multi.subs = {&a, &b};
    fake::Host h;
    fake::Node* n = h.root.Add("M");
    host::Mesh& m = n->MakeMesh();
    m.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    m.faces = {F(0, 1, 2, 0), F(0, 1, 0, 1), F(1, 1, 2, 1), F(1, 3, 2, 0)};
    n->mtl = &multi;
    const auto lines = MeshBlock(h);
    EXPECT_EQ(Switches(lines), (std::vector<std::string>{"Color    1    0    0", "T", "T"}));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Triangle 2 4 3"), lines.end());
}

TEST(Triangles, CoincidentCornersAreCountedOnceForTheWholeRun) {
    const struct {
        const char* name;
        int mode;
        std::vector<int> leftOut;  // per node: faces with two corners on one vertex
        std::vector<std::string> warnings;
    } cases[] = {
        {"none", 0, {0, 0}, {}},
        {"one", 2, {0, 1}, {"left out 1 triangle whose corners coincide"}},
        {"two nodes, preserved", 0, {2, 1}, {"left out 3 triangles whose corners coincide"}},
        {"two nodes, single clump", 1, {2, 1}, {"left out 3 triangles whose corners coincide"}},
        {"two nodes, separate files", 3, {1, 2}, {"left out 3 triangles whose corners coincide"}},
    };
    for (const auto& c : cases) {
        fake::Host h;
        h.preset.hierarchyType = c.mode;
        h.preset.saveHeader = c.mode != 1;  // a second pass over the meshes, where no clump warns of its own
        for (size_t i = 0; i < c.leftOut.size(); ++i) {
            host::Mesh& m = h.root.Add("N" + std::to_string(i))->MakeMesh();
            m.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
            m.faces = {F(0, 1, 2)};
            for (int k = 0; k < c.leftOut[i]; ++k) m.faces.push_back(F(k % 3, k % 3, 2 - k % 3));
        }
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << c.name;
        EXPECT_EQ(h.warnings, c.warnings) << c.name;
    }
}

TEST(Triangles, VertexBaseRunsOnOnlyInSingleClumpMode) {
    for (int mode : {0, 1, 2}) {
        fake::Host h;
        h.preset.hierarchyType = mode;
        fake::Fan(h.root.Add("A")->MakeMesh(), 8);
        host::Mesh& b = h.root.Add("B")->MakeMesh();
        b.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {9, 9, 9}};
        b.tVerts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        b.faces = {F(0, 1, 2)};
        b.tvFaces = {T(0, 1, 2)};
        fake::Fan(h.root.Add("C")->MakeMesh(), 3);
        fake::Run r;
        r.Export(h);
        std::vector<std::string> tris;
        for (auto l : Lines(r.File("out/scene.QSX")))
            if (l.find("Triangle") != std::string::npos) tris.push_back(l.substr(l.find("Triangle")));
        ASSERT_EQ(tris.size(), 6u + 1 + 1);
        if (mode == 1) {
            EXPECT_EQ(tris[6], "Triangle 9 10 11") << "after 8 untextured vertices";
            EXPECT_EQ(tris[7], "Triangle 12 13 14") << "after 3 textured output vertices";
        } else {
            EXPECT_EQ(tris[6], "Triangle 1 2 3");
            EXPECT_EQ(tris[7], "Triangle 1 2 3");
        }
        EXPECT_EQ(r.exporter.vertexBase, mode == 1 ? 14 : 0);
    }
}

}  // namespace
