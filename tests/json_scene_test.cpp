#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <initializer_list>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "qsxhost/sources/json/JsonReader.h"
#include "qsxhost/sources/json/JsonScene.h"

using host::INode;
using host::Matrix3;
using host::Point3;

namespace {

// A document from bytes already read, as standard input gives them.
qsxhost::SceneRead FromText(const std::string& doc) { return qsxhost::ReadJsonScene({"-", &doc, {}}); }
// A document read from its path: a file, a directory, a pipe.
qsxhost::SceneRead FromPath(const std::string& path) { return qsxhost::ReadJsonScene({path, nullptr, {}}); }

std::unique_ptr<qsxhost::SceneSource> Parse(const std::string& doc) {
    qsxhost::SceneRead read = FromText(doc);
    EXPECT_TRUE(read.scene) << read.error;
    return std::move(read.scene);
}

// Why the document is refused; "" when it is read.
std::string RefusedWith(const qsxhost::SceneRead& read) { return read.scene ? std::string() : read.error; }
std::string RefusedWith(const std::string& doc) { return RefusedWith(FromText(doc)); }

// The node reached from the root by child indices.
INode* At(qsxhost::SceneSource& s, std::initializer_list<int> path) {
    INode* n = s.GetRootNode();
    for (int i : path) {
        if (!n) return nullptr;
        n = n->GetChildNode(i);
    }
    return n;
}

std::string Node(const std::string& members) { return R"({"qsxScene":1,"nodes":[{"name":"n",)" + members + "}]}"; }
std::string MeshDoc(const std::string& mesh) { return Node(R"("object":{"mesh":)" + mesh + "}"); }

Matrix3 Rows(Point3 a, Point3 b, Point3 c, Point3 t) {
    Matrix3 m;
    m.SetRow(0, a);
    m.SetRow(1, b);
    m.SetRow(2, c);
    m.SetRow(3, t);
    return m;
}

TEST(JsonScene, DefaultsOfEveryMember) {
    auto s = Parse(R"({"qsxScene":1,
        "maps":[{"class":"bitmap"}],
        "materials":[{"class":"standard"},{"class":"multi"},{"classId":[2,0]}],
        "nodes":[{"name":"a","object":{"mesh":{"vertices":[[1,2,3]]}}}]})");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->GetAnimRange().start, 0);
    EXPECT_EQ(s->GetAnimRange().end, 0);
    EXPECT_EQ(s->GetTicksPerFrame(), 160);

    INode* root = s->GetRootNode();
    EXPECT_TRUE(root->IsRootNode());
    EXPECT_EQ(root->GetName(), "");
    EXPECT_EQ(root->GetParentNode(), nullptr);
    EXPECT_EQ(root->EvalWorldState(0), nullptr);
    EXPECT_EQ(root->GetMtl(), nullptr);
    EXPECT_EQ(root->GetNodeTM(0), Matrix3());
    ASSERT_EQ(root->NumberOfChildren(), 1);

    INode* a = At(*s, {0});
    EXPECT_FALSE(a->IsRootNode());
    EXPECT_EQ(a->GetParentNode(), root);
    EXPECT_EQ(a->NumberOfChildren(), 0);
    EXPECT_EQ(a->GetChildNode(0), nullptr);
    EXPECT_EQ(a->GetMtl(), nullptr);
    const Matrix3 tm = a->GetNodeTM(12345);
    EXPECT_EQ(tm, Matrix3());
    EXPECT_EQ(tm.GetFlags() & host::POS_IDENT, host::POS_IDENT);
    EXPECT_EQ(a->GetObjOffsetPos(), (Point3{0, 0, 0}));
    const host::Quat q = a->GetObjOffsetRot();
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_EQ(q.z, 0.0f);
    EXPECT_EQ(q.w, 1.0f);

    host::Object* obj = a->EvalWorldState(0);
    ASSERT_NE(obj, nullptr);
    EXPECT_TRUE(obj->IsRenderable());
    host::TriObject* tri = obj->ConvertToType(0, host::TRIOBJ_CLASS_ID);
    EXPECT_EQ(static_cast<host::Object*>(tri), obj);
    const host::Mesh& mesh = tri->GetMesh();
    EXPECT_EQ(mesh.getNumVerts(), 1);
    EXPECT_EQ(mesh.getNumFaces(), 0);
    EXPECT_EQ(mesh.getNumTVerts(), 0);
    EXPECT_FALSE(mesh.hasTVFaces());

    // An object without members is renderable and so needs a mesh: refused.
    const std::string error = RefusedWith(R"({"qsxScene":1,"nodes":[{"name":"b","object":{}}]})");
    EXPECT_NE(error.find("nodes[0].object: missing member \"mesh\""), std::string::npos) << error;
}

TEST(JsonScene, DefaultsOfMaterialsAndMaps) {
    auto s = Parse(R"({"qsxScene":1,
        "maps":[{"class":"bitmap"}, {"classId":[7,0]}],
        "materials":[{"class":"standard"},{"class":"multi"},{"classId":[2,0]},{"classId":[9,9]}],
        "nodes":[{"name":"a","material":0},{"name":"b","material":1},{"name":"c","material":2},{"name":"d","material":3}]})");
    ASSERT_TRUE(s);
    for (int i : {0, 2, 3}) {
        SCOPED_TRACE(i);
        host::Mtl* m = At(*s, {i})->GetMtl();
        ASSERT_NE(m, nullptr);
        EXPECT_FALSE(m->GetTwoSided());
        EXPECT_FALSE(m->GetWire());
        EXPECT_EQ(m->GetShading(), 1);
        EXPECT_EQ(m->GetOpacity(0), 1.0f);
        EXPECT_EQ(m->GetAmbient(0), (Point3{0, 0, 0}));
        EXPECT_EQ(m->GetDiffuse(0), (Point3{0, 0, 0}));
        EXPECT_EQ(m->GetSpecular(0), (Point3{0, 0, 0}));
        for (int ch : {host::ID_DI, host::ID_OP}) {
            EXPECT_FALSE(m->MapEnabled(ch));
            EXPECT_EQ(m->GetSubTexmap(ch), nullptr);
        }
        EXPECT_EQ(m->NumSubMtls(), 0);
    }
    EXPECT_EQ(At(*s, {0})->GetMtl()->ClassID(), host::STANDARD_MATERIAL_CLASS_ID);
    EXPECT_EQ(At(*s, {1})->GetMtl()->ClassID(), host::MULTI_MATERIAL_CLASS_ID);
    EXPECT_EQ(At(*s, {1})->GetMtl()->NumSubMtls(), 0);
    EXPECT_EQ(At(*s, {2})->GetMtl()->ClassID(), host::STANDARD_MATERIAL_CLASS_ID);
    EXPECT_EQ(At(*s, {3})->GetMtl()->ClassID(), (host::Class_ID{9, 9}));
    EXPECT_EQ(s->Stats().materials, 4);
}

TEST(JsonScene, FullDocumentReadsEveryMemberAsGiven) {
    qsxhost::SceneRead read = FromPath(QSX_SOURCE_DIR "/tests/data/json/full.json");
    ASSERT_TRUE(read.scene) << read.error;
    const std::unique_ptr<qsxhost::SceneSource> s = std::move(read.scene);
    EXPECT_EQ(s->GetAnimRange().start, -160);
    EXPECT_EQ(s->GetAnimRange().end, 800);
    EXPECT_EQ(s->GetTicksPerFrame(), 4800);

    const qsxhost::SceneStats st = s->Stats();
    EXPECT_EQ(st.nodes, 4);
    EXPECT_EQ(st.meshes, 1);
    EXPECT_EQ(st.vertices, 5);
    EXPECT_EQ(st.faces, 2);
    EXPECT_EQ(st.materials, 3);

    INode* box = At(*s, {0});
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetName(), "Box01");
    const Matrix3 tm = box->GetNodeTM(0);
    EXPECT_EQ(tm, Rows({0, 1, 0}, {-1, 0, 0}, {0, 0, 2}, {10, 20, 30}));
    EXPECT_EQ(tm.GetFlags() & host::POS_IDENT, 0u);
    EXPECT_EQ(box->GetObjOffsetPos(), (Point3{1, 2, 3}));
    const host::Quat q = box->GetObjOffsetRot();
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_EQ(q.z, 0.7071068f);
    EXPECT_EQ(q.w, 0.7071068f);

    const host::Mesh& mesh = box->EvalWorldState(0)->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh();
    ASSERT_EQ(mesh.getNumVerts(), 5);
    EXPECT_EQ(mesh.verts[2], (Point3{1, 1, 0}));
    EXPECT_EQ(mesh.verts[4], (Point3{5, 5, 5}));
    ASSERT_EQ(mesh.getNumFaces(), 2);
    EXPECT_EQ(mesh.faces[1].v[0], 0u);
    EXPECT_EQ(mesh.faces[1].v[1], 2u);
    EXPECT_EQ(mesh.faces[1].v[2], 3u);
    EXPECT_EQ(mesh.faces[0].getMatID(), 0);
    EXPECT_EQ(mesh.faces[1].getMatID(), 65535);
    EXPECT_EQ(mesh.faces[1].flags, 0xFFFF0000u);
    EXPECT_EQ(mesh.faces[0].smGroup, 1u);
    EXPECT_EQ(mesh.faces[1].smGroup, 0xFFFFFFFFu);
    ASSERT_EQ(mesh.getNumTVerts(), 3);
    EXPECT_EQ(mesh.tVerts[1], (Point3{1, 0, 0}));
    EXPECT_EQ(mesh.tVerts[2], (Point3{1, 1, 0.5f}));
    ASSERT_TRUE(mesh.hasTVFaces());
    EXPECT_EQ(mesh.tvFaces[1].t[1], 2u);
    EXPECT_EQ(mesh.tvFaces[1].t[2], 1u);

    // Materials and maps.
    host::Mtl* multi = box->GetMtl();
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->ClassID(), host::MULTI_MATERIAL_CLASS_ID);
    ASSERT_EQ(multi->NumSubMtls(), 4);
    EXPECT_EQ(multi->GetSubMtl(1), nullptr);
    EXPECT_EQ(multi->GetSubMtl(3), multi);
    host::Mtl* std = multi->GetSubMtl(0);
    ASSERT_NE(std, nullptr);
    EXPECT_EQ(std->ClassID(), host::STANDARD_MATERIAL_CLASS_ID);
    EXPECT_TRUE(std->GetTwoSided());
    EXPECT_TRUE(std->GetWire());
    EXPECT_EQ(std->GetShading(), 0);
    EXPECT_EQ(std->GetOpacity(0), 0.25f);
    EXPECT_EQ(std->GetOpacity(999), 0.25f);
    EXPECT_EQ(std->GetAmbient(0), (Point3{0.1f, 0.2f, 0.3f}));
    EXPECT_EQ(std->GetDiffuse(0), (Point3{0.5f, 0.25f, 1}));
    EXPECT_EQ(std->GetSpecular(7), (Point3{0.9f, 0.8f, 0.7f}));
    EXPECT_TRUE(std->MapEnabled(host::ID_DI));
    EXPECT_FALSE(std->MapEnabled(host::ID_OP));
    EXPECT_FALSE(std->MapEnabled(2));
    host::Texmap* wood = std->GetSubTexmap(host::ID_DI);
    ASSERT_NE(wood, nullptr);
    EXPECT_EQ(wood->ClassID(), host::BITMAP_TEXTURE_CLASS_ID);
    EXPECT_EQ(wood->GetMapName(), "C:\\maps\\wood \xC3\xA9.tga");
    host::Texmap* other = std->GetSubTexmap(host::ID_OP);  // disabled but present
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->ClassID(), (host::Class_ID{7, 0}));
    EXPECT_EQ(other->GetMapName(), "");
    host::Mtl* third = multi->GetSubMtl(2);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->ClassID(), (host::Class_ID{1024, 7}));
    EXPECT_FALSE(third->GetTwoSided());

    // Children, parents, objects that are not renderable or absent.
    ASSERT_EQ(box->NumberOfChildren(), 2);
    INode* helper = box->GetChildNode(0);
    EXPECT_EQ(helper->GetName(), "Helper \xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(helper->GetParentNode(), box);
    EXPECT_EQ(helper->GetMtl(), nullptr);
    ASSERT_NE(helper->EvalWorldState(0), nullptr);
    EXPECT_FALSE(helper->EvalWorldState(0)->IsRenderable());
    INode* second = box->GetChildNode(1);
    EXPECT_EQ(second->EvalWorldState(0), nullptr);
    EXPECT_EQ(second->GetMtl(), third);
    EXPECT_EQ(second->GetNodeTM(0).GetFlags() & host::POS_IDENT, host::POS_IDENT);

    INode* mover = At(*s, {1});
    EXPECT_EQ(mover->GetParentNode(), s->GetRootNode());
    EXPECT_EQ(mover->GetNodeTM(100), Rows({2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {1, 2, 3}));
}

TEST(JsonScene, BitmapByClassWordsKeepsItsFile) {
    auto s = Parse(R"({"qsxScene":1,"maps":[{"file":"a\\b\"c","classId":[576,0]}],
        "materials":[{"class":"standard","diffuseMap":{"map":0}}],"nodes":[{"name":"n","material":0}]})");
    ASSERT_TRUE(s);
    host::Texmap* t = At(*s, {0})->GetMtl()->GetSubTexmap(host::ID_DI);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetMapName(), "a\\b\"c");
    EXPECT_FALSE(At(*s, {0})->GetMtl()->MapEnabled(host::ID_DI));
}

TEST(JsonScene, KeysAreHeldNotInterpolated) {
    auto s = Parse(Node(R"("transform":[[9,9,9],[9,9,9],[9,9,9],[9,9,9]],"keys":[
        {"time":-100,"transform":[[1,0,0],[0,1,0],[0,0,1],[1,0,0]]},
        {"time":0,"transform":[[1,0,0],[0,1,0],[0,0,1],[2,0,0]]},
        {"time":160,"transform":[[1,0,0],[0,1,0],[0,0,1],[0,0,0]]}])"));
    ASSERT_TRUE(s);
    INode* n = At(*s, {0});
    struct Row {
        host::TimeValue t;
        float x;  // translation x of the key in force
    } rows[] = {{INT32_MIN, 1}, {-101, 1}, {-100, 1}, {-99, 1}, {-1, 1}, {0, 2},
                {1, 2},         {159, 2},  {160, 0},  {161, 0}, {INT32_MAX, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.t);
        const Matrix3 tm = n->GetNodeTM(r.t);
        EXPECT_EQ(tm.GetTrans(), (Point3{r.x, 0, 0}));
        EXPECT_EQ(tm.GetFlags() & host::POS_IDENT, r.x == 0 ? host::POS_IDENT : 0u);
    }
    // An empty list has nothing to replace the transform with.
    auto e = Parse(Node(R"("transform":[[1,0,0],[0,1,0],[0,0,1],[4,5,6]],"keys":[])"));
    ASSERT_TRUE(e);
    EXPECT_EQ(At(*e, {0})->GetNodeTM(0).GetTrans(), (Point3{4, 5, 6}));
}

TEST(JsonScene, DeformedBoundingBoxCoversEveryVertexUnderTheMatrix) {
    auto s = Parse(R"({"qsxScene":1,"nodes":[
        {"name":"used","object":{"mesh":{"vertices":[[0,0,0],[1,2,3],[-4,0.5,1]],"faces":[[0,1,1]]}}},
        {"name":"empty","object":{"mesh":{}}},
        {"name":"hidden","object":{"renderable":false,"mesh":{"vertices":[[100,100,100]]}}}]})");
    ASSERT_TRUE(s);
    const Matrix3 swapScale = Rows({0, 2, 0}, {1, 0, 0}, {0, 0, -1}, {10, 0, 0});
    struct Row {
        const char* what;
        int node;
        const Matrix3* tm;
        bool startEmpty;
        Point3 min, max;
    } rows[] = {
        // (x,y,z) -> (y + 10, 2x, -z): (0,0,0)->(10,0,0), (1,2,3)->(12,2,-3), (-4,.5,1)->(10.5,-8,-1)
        {"matrix, unused vertex counts", 0, &swapScale, true, {10, -8, -3}, {12, 2, 0}},
        {"no matrix", 0, nullptr, true, {-4, 0, 0}, {1, 2, 3}},
        {"box given is extended", 0, nullptr, false, {-50, -50, -50}, {1, 2, 3}},
        {"empty mesh leaves box", 1, &swapScale, false, {-50, -50, -50}, {-40, -40, -40}},
        {"ignored mesh leaves box", 2, nullptr, false, {-50, -50, -50}, {-40, -40, -40}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        host::Box3 box;
        if (!r.startEmpty) {
            box += Point3{-50, -50, -50};
            box += Point3{-40, -40, -40};
        }
        At(*s, {r.node})->EvalWorldState(0)->GetDeformBBox(0, box, r.tm, 0);
        EXPECT_EQ(box.pmin, r.min);
        EXPECT_EQ(box.pmax, r.max);
    }
    host::Box3 untouched;
    At(*s, {1})->EvalWorldState(0)->GetDeformBBox(0, untouched, &swapScale, 0);
    EXPECT_TRUE(untouched.IsEmpty());
}

TEST(JsonScene, SameIndexIsSameObject) {
    auto s = Parse(R"({"qsxScene":1,"maps":[{"class":"bitmap","file":"x"}],
        "materials":[{"class":"multi","subs":[0,1,1,null]},
                     {"class":"standard","diffuseMap":{"map":0},"opacityMap":{"map":0}}],
        "nodes":[{"name":"a","material":0},{"name":"b","material":1,"children":[{"name":"c","material":1}]}]})");
    ASSERT_TRUE(s);
    host::Mtl* multi = At(*s, {0})->GetMtl();
    host::Mtl* stdm = At(*s, {1})->GetMtl();
    ASSERT_NE(multi, nullptr);
    ASSERT_NE(stdm, nullptr);
    EXPECT_NE(multi, stdm);
    EXPECT_EQ(multi->GetSubMtl(0), multi);  // refers to itself
    EXPECT_EQ(multi->GetSubMtl(1), stdm);
    EXPECT_EQ(multi->GetSubMtl(2), stdm);
    EXPECT_EQ(multi->GetSubMtl(3), nullptr);
    EXPECT_EQ(multi->GetSubMtl(4), nullptr);
    EXPECT_EQ(multi->GetSubMtl(-1), nullptr);
    EXPECT_EQ(At(*s, {1, 0})->GetMtl(), stdm);
    EXPECT_EQ(stdm->GetSubTexmap(host::ID_DI), stdm->GetSubTexmap(host::ID_OP));
    EXPECT_NE(stdm->GetSubTexmap(host::ID_DI), nullptr);
    EXPECT_EQ(s->Stats().materials, 2);
}

TEST(JsonScene, NumbersRoundOnceToNearestFloat) {
    struct Row {
        const char* text;
        float want;
    } rows[] = {
        {"0.1", 0.1f},
        {"-2.5e-3", -2.5e-3f},
        {"16777217", 16777216.0f},  // halfway, ties to even
        {"16777219", 16777220.0f},  // halfway, ties to even
        // Just above halfway between 1 and the next float: the nearest double is the
        // halfway point itself, so going through double would give 1.
        {"1.00000005960464477539062500001", std::nextafter(1.0f, 2.0f)},
        {"1.000000059604644775390625", 1.0f},  // exactly halfway: ties to even
        {"1e-50", 0.0f},
        {"1.4e-45", std::numeric_limits<float>::denorm_min()},
        {"3.4028235e38", FLT_MAX},
        {"-3.4028235677973366e38", -FLT_MAX},  // just below halfway to overflow
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        auto s = Parse(MeshDoc(std::string(R"({"vertices":[[)") + r.text + ",0,0]]}"));
        ASSERT_TRUE(s);
        const float got = At(*s, {0})->EvalWorldState(0)->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh().verts[0].x;
        EXPECT_EQ(got, r.want);
    }
    auto z = Parse(MeshDoc(R"({"vertices":[[-0.0,0,0]]})"));
    ASSERT_TRUE(z);
    EXPECT_TRUE(std::signbit(At(*z, {0})->EvalWorldState(0)->ConvertToType(0, {})->GetMesh().verts[0].x));
}

// The scan of list numbers gives what std::from_chars gives, or leaves the
// text to the parser: on cases near a float's halfway points, and on random
// decimals of every length and exponent.
TEST(JsonScene, ListNumbersScanAsFromChars) {
    std::vector<std::string> texts = {
        "0", "-0", "0.0", "1", "16777216", "16777217", "16777219", "3.781702", "0.37246513", "2.326829e-16",
        "1.0000000596046448", "1.0000000596046447",
        // Nearest to a double that lies halfway between two floats, on either side of it.
        "4.014026880264282", "9.53559547662735e-01", "5.336968004703522e-1", "8.450503158569336e+01", "1.000000059604644775390625", "-1.0000000596046448e3",
        "1.00000005960464477539062500001", "3.4028235e38", "3.4028236e38", "1e39", "1e-50", "1.4e-45",
        "1234567890123456789", "12345678901234567890", "9007199254740993", "0.000000000000000000000001",
        "01", "1.", ".5", "-", "+1", "1e", "1e+", "-01", "1.5x", "1.5.2", "--1", "0x1",
        // Bytes just either side of the digits', after digits read 8 at a time or fewer.
        "12:", "1.25/", "123456789:", "0.123456789/", "\x80" "1", "7\xB9"};
    // JSON's number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    const auto isJsonNumber = [](std::string_view t) {
        size_t i = 0;
        const auto digits = [&] {
            const size_t from = i;
            while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
            return i > from;
        };
        if (i < t.size() && t[i] == '-') ++i;
        if (i < t.size() && t[i] == '0') ++i;
        else if (!(i < t.size() && t[i] >= '1' && t[i] <= '9') || !digits()) return false;
        if (i < t.size() && t[i] == '.' && (++i, !digits())) return false;
        if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
            ++i;
            if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
            if (!digits()) return false;
        }
        return i == t.size();
    };
    std::mt19937_64 random(27);
    for (int i = 0; i < 20000; ++i) {
        std::string digits = std::to_string(random() >> (random() % 64));
        const size_t point = random() % (digits.size() + 1);
        if (point < digits.size()) digits.insert(point, 1, '.');
        if (digits.front() == '.') digits.insert(0, 1, '0');
        if (random() % 2) digits += "e" + std::to_string(static_cast<int>(random() % 61) - 30);
        texts.push_back((random() % 2 ? "-" : "") + digits);
    }
    for (const std::string& t : texts) {
        SCOPED_TRACE(t);
        const std::string listed = t + ",";  // as in a list, with the zero byte after
        float want = 0, got = 0;
        const auto r = std::from_chars(t.data(), t.data() + t.size(), want);
        // Taken when JSON's grammar has it and its value is a float; otherwise left to the parser.
        const bool valid = isJsonNumber(t) && r.ec == std::errc();
        const char* end = qsxhost::json::ScanFloat(listed.c_str(), got);
        // The same with room to read 8 bytes at a time, as in a window's text.
        const std::string padded = listed + std::string(8, '\0');
        float gotWide = 0;
        const char* endWide = qsxhost::json::ScanFloat(padded.c_str(), gotWide, padded.c_str() + padded.size());
        if (!valid) {
            EXPECT_EQ(end, nullptr);
            EXPECT_EQ(endWide, nullptr);
            continue;
        }
        ASSERT_EQ(end, listed.c_str() + t.size());
        ASSERT_EQ(endWide, padded.c_str() + t.size());
        EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(want)) << got << " != " << want;
        EXPECT_EQ(std::bit_cast<uint32_t>(gotWide), std::bit_cast<uint32_t>(want)) << gotWide << " != " << want;
    }
}

TEST(JsonScene, IntegersAcceptedAtTheirLimits) {
    auto s = Parse(R"({"qsxScene":1,"animation":{"start":-2147483648,"end":2147483647,"ticksPerFrame":1},
        "maps":[{"classId":[4294967295,0]}],
        "nodes":[{"name":"n","keys":[{"time":-0}],"object":{"mesh":{
            "vertices":[[0,0,0]],"faces":[[0,0,0]],"materialIds":[65535],"smoothing":[4294967295]}}}]})");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->GetAnimRange().start, INT32_MIN);
    EXPECT_EQ(s->GetAnimRange().end, INT32_MAX);
    EXPECT_EQ(s->GetTicksPerFrame(), 1);
}

TEST(JsonScene, NotRenderableMeshIsIgnoredWhereverItStands) {
    const char* docs[] = {
        R"({"renderable":false,"mesh":{"vertices":[[0,0,0]],"faces":[[0,0,7]]}})",
        R"({"mesh":{"vertices":[[0,0,0]],"faces":[[0,0,7]]},"renderable":false})",
        R"({"mesh":{"faces":[[0,0,7]],"vertices":"wrong"},"renderable":false})",
        R"({"mesh":{"vertices":[[1,2,3]]},"renderable":false})",
    };
    for (const char* obj : docs) {
        SCOPED_TRACE(obj);
        auto s = Parse(Node(std::string(R"("object":)") + obj));
        ASSERT_TRUE(s);
        host::Object* o = At(*s, {0})->EvalWorldState(0);
        ASSERT_NE(o, nullptr);
        EXPECT_FALSE(o->IsRenderable());
        EXPECT_EQ(o->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh().getNumVerts(), 0);
        EXPECT_EQ(s->Stats().meshes, 0);
        EXPECT_EQ(s->Stats().vertices, 0);
    }
    // The same faulty mesh is refused when renderable, whichever member comes first.
    for (const char* obj : {R"({"mesh":{"vertices":[[0,0,0]],"faces":[[0,0,7]]},"renderable":true})",
                            R"({"renderable":true,"mesh":{"vertices":[[0,0,0]],"faces":[[0,0,7]]}})",
                            R"({"mesh":{"faces":[[0,0,7]],"vertices":[[0,0,0]]}})"}) {
        SCOPED_TRACE(obj);
        EXPECT_EQ(RefusedWith(Node(std::string(R"("object":)") + obj)),
                  "nodes[0].object.mesh.faces[0]: vertex index 7 out of range (mesh has 1 vertex)");
    }
    // Ignored, but still JSON.
    const std::string error = RefusedWith(Node(R"("object":{"renderable":false,"mesh":[1 2]})"));
    EXPECT_NE(error.find("invalid JSON"), std::string::npos) << error;
}

TEST(JsonScene, StatsCountRenderableMeshes) {
    auto s = Parse(R"({"qsxScene":1,"materials":[{"classId":[1,1]}],"nodes":[
        {"name":"a","object":{"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0]],"faces":[[0,1,2]]}},
         "children":[{"name":"b","object":{"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0],[1,1,1]],"faces":[[0,1,2],[1,2,3]]}}},
                     {"name":"c","object":{"renderable":false}}]},
        {"name":"d"}]})");
    ASSERT_TRUE(s);
    const qsxhost::SceneStats st = s->Stats();
    EXPECT_EQ(st.nodes, 4);
    EXPECT_EQ(st.meshes, 2);
    EXPECT_EQ(st.vertices, 7);
    EXPECT_EQ(st.faces, 3);
    EXPECT_EQ(st.materials, 1);
}

// Each row: a document, the place the message must name, and what it must say.
struct Refusal {
    std::string doc;
    std::string place;
    std::string fault;
};

std::vector<Refusal> Refusals() {
    std::string face17 = R"({"vertices":[[0,0,0],[1,0,0],[0,1,0],[1,1,0]],"faces":[)";
    for (int i = 0; i < 17; ++i) face17 += "[0,1,2],";
    face17 += "[0,9,2]]}";
    const std::string three = R"("vertices":[[0,0,0],[1,0,0],[0,1,0]])";
    const std::string twoFaces = three + R"(,"faces":[[0,1,2],[2,1,0]])";
    return {
        // Not JSON, not a scene, wrong version.
        {"", "document", "invalid JSON"},
        {"{", "document", "invalid JSON"},
        {R"({"qsxScene":1,})", "document", "invalid JSON"},
        {R"({"qsxScene":1,"extra":[1 2]})", "extra", "invalid JSON"},
        {R"({"qsxScene":1,"extra":{"a":[tru]}})", "extra", "invalid JSON"},
        {R"({"qsxScene":1,"extra":{"a":nul}})", "extra", "invalid JSON"},
        {R"({"qsxScene":1,"extra":01})", "extra", "invalid JSON"},
        {R"({"qsxScene":1,"extra":"\x"})", "extra", "invalid JSON"},
        {"{\"qsxScene\":1,\"extra\":\"\xff\"}", "document", "invalid JSON"},
        {"{\"qsxScene\":1,\"extra\":\"\xF0", "document", "invalid JSON"},  // a lead byte ends the text
        {"[1]", "document", "expected an object, found an array"},
        {"{}", "qsxScene", "member missing"},
        {R"({"nodes":[]})", "qsxScene", "member missing"},
        {R"({"qsxScene":2})", "qsxScene", "unsupported version 2"},
        {R"({"qsxScene":"1"})", "qsxScene", "expected an integer, found a string"},
        {R"({"qsxScene":1.0})", "qsxScene", "expected an integer, found 1.0"},
        {R"({"qsxScene":1,"qsxScene":1})", "document", "member \"qsxScene\" appears twice"},
        {R"({"nodes":[{"name":5}],"qsxScene":2})", "qsxScene", "unsupported version 2"},
        {"\xEF\xBB\xBF{\"qsxScene\":1,\"extra\":[1 2]}", "extra", "invalid JSON at byte 28"},
        {"{\"qsxScene\":1,\"nodes\":[{\"name\":5}],\"x\":\"\xff\"}", "document", "UTF-8"},
        // Animation.
        {R"({"qsxScene":1,"animation":null})", "animation", "expected an object, found null"},
        {R"({"qsxScene":1,"animation":{"start":1.5}})", "animation.start", "expected an integer, found 1.5"},
        {R"({"qsxScene":1,"animation":{"end":2147483648}})", "animation.end", "integer 2147483648 out of range"},
        {R"({"qsxScene":1,"animation":{"start":-2147483649}})", "animation.start", "out of range"},
        {R"({"qsxScene":1,"animation":{"start":1e2}})", "animation.start", "expected an integer, found 1e2"},
        {R"({"qsxScene":1,"animation":{"ticksPerFrame":0}})", "animation.ticksPerFrame", "must be above 0"},
        {R"({"qsxScene":1,"animation":{"ticksPerFrame":-160}})", "animation.ticksPerFrame", "must be above 0"},
        {R"({"qsxScene":1,"animation":{"start":10,"end":5}})", "animation.end", "before the start"},
        // Maps.
        {R"({"qsxScene":1,"maps":{}})", "maps", "expected an array, found an object"},
        {R"({"qsxScene":1,"maps":[{"class":"bitmap"},{}]})", "maps[1]", "needs a \"class\" or a \"classId\""},
        {R"({"qsxScene":1,"maps":[{"class":"standard"}]})", "maps[0].class", "unknown map class \"standard\""},
        {R"({"qsxScene":1,"maps":[{"classId":[1,-1]}]})", "maps[0].classId[1]", "out of range"},
        {R"({"qsxScene":1,"maps":[{"classId":[1,4294967296]}]})", "maps[0].classId[1]", "out of range"},
        {R"({"qsxScene":1,"maps":[{"classId":[1,2,3]}]})", "maps[0].classId", "expected 2 class words, found 3"},
        {R"({"qsxScene":1,"maps":[{"class":"bitmap","classId":[7,0]}]})", "maps[0].classId", "disagrees"},
        {R"({"qsxScene":1,"maps":[{"class":"bitmap","file":5}]})", "maps[0].file", "expected a string"},
        {R"({"qsxScene":1,"maps":[{"class":"bitmap","file":"a\u0000b.tga"}]})", "maps[0].file", "NUL"},
        // Materials.
        {R"({"qsxScene":1,"materials":[{"class":"standard","twoSided":1}]})", "materials[0].twoSided",
         "expected a boolean, found a number"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","wire":"no"}]})", "materials[0].wire", "expected a boolean"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","shading":1.5}]})", "materials[0].shading",
         "expected an integer"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","opacity":"x"}]})", "materials[0].opacity",
         "expected a number, found a string"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","diffuse":[1,2]}]})", "materials[0].diffuse",
         "expected 3 numbers, found 2"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","ambient":[1,2,3,4]}]})", "materials[0].ambient",
         "expected 3 numbers, found 4"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","specular":[1,null,3]}]})", "materials[0].specular[1]",
         "expected a number, found null"},
        {R"({"qsxScene":1,"maps":[{"class":"bitmap"}],"materials":[{"class":"standard","diffuseMap":{"map":1}}]})",
         "materials[0].diffuseMap.map", "map index 1 out of range (the scene has 1 map)"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","opacityMap":{"map":0}}]})", "materials[0].opacityMap.map",
         "map index 0 out of range (the scene has 0 maps)"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","opacityMap":{"enabled":null}}]})",
         "materials[0].opacityMap.enabled", "expected a boolean, found null"},
        {R"({"qsxScene":1,"materials":[{"class":"standard","diffuseMap":null}]})", "materials[0].diffuseMap",
         "expected an object, found null"},
        {R"({"qsxScene":1,"materials":[{"class":"standard"},{"class":"multi","subs":[0,null,5]}]})",
         "materials[1].subs[2]", "material index 5 out of range (the scene has 2 materials)"},
        {R"({"qsxScene":1,"materials":[{"class":"multi","subs":[-1]}]})", "materials[0].subs[0]",
         "material index -1 out of range"},
        {R"({"qsxScene":1,"materials":[{"class":"multi","subs":0}]})", "materials[0].subs", "expected an array"},
        {R"({"qsxScene":1,"materials":[{"class":"phong"}]})", "materials[0].class", "unknown material class"},
        {R"({"materials":[{"diffuse":[1,2],"class":"standard"}],"qsxScene":1})", "materials[0].diffuse",
         "expected 3 numbers, found 2"},
        // Nodes.
        {R"({"qsxScene":1,"nodes":[{"name":"a"},{"children":[]}]})", "nodes[1]", "missing member \"name\""},
        {R"({"qsxScene":1,"nodes":[{"name":"a\u0000b"}]})", "nodes[0].name", "NUL"},
        {R"({"qsxScene":1,"nodes":[{"name":"a","children":[{"name":"b"},{"name":5}]}]})", "nodes[0].children[1].name",
         "expected a string, found a number"},
        {R"({"qsxScene":1,"nodes":[{"name":"a","children":[{"name":"b","children":[{}]}]}]})",
         "nodes[0].children[0].children[0]", "missing member \"name\""},
        {R"({"qsxScene":1,"nodes":[{"name":"a","children":[5]}]})", "nodes[0].children[0]",
         "expected an object, found a number"},
        {R"({"qsxScene":1,"nodes":[{"name":"a","name":"b"}]})", "nodes[0]", "member \"name\" appears twice"},
        {Node(R"("transform":[[1,0,0],[0,1,0],[0,0,1]])"), "nodes[0].transform", "expected 4 rows, found 3"},
        {Node(R"("transform":[[1,0,0],["a",1,0],[0,0,1],[0,0,0]])"), "nodes[0].transform[1][0]",
         "expected a number, found a string"},
        {Node(R"("offsetPosition":"here")"), "nodes[0].offsetPosition", "expected an array"},
        {Node(R"("offsetRotation":[0,0,0])"), "nodes[0].offsetRotation", "expected 4 numbers, found 3"},
        {Node(R"("offsetRotation":[0,0,0,0])"), "nodes[0].offsetRotation", "zero quaternion"},
        {Node(R"("offsetRotation":[0,-0.0,1e-60,0])"), "nodes[0].offsetRotation", "zero quaternion"},
        {Node(R"("material":0)"), "nodes[0].material", "material index 0 out of range (the scene has 0 materials)"},
        {Node(R"("material":"0")"), "nodes[0].material", "expected an integer, found a string"},
        {Node(R"("object":5)"), "nodes[0].object", "expected an object, found a number"},
        {Node(R"("object":{"renderable":"yes","mesh":{}})"), "nodes[0].object.renderable", "expected a boolean"},
        {Node(R"("object":{"renderable":true})"), "nodes[0].object", "missing member \"mesh\""},
        {Node(R"("object":{"mesh":null})"), "nodes[0].object.mesh", "expected an object, found null"},
        // Keys.
        {Node(R"("keys":{})"), "nodes[0].keys", "expected an array"},
        {Node(R"("keys":[{"time":5},{"time":4}])"), "nodes[0].keys[1].time", "out of time order"},
        {Node(R"("keys":[{"time":5},{"time":5}])"), "nodes[0].keys[1].time", "out of time order"},
        {Node(R"("keys":[{"time":1.5}])"), "nodes[0].keys[0].time", "expected an integer, found 1.5"},
        {Node(R"("keys":[{"time":2147483648}])"), "nodes[0].keys[0].time", "out of range"},
        {Node(R"("keys":[{"transform":[[1,0,0],[0,1,0],[0,0,1],[0,0,0]]}])"), "nodes[0].keys[0]",
         "missing member \"time\""},
        {R"({"qsxScene":1,"nodes":[{"name":"a","children":[{"name":"b"},{"name":"c"},{"name":"d"},
            {"name":"e","keys":[{"time":0},{"time":"1"}]}]}]})",
         "nodes[0].children[3].keys[1].time", "expected an integer, found a string"},
        // Meshes.
        {R"({"qsxScene":1,"nodes":[{"name":"a"},{"name":"b"},{"name":"c","object":{"mesh":)" + face17 + "}}]}",
         "nodes[2].object.mesh.faces[17]", "vertex index 9 out of range (mesh has 4 vertices)"},
        {MeshDoc(R"({"faces":[[0,1,2],[0,1,3]],)" + three + "}"), "nodes[0].object.mesh.faces[1]",
         "vertex index 3 out of range (mesh has 3 vertices)"},
        {MeshDoc(R"({"faces":[[0,1,2]]})"), "nodes[0].object.mesh.faces[0]", "vertex index 0 out of range (mesh has 0 vertices)"},
        {MeshDoc("{" + three + R"(,"faces":[[0,-1,2]]})"), "nodes[0].object.mesh.faces[0]",
         "vertex index -1 out of range"},
        {MeshDoc("{" + three + R"(,"faces":[[0,4294967296,2]]})"), "nodes[0].object.mesh.faces[0]", "out of range"},
        {MeshDoc("{" + three + R"(,"faces":[[0,1]]})"), "nodes[0].object.mesh.faces[0]", "expected 3 indices, found 2"},
        {MeshDoc("{" + three + R"(,"faces":[[0,1.0,2]]})"), "nodes[0].object.mesh.faces[0][1]",
         "expected an integer, found 1.0"},
        {MeshDoc("{" + three + R"(,"faces":[0,1,2]})"), "nodes[0].object.mesh.faces[0]", "expected an array"},
        {MeshDoc(R"({"vertices":[[0,0,0],[1,0]]})"), "nodes[0].object.mesh.vertices[1]", "expected 3 numbers, found 2"},
        {MeshDoc(R"({"vertices":[[0,0,1e39]]})"), "nodes[0].object.mesh.vertices[0][2]",
         "out of the range of a 32-bit float"},
        {MeshDoc(R"({"vertices":[[0,0,3.4028236e38]]})"), "nodes[0].object.mesh.vertices[0][2]",
         "out of the range of a 32-bit float"},
        {MeshDoc(R"({"vertices":[[0,0,1e400]]})"), "nodes[0].object.mesh.vertices[0][2]", "invalid JSON"},
        {MeshDoc(R"({"tverts":[[0]]})"), "nodes[0].object.mesh.tverts[0]", "expected 2 or 3 numbers, found 1"},
        {MeshDoc(R"({"tverts":[[0,1,2,3]]})"), "nodes[0].object.mesh.tverts[0]", "expected 2 or 3 numbers, found 4"},
        {MeshDoc("{" + twoFaces + R"(,"tverts":[[0,0],[1,0],[0,1]],"tfaces":[[0,1,2],[0,1,3]]})"),
         "nodes[0].object.mesh.tfaces[1]", "texture vertex index 3 out of range (mesh has 3 texture vertices)"},
        {MeshDoc(R"({"tfaces":[[0,1,2],[0,1,3]],"tverts":[[0,0],[1,0],[0,1]],)" + twoFaces + "}"),
         "nodes[0].object.mesh.tfaces[1]", "texture vertex index 3 out of range (mesh has 3 texture vertices)"},
        {MeshDoc("{" + twoFaces + R"(,"tverts":[[0,0],[1,0],[0,1]],"tfaces":[[0,1,2]]})"), "nodes[0].object.mesh.tfaces",
         "has 1 entry but the mesh has 2 faces"},
        {MeshDoc("{" + twoFaces + R"(,"tfaces":[]})"), "nodes[0].object.mesh.tfaces", "has 0 entries but the mesh has 2"},
        {MeshDoc("{" + twoFaces + R"(,"materialIds":[1,2,3]})"), "nodes[0].object.mesh.materialIds",
         "has 3 entries but the mesh has 2 faces"},
        {MeshDoc(R"({"materialIds":[0],)" + twoFaces + "}"), "nodes[0].object.mesh.materialIds",
         "has 1 entry but the mesh has 2 faces"},
        {MeshDoc("{" + twoFaces + R"(,"smoothing":[1]})"), "nodes[0].object.mesh.smoothing",
         "has 1 entry but the mesh has 2 faces"},
        {MeshDoc("{" + twoFaces + R"(,"materialIds":[0,65536]})"), "nodes[0].object.mesh.materialIds[1]",
         "integer 65536 out of range (0 to 65535)"},
        {MeshDoc("{" + twoFaces + R"(,"materialIds":[-1,0]})"), "nodes[0].object.mesh.materialIds[0]", "out of range"},
        {MeshDoc("{" + twoFaces + R"(,"smoothing":[0,4294967296]})"), "nodes[0].object.mesh.smoothing[1]",
         "integer 4294967296 out of range (0 to 4294967295)"},
        {MeshDoc("{" + twoFaces + R"(,"smoothing":[0.5,0]})"), "nodes[0].object.mesh.smoothing[0]",
         "expected an integer"},
        {MeshDoc(R"({"vertices":[],"vertices":[]})"), "nodes[0].object.mesh", "member \"vertices\" appears twice"},
        // Lists read on by the parser after elements taken straight from the text.
        {MeshDoc(R"({"vertices":[[0,0,0],[1,0,0],]})"), "nodes[0].object.mesh.vertices[2]", "invalid JSON at byte 81"},
        {MeshDoc(R"({"vertices":[[0,0,0], [1,0,0] ,[0,0,1e39]]})"), "nodes[0].object.mesh.vertices[2][2]",
         "out of the range of a 32-bit float"},
        {MeshDoc("{" + three + R"(,"faces":[[0,1,2],[0,1,2],[0,01,2]]})"), "nodes[0].object.mesh.faces[2][1]",
         "invalid JSON at byte 119: missing a comma"},
        {MeshDoc("{" + twoFaces + R"(,"materialIds":[0,1,]})"), "nodes[0].object.mesh.materialIds[2]", "invalid JSON"},
        {MeshDoc("{" + twoFaces + R"(,"smoothing":[0 , 1, -1]})"), "nodes[0].object.mesh.smoothing[2]", "out of range"},
        // Member names are compared unescaped.
        {R"({"qsxScene":1,"nodes":[{"name":"a","n\u0061me":"b"}]})", "nodes[0]", "member \"name\" appears twice"},
        {MeshDoc(R"({"faces":[],"fa\u0063es":[]})"), "nodes[0].object.mesh", "member \"faces\" appears twice"},
        {R"({"qsxScene":1,"nodes":[{"name":"a","children":[{"n\u0061me":5}]}]})", "nodes[0].children[0].name",
         "expected a string"},
        {R"({"qsxScene":1,"\x":1})", "document", "invalid JSON"},
        {R"({"qsxScene":1,"nodes":[{"name":"a","\x":1}]})", "nodes[0]", "invalid JSON"},
    };
}

TEST(JsonScene, RefusalsNameThePlaceAndTheFault) {
    for (const Refusal& r : Refusals()) {
        SCOPED_TRACE(r.doc);
        const std::string error = RefusedWith(r.doc);
        // "<place>: <what>", the place given whole.
        EXPECT_EQ(error.rfind(r.place + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(r.fault, r.place.size()), std::string::npos) << error;
    }
}

TEST(JsonScene, InvalidJsonGivesAByteOffset) {
    const struct {
        std::string doc, message;  // message: whole, or its start when it ends in ": "
    } cases[] = {
        {R"({"qsxScene":1,"extra":[1 2]})", "extra: invalid JSON at byte 25: "},
        {R"({"qsxScene":1} {})", "unexpected text after the document at byte 15"},
        {"{\"qsxScene\":1}\r\n x", "unexpected text after the document at byte 17"},
        {"\xEF\xBB\xBF{\"qsxScene\":1}]", "unexpected text after the document at byte 17"},
        {std::string("{\"qsxScene\":1} \0", 16), "unexpected text after the document at byte 15"},
        // A fault inside the document comes first.
        {R"({"qsxScene":1,"nodes":7} x)", "nodes: expected an array, found a number"},
    };
    for (const auto& c : cases) {
        const std::string error = RefusedWith(c.doc);
        if (c.message.back() == ' ')
            EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
        else
            EXPECT_EQ(error, c.message);
    }
}

// The text read a few bytes at a time moves on at every place it can: what is
// read, refused or warned of is the same as when it is read in one piece.
TEST(JsonScene, ReadingInPiecesChangesNothing) {
    std::vector<std::string> docs = {
        "\xEF\xBB\xBF{\"qsxScene\":1}]", std::string("{\"qsxScene\":1} \0 \"x", 19), R"({"qsxScene":1,"x":truex})",
        R"({"qsxScene":1,"extra":[1 2], "s":"ab)", "{\"qsxScene\":1,\"a\":[1,\"b\x01\"],\"c\":\"\xC3\"}",
        R"({"qsxScene":1,"materials":[{"opacity":1e999,"class":"standard"}]})",
        R"({"qsxScene":1,"materials":[{"diffuse":[1,2,1e400],"class":"standard"}]})",
        R"({"qsxScene":1,"nodes":[{"x\"y":{"z":[[1,{"w":01}]]}}]})", R"({"qsxScene":1,"k\",[z":1})",
        R"({"nodes":[{"name":"a\\b\"","object":{"mesh":{"vertices":[[0,0,0]],"faces":[[0,0,7]]}}}],"qsxScene":1})",
        R"({"qsxScene":1,"maps":[{"file":"f\u00e9","class":"bitmap","zoom":[1]}],"materials":[{"class":"multi",
            "subs":[{"classId":[1,0],"diffuseMap":{"map":0,"more":{}}}]}],
            "nodes":[{"name":"n","material":0,"fa\u0063e":1,"object":{"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0]],
            "faces":[[0,1,2]],"uvs":[[0,0],[1,0],[0,1,0.5]],"uvFaces":[[0,1,2]]}}}]})",
    };
    // Members read straight from the text where they are plain, and given back
    // to the parser wherever they are not: every way a member can stop short.
    const std::string node = R"({"name":"a","transform":[[1,0,0],[0,1,0],[0,0,1],[4,5,6.5]],"material":0,
        "object":{"renderable":true,"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0]],"faces":[[0,1,2],[2,1,0]],
        "materialIds":[1,2],"smoothing":[3,4],"tverts":[[0,0],[1,0],[1,1,0.5]],"tfaces":[[0,1,2],[0,0,0]]}}})";
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {R"("a")", R"("a\u0062")"}, {R"("a")", "\"\xC3\xA9\""}, {R"("name")", R"("na\u006de")"},
             {R"(6.5]])", "6.5],[7,8,9]]"}, {R"(6.5]])", "6.5]]]"}, {R"([4,5,6.5])", "[4,5]"}, {"6.5", "1e99"},
             {R"(:0,)", R"(:01,)"}, {R"(:0,)", R"(:-1,)"}, {R"(:0,)", R"(:null,)"}, {R"(:0,)", R"(:0,"material":0,)"},
             {R"(:0,)", R"(:0,})"}, {"true", "truex"}, {"true", "false"}, {"true", "1"}, {R"([[0,1,2],[2)", R"([[0,1,3],[2)"},
             {R"([1,2])", R"([1,99999])"}, {R"([3,4])", R"([3,4,5])"}, {R"([3,4])", "[3 4]"}, {"[1,1,0.5]", "[1,1,0.5,1]"},
             {R"([0,0,0]]}})", R"([0,0,0]],}})"}, {R"([0,0,0]]}})", R"([0,0,0]] }})"}, {R"("faces")", R"("tfaces")"},
             {R"([[0,0,0],)", R"([[0,0,0] , )"}, {"[[0,1,2],[0,0,0]]", "[[0,1,2],[0,0,0]"}, {R"("tverts")", R"("uvs")"}}) {
        std::string doc = R"({"qsxScene":1,"materials":[{"class":"standard"}],"nodes":[)" + node + "," + node + "]}";
        if (!from.empty()) doc.replace(doc.rfind(from), from.size(), to);  // in the second node
        docs.push_back(doc);
    }
    for (const Refusal& r : Refusals()) docs.push_back(r.doc);
    // The values read, all but the floats' bits spelled out.
    auto digest = [](const qsxhost::json::JsonScene& scene) {
        std::string d;
        auto bits = [&](const Point3& p) {
            for (float f : {p.x, p.y, p.z}) d += std::to_string(std::bit_cast<uint32_t>(f)) + ' ';
        };
        for (const qsxhost::json::JsonNode& n : scene.nodes) {
            d += n.name + (n.mtl ? " m " : " - ");
            for (int r = 0; r < 4; ++r) bits(n.tm[r]);
            if (!n.object) continue;
            const host::Mesh& m = n.object->mesh;
            for (const Point3& p : m.verts) bits(p);
            for (const Point3& p : m.tVerts) bits(p);
            for (const host::Face& f : m.faces)
                for (uint32_t x : {f.v[0], f.v[1], f.v[2], f.smGroup, f.flags}) d += std::to_string(x) + ' ';
            for (const host::TVFace& f : m.tvFaces)
                for (uint32_t x : f.t) d += std::to_string(x) + ' ';
            d += n.object->renderable ? "r\n" : "-\n";
        }
        return d;
    };
    auto read = [&](const std::string& doc, size_t chunk) {
        qsxhost::json::TextWindow text(-1, doc, chunk);
        qsxhost::json::JsonScene scene;
        std::string error;
        std::vector<std::string> warnings;
        const bool ok = qsxhost::json::ReadDocument(scene, text, &error, &warnings);
        return std::make_tuple(ok, error, warnings, ok ? digest(scene) : std::string());
    };
    for (const std::string& doc : docs) {
        SCOPED_TRACE(doc);
        const auto whole = read(doc, size_t{1} << 20);
        for (size_t chunk : {1, 2, 3, 5, 16}) EXPECT_EQ(read(doc, chunk), whole) << "read " << chunk << " at a time";
    }
}

TEST(JsonScene, UnknownMembersAreIgnoredEverywhere) {
    qsxhost::SceneRead read = FromText(R"({"qsxScene":1,"future":{"x":[1,{"y":null}]},"_note":{"z":1},
        "animation":{"ticksPerFrame":10,"rate":"x"},
        "maps":[{"class":"bitmap","file":"f","tiling":[1,1]},{"classId":[7,0],"file":"g"}],
        "materials":[{"class":"standard","gloss":0.5,"diffuseMap":{"map":0,"amount":100,"_by":"tool"}},
                     {"class":"multi","subs":[],"names":["a"],"diffuse":[1,1,1]},{"classId":[5,5],"shading":"anything"}],
        "nodes":[{"name":"a","layer":"0","material":0,"object":{"kind":"box","mesh":{"normals":[[0,0,1]],
            "vertices":[[0,0,0]]}},"keys":[{"time":0,"ease":1}]},
          {"name":"b","Keys":[],"_x":1,"object":{"mesh":{"uvs":[]},"renderable":false}},
          {"name":"c","object":{"renderable":false,"mesh":{"uvs":[]}}}]})");
    ASSERT_TRUE(read.scene) << read.error;
    const std::unique_ptr<qsxhost::SceneSource> s = std::move(read.scene);
    // Each once, named by the object holding it; notes ("_...") and members
    // of a mesh that is not read pass silently.
    EXPECT_EQ(read.warnings, (std::vector<std::string>{
                            R"(document: unknown member "future" ignored)",
                            R"(animation: unknown member "rate" ignored)",
                            R"(maps[0]: unknown member "tiling" ignored)",
                            R"(maps[1]: unknown member "file" ignored)",
                            R"(materials[0]: unknown member "gloss" ignored)",
                            R"(materials[0].diffuseMap: unknown member "amount" ignored)",
                            R"(materials[1]: unknown member "names" ignored)",
                            R"(materials[1]: unknown member "diffuse" ignored)",
                            R"(materials[2]: unknown member "shading" ignored)",
                            R"(nodes[0]: unknown member "layer" ignored)",
                            R"(nodes[0].object: unknown member "kind" ignored)",
                            R"(nodes[0].object.mesh: unknown member "normals" ignored)",
                            R"(nodes[0].keys[0]: unknown member "ease" ignored)",
                            R"(nodes[1]: unknown member "Keys" ignored)",
                        }));
    EXPECT_EQ(s->GetTicksPerFrame(), 10);
    EXPECT_EQ(s->Stats().vertices, 1);
    EXPECT_EQ(At(*s, {0})->GetMtl()->GetSubTexmap(host::ID_DI)->GetMapName(), "f");
}

TEST(JsonScene, TenThousandLevelsDeep) {
    constexpr int kDepth = 10'000;
    std::string doc = R"({"qsxScene":1,"nodes":[)";
    for (int i = 0; i < kDepth - 1; ++i) doc += R"({"name":"n)" + std::to_string(i) + R"(","children":[)";
    doc += R"({"name":"leaf","object":{"mesh":{"vertices":[[1,2,3]]}}})";
    for (int i = 0; i < kDepth - 1; ++i) doc += "]}";
    doc += "]}";
    auto s = Parse(doc);
    ASSERT_TRUE(s);
    int depth = 0;
    INode* n = s->GetRootNode();
    while (n->NumberOfChildren() > 0) {
        ASSERT_EQ(n->NumberOfChildren(), 1);
        INode* child = n->GetChildNode(0);
        ASSERT_EQ(child->GetParentNode(), n);
        n = child;
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(n->GetName(), "leaf");
    EXPECT_EQ(s->Stats().nodes, kDepth);
    EXPECT_EQ(s->Stats().meshes, 1);

    // A fault at the bottom is placed exactly.
    const size_t at = doc.find("[[1,2,3]]");
    std::string bad = doc;
    bad.replace(at, 9, "[[1,2]]");
    const std::string error = RefusedWith(bad);
    std::string place = "nodes[0]";
    for (int i = 1; i < kDepth; ++i) place += ".children[0]";
    EXPECT_EQ(error, place + ".object.mesh.vertices[0]: expected 3 numbers, found 2");

    // Unknown members nest as deep without harm.
    std::string deepArray = R"({"qsxScene":1,"x":)" + std::string(20'000, '[') + std::string(20'000, ']') + "}";
    EXPECT_TRUE(Parse(deepArray));
}

TEST(JsonScene, EscapedMemberNamesAreKnown) {
    auto s = Parse(R"({"qsxScene":1,"m\u0061terials":[{"class":"standard","opacity":0.5}],
        "nodes":[{"n\u0061me":"a","\u006fbject":{"mesh":{"vertic\u0065s":[[1,2,3]]}},"material":0,
                  "x\"y\\z":{"\u0000":[1]}}]})");
    ASSERT_TRUE(s);
    INode* a = At(*s, {0});
    EXPECT_EQ(a->GetName(), "a");
    EXPECT_EQ(s->Stats().vertices, 1);
    ASSERT_NE(a->GetMtl(), nullptr);
    EXPECT_EQ(a->GetMtl()->GetOpacity(0), 0.5f);
}

// Lists are gathered in storage kept from one mesh to the next (and given back
// when large): nothing of one mesh may show in the next.
TEST(JsonScene, MeshListsDoNotCarryOverToTheNextMesh) {
    constexpr int kBig = 100'000;  // more than is kept between meshes
    std::string verts, faces, ids, tverts;
    for (int i = 0; i < kBig; ++i) {
        const std::string n = std::to_string(i);
        verts += (i ? ",[" : "[") + n + ",1,2]";
        faces += (i ? ",[" : "[") + n + ",0," + n + "]";
        ids += (i ? "," : "") + std::to_string(i % 7);
        tverts += (i ? ",[" : "[") + n + ",0.5]";
    }
    const std::string big = R"({"vertices":[)" + verts + R"(],"faces":[)" + faces + R"(],"materialIds":[)" + ids +
                            R"(],"smoothing":[)" + ids + R"(],"tverts":[)" + tverts + R"(],"tfaces":[)" + faces + "]}";
    const std::string small = R"({"vertices":[[7,8,9],[1,1,1]],"faces":[[1,0,1]],"tverts":[[4,5]],"tfaces":[[0,0,0]]})";
    const std::string bare = R"({"faces":[[0,0,0]],"vertices":[[3,3,3]]})";
    auto s = Parse(R"({"qsxScene":1,"nodes":[{"name":"a","object":{"mesh":)" + small + R"(}},
        {"name":"b","object":{"mesh":)" + big + R"(}},{"name":"c","object":{"mesh":)" + small + R"(}},
        {"name":"d","object":{"mesh":)" + bare + "}}]}");
    ASSERT_TRUE(s);
    auto meshOf = [&](int i) -> const host::Mesh& {
        return At(*s, {i})->EvalWorldState(0)->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh();
    };
    const host::Mesh& b = meshOf(1);
    ASSERT_EQ(b.getNumVerts(), kBig);
    ASSERT_EQ(b.getNumFaces(), kBig);
    ASSERT_EQ(b.getNumTVerts(), kBig);
    EXPECT_EQ(b.verts[kBig - 1], (Point3{kBig - 1, 1, 2}));
    EXPECT_EQ(b.faces[kBig - 1].v[2], static_cast<uint32_t>(kBig - 1));
    EXPECT_EQ(b.faces[kBig - 1].getMatID(), (kBig - 1) % 7);
    EXPECT_EQ(b.faces[kBig - 1].smGroup, static_cast<uint32_t>((kBig - 1) % 7));
    EXPECT_EQ(b.tvFaces[kBig - 1].t[0], static_cast<uint32_t>(kBig - 1));
    for (int i : {0, 2}) {
        SCOPED_TRACE(i);
        const host::Mesh& m = meshOf(i);
        ASSERT_EQ(m.getNumVerts(), 2);
        EXPECT_EQ(m.verts[0], (Point3{7, 8, 9}));
        ASSERT_EQ(m.getNumFaces(), 1);
        EXPECT_EQ(m.faces[0].v[0], 1u);
        EXPECT_EQ(m.faces[0].flags, 0u);
        EXPECT_EQ(m.faces[0].smGroup, 0u);
        ASSERT_EQ(m.getNumTVerts(), 1);
        EXPECT_EQ(m.tVerts[0], (Point3{4, 5, 0}));
        ASSERT_EQ(m.tvFaces.size(), 1u);
    }
    const host::Mesh& d = meshOf(3);
    EXPECT_EQ(d.getNumVerts(), 1);
    EXPECT_EQ(d.getNumFaces(), 1);
    EXPECT_EQ(d.getNumTVerts(), 0);
    EXPECT_FALSE(d.hasTVFaces());
}

TEST(JsonScene, LongNameIsKept) {
    const std::string name(100'000, 'x');
    auto s = Parse(R"({"qsxScene":1,"nodes":[{"name":")" + name + R"("}]})");
    ASSERT_TRUE(s);
    EXPECT_EQ(At(*s, {0})->GetName(), name);
}

class JsonSceneFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qsx_json_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        rmdir((dir_ + "/sub").c_str());
        rmdir(dir_.c_str());
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        files_.push_back(path);
        return path;
    }
    std::string dir_;
    std::vector<std::string> files_;
};

TEST_F(JsonSceneFile, InputFaultsSayTheCause) {
    ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0700), 0);
    struct Row {
        std::string path;
        std::string error;
    } rows[] = {
        {dir_ + "/missing.json", "No such file or directory"},
        {dir_ + "/sub", "Is a directory"},
        {Write("empty.json", ""), "the file is empty"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(RefusedWith(FromPath(r.path)), r.error);
    }
    if (geteuid() != 0) {
        const std::string locked = Write("locked.json", R"({"qsxScene":1})");
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        EXPECT_EQ(RefusedWith(FromPath(locked)), "Permission denied");
    }
}

TEST_F(JsonSceneFile, FileFaultsArePlacedLikeBufferFaults) {
    const qsxhost::SceneRead ok = FromPath(Write("ok.json", "\n  " + Node(R"("material":null)") + "\n"));
    EXPECT_TRUE(ok.scene) << ok.error;
    EXPECT_EQ(RefusedWith(FromPath(Write("bad.json", Node(R"("material":3)")))),
              "nodes[0].material: material index 3 out of range (the scene has 0 materials)");
}

// A document of several megabytes (read on the parser's own thread), ending in a
// mesh met before its `renderable`: every source must read it to its end.
TEST_F(JsonSceneFile, LongDocumentsAreReadWholeFromEverySource) {
    constexpr int kFillers = 6000;
    std::string doc = R"({"qsxScene":1,"nodes":[)";
    for (int i = 0; i < kFillers; ++i) {
        doc += R"({"name":"f)" + std::to_string(i) + R"(","object":{"mesh":{"vertices":[)";
        for (int k = 0; k < 60; ++k) doc += (k ? ",[" : "[") + std::to_string(i) + "," + std::to_string(k) + ",0.25]";
        doc += R"(],"faces":[[0,1,2],[59,58,57]]}}},)";
    }
    ASSERT_GT(doc.size(), size_t{5} << 20);
    const std::string faulty = R"({"vertices":[[0,0,0]],"faces":[[0,0,7]]})";
    struct Row {
        const char* what;
        std::string late;   // the last node
        std::string error;  // empty: read
    } rows[] = {
        {"plain", R"({"name":"late"})", ""},
        {"faulty mesh, not renderable after it",
         R"({"name":"late","object":{"mesh":)" + faulty + R"(,"renderable":false}})", ""},
        {"faulty mesh, renderable after it", R"({"name":"late","object":{"mesh":)" + faulty + R"(,"renderable":true}})",
         "nodes[" + std::to_string(kFillers) + "].object.mesh.faces[0]: vertex index 7 out of range (mesh has 1 vertex)"},
    };
    for (const Row& r : rows) {
        const std::string text = doc + r.late + "]}";
        const std::string file = Write("long.json", text);
        const std::string fifo = dir_ + "/long.fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        files_.push_back(fifo);
        struct Source {
            const char* name;
            std::function<qsxhost::SceneRead()> load;
        } sources[] = {
            {"buffer", [&] { return FromText(text); }},
            {"file", [&] { return FromPath(file); }},
            {"pipe",
             [&] {
                 std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << text; });
                 qsxhost::SceneRead read = FromPath(fifo);
                 writer.join();
                 return read;
             }},
        };
        for (const Source& src : sources) {
            SCOPED_TRACE(std::string(r.what) + ", " + src.name);
            qsxhost::SceneRead read = src.load();
            if (!r.error.empty()) {
                EXPECT_EQ(RefusedWith(read), r.error);
                continue;
            }
            ASSERT_TRUE(read.scene) << read.error;
            const std::unique_ptr<qsxhost::SceneSource> s = std::move(read.scene);
            EXPECT_EQ(s->Stats().nodes, kFillers + 1);
            EXPECT_EQ(s->Stats().meshes, kFillers);
            EXPECT_EQ(s->Stats().vertices, kFillers * 60);
            for (int i : {0, kFillers / 2, kFillers - 1}) {
                INode* n = At(*s, {i});
                ASSERT_NE(n, nullptr);
                EXPECT_EQ(n->GetName(), "f" + std::to_string(i));
                const host::Mesh& m = n->EvalWorldState(0)->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh();
                ASSERT_EQ(m.getNumVerts(), 60);
                EXPECT_EQ(m.verts[59], (Point3{static_cast<float>(i), 59, 0.25f}));
                ASSERT_EQ(m.getNumFaces(), 2);
                EXPECT_EQ(m.faces[1].v[0], 59u);
            }
            INode* late = At(*s, {kFillers});
            ASSERT_NE(late, nullptr);
            EXPECT_EQ(late->GetName(), "late");
            host::Object* o = late->EvalWorldState(0);
            ASSERT_EQ(o != nullptr, r.late.find("object") != std::string::npos);
            if (o) {
                EXPECT_FALSE(o->IsRenderable());
            }
        }
        std::remove(fifo.c_str());
        files_.pop_back();
    }
}

TEST(JsonScene, LooksLikeJsonScene) {
    struct Row {
        std::string_view text;
        bool want;
    } rows[] = {
        {"{", true},   {" \t\r\n{\"qsxScene\":1}", true}, {"", false},           {"   \n", false},
        {"[", false},  {"\xEF\xBB\xBF{", true},           {"solid cube", false}, {std::string_view("\0{", 2), false},
        {"x{", false}, {"\xEF\xBB{", false},            {"\xEF\xBB\xBF\xEF\xBB\xBF{", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.text));
        EXPECT_EQ(qsxhost::LooksLikeJsonScene(r.text), r.want);
    }
}

}  // namespace
