// The script pass around each node: the four hierarchy modes, tags, hints,
// per-node files, and what the node writer hands to the mesh block.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>

#include "QsxExp/LineBuilder.h"
#include "tests/support/fake_scene.h"
#include "tests/support/three_nodes.h"

using fake::Lines;

namespace {

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(QSX_SOURCE_DIR) + "/tests/data/golden/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Trimmed(const std::string& line) {
    const size_t at = line.find_first_not_of(' ');
    return at == std::string::npos ? std::string() : line.substr(at);
}

using golden::MeshNode;
using golden::Triangle;

// The golden scene (tests/support/three_nodes.h) with its options.
void ThreeNodes(fake::Host& h) {
    golden::ThreeNodes(h.root);
    h.preset.scaleType = 1;
    h.preset.scaleFactor = 2;
    h.preset.centre = 0;
    h.preset.hints = 0;
}

std::set<std::string> Paths(const qsx::MemoryFileSystem& fs) {
    std::set<std::string> out;
    for (const auto& [path, text] : fs.files) out.insert(path);
    return out;
}

// "Tag" numbers and the names of the comment lines, over all files in path order.
std::vector<std::string> Written(const qsx::MemoryFileSystem& fs) {
    std::vector<std::string> out;
    for (const auto& [path, text] : fs.files)
        for (const std::string& l : Lines(text)) {
            const std::string t = Trimmed(l);
            if (t.rfind("Tag ", 0) == 0 || (t.rfind("# ", 0) == 0 && t.find("Output from") == std::string::npos))
                out.push_back(t);
        }
    return out;
}

TEST(WholeScript, FourHierarchyModesByteForByte) {
    struct Case {
        int mode;
        std::vector<std::pair<std::string, std::string>> files;  // path, golden
    } cases[] = {
        {0, {{"out/scene.QSX", "three_nodes_mode0.QSX"}}},
        {1, {{"out/scene.QSX", "three_nodes_mode1.QSX"}}},
        {2, {{"out/scene.QSX", "three_nodes_mode2.QSX"}}},
        {3,
         {{"out/scene0.QSX", "three_nodes_mode3_0.QSX"},
          {"out/scene1.QSX", "three_nodes_mode3_1.QSX"},
          {"out/scene2.QSX", "three_nodes_mode3_2.QSX"}}},
    };
    for (const Case& c : cases) {
        fake::Host h;
        ThreeNodes(h);
        h.preset.hierarchyType = c.mode;
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << c.mode;
        std::set<std::string> expected;
        for (const auto& [path, golden] : c.files) {
            expected.insert(path);
            const std::string want = Golden(golden);
            ASSERT_FALSE(want.empty()) << golden;
            ASSERT_EQ(r.fs.files.count(path), 1u) << path;
            EXPECT_EQ(r.File(path), want) << "mode " << c.mode << ", " << path;
        }
        EXPECT_EQ(Paths(r.fs), expected) << "mode " << c.mode;
        EXPECT_TRUE(h.warnings.empty());
    }
}

TEST(WholeScript, UnknownHierarchyTypeWritesThePreservedHierarchy) {
    for (int mode : {-1, 4, 7}) {
        fake::Host h;
        ThreeNodes(h);
        h.preset.hierarchyType = mode;
        h.preset.saveAnimation = 1;
        h.range = {0, 160};
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << mode;
        EXPECT_EQ(r.File("out/scene.QSX"), Golden("three_nodes_mode0.QSX")) << mode;
        EXPECT_EQ(h.warnings.size(), 1u) << mode;
        // The animation follows the same choice: A1 relative to A.
        const auto anim = Lines(r.File("out/scene.qsv"));
        ASSERT_EQ(anim.size(), 4u);
        EXPECT_NE(anim[2].find(" 6.000000  10.000000 -8.000000"), std::string::npos) << anim[2];
    }
}

// Separate clumps with a single top-level node: the golden per-node file
// without its wrapper clump, every node line one level further out.
TEST(WholeScript, SeparateClumpsWithOneTopLevelNodeHasNoWrapper) {
    fake::Host h;
    ThreeNodes(h);
    h.root.children.pop_back();  // drop B
    h.preset.hierarchyType = 3;
    fake::Run r;
    EXPECT_EQ(r.Export(h), 1);
    EXPECT_EQ(Paths(r.fs), (std::set<std::string>{"out/scene0.QSX", "out/scene1.QSX"}));
    for (int k = 0; k < 2; ++k) {
        auto want = Lines(Golden("three_nodes_mode3_" + std::to_string(k) + ".QSX"));
        ASSERT_EQ(want[2], "    ClumpBegin");
        ASSERT_EQ(want[want.size() - 2], "    ClumpEnd");
        want.erase(want.end() - 2);
        want.erase(want.begin() + 2);
        for (size_t i = 2; i + 1 < want.size(); ++i) want[i].erase(0, 4);
        const auto got = Lines(r.File("out/scene" + std::to_string(k) + ".QSX"));
        EXPECT_EQ(got, want) << k;
        ASSERT_GE(got.size(), 3u);
        EXPECT_EQ(got[2], k == 0 ? "    # A" : "    # A1");
    }
}

// Light (no object) over a mesh, a non-renderable object over a mesh, a
// non-renderable leaf: none of them, nor anything below them, is written.
void SkippingScene(fake::Host& h) {
    MeshNode(h.root.Add("Light"), "UnderLight");
    fake::Node* m1 = MeshNode(&h.root, "M1");
    fake::Node* ghost = m1->Add("Ghost");
    Triangle(ghost->MakeMesh());
    ghost->object->renderable = false;
    MeshNode(ghost, "UnderGhost");
    MeshNode(m1, "M1a");
    h.root.Add("Hidden")->MakeMesh();
    h.root.children.back()->object->renderable = false;
    MeshNode(&h.root, "M2");
}

TEST(SkippedNodes, TagsContinueWithoutGapsInScriptAndHeader) {
    const std::vector<std::string> tagged = {"# M1", "Tag 1", "# M1a", "Tag 2", "# M2", "Tag 3"};
    const std::vector<std::string> untagged = {"# M1", "# M1a", "# M2"};
    const std::vector<std::string> header = {"// Quorvantis(tm) script header file",
                                             "// Output from 3DSMax Quorvantis file export plug-in", "",
                                             "#define TAG_M1 1", "#define TAG_M1a 2", "#define TAG_M2 3"};
    for (int mode = 0; mode <= 3; ++mode) {
        fake::Host h;
        SkippingScene(h);
        h.preset.hierarchyType = mode;
        h.preset.saveHeader = 1;
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << mode;
        EXPECT_EQ(Lines(r.File("out/scene.qsh")), header) << mode;
        r.fs.files.erase("out/scene.qsh");
        EXPECT_EQ(Written(r.fs), mode == 1 ? untagged : tagged) << mode;
        if (mode == 3) {
            EXPECT_EQ(Paths(r.fs), (std::set<std::string>{"out/scene0.QSX", "out/scene1.QSX", "out/scene2.QSX"}));
        }
    }
}

// The 16 numbers of a "Transform" line.
std::vector<double> Numbers(const std::string& line) {
    std::vector<double> out;
    std::istringstream in(line.substr(line.find(' ')));
    in.imbue(std::locale::classic());
    for (double v; in >> v;) out.push_back(v);
    return out;
}

const std::string kIdentity =
    "Transform  1.000000  0.000000  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000"
    "  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  0.000000  1.000000";

// The "Transform" lines of a script, without their indentation, in node order.
std::vector<std::string> TransformLines(const std::string& script) {
    std::vector<std::string> out;
    for (const auto& l : Lines(script))
        if (Trimmed(l).rfind("Transform ", 0) == 0) out.push_back(Trimmed(l));
    return out;
}

TEST(Transforms, ChildWithItsParentsTransformIsTheIdentityOnlyWhenPreserved) {
    host::Matrix3 turned;
    host::MakeMatrix({0.2f, -0.4f, 0.1f, 0.8f}, turned);
    turned.SetTrans({1.5f, -2, 3});
    const std::string& identity = kIdentity;
    struct Case {
        const char* name;
        host::Matrix3 tm;
        bool exact;  // a turned matrix comes back as the identity up to float rounding only
    } cases[] = {
        {"moved", fake::Translation(1.5f, -2, 3), true},
        {"turned and moved", turned, false},
    };
    for (const Case& c : cases)
        for (int mode : {0, 2}) {
            // Scaled by 2.5 and centred, so that neither cancels by accident.
            fake::Host h;
            fake::Node* a = MeshNode(&h.root, "A");
            a->SetTM(c.tm);
            MeshNode(a, "A1")->SetTM(c.tm);
            h.preset.hierarchyType = mode;
            h.preset.scaleFactor = 2.5f;
            fake::Run r;
            r.Export(h);
            const std::vector<std::string> transforms = TransformLines(r.File("out/scene.QSX"));
            ASSERT_EQ(transforms.size(), 2u);
            if (mode != 0) {
                EXPECT_EQ(transforms[1], transforms[0]) << c.name << ": absolute in the flat modes";
                continue;
            }
            EXPECT_NE(transforms[0], identity) << c.name;
            if (c.exact) {
                EXPECT_EQ(transforms[1], identity) << c.name;
            } else {
                const auto got = Numbers(transforms[1]), want = Numbers(identity);
                ASSERT_EQ(got.size(), 16u);
                for (size_t i = 0; i < 16; ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << c.name << " entry " << i;
            }
        }
}

// A parent that cannot be inverted (scaled to nothing, or flat) leaves its
// children nothing to be placed relative to: each is written with the
// identity and named once in a warning; their own children are placed as ever.
TEST(Transforms, ChildrenOfAParentWithoutInverseGetTheIdentityAndOneWarningEach) {
    host::Matrix3 zero;
    for (int row = 0; row < 3; ++row) zero.SetRow(row, {0, 0, 0});
    zero.SetTrans({1, 2, 3});
    host::Matrix3 flat;
    flat.SetRow(1, {0, 0, 0});
    const std::pair<const char*, host::Matrix3> cases[] = {{"scaled to zero", zero}, {"flat along y", flat}};
    for (const auto& [name, tm] : cases) {
        fake::Host h;
        fake::Node* a = MeshNode(&h.root, "A");
        a->SetTM(tm);
        MeshNode(a, "A1", {4, 6, 8});
        MeshNode(MeshNode(a, "A2", {1, 1, 1}), "A2a", {2, 2, 1});
        h.preset.scaleFactor = 2.5f;
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << name;
        const std::vector<std::string> transforms = TransformLines(r.File("out/scene.QSX"));
        ASSERT_EQ(transforms.size(), 4u) << name;
        EXPECT_EQ(transforms[1], kIdentity) << name;
        EXPECT_EQ(transforms[2], kIdentity) << name;
        // A2a is (1, 1, 0) from A2: scaled by 2.5 and turned into (x, z, -y).
        EXPECT_EQ(transforms[3].substr(transforms[3].size() - 40), "  2.500000  0.000000 -2.500000  1.000000") << name;
        ASSERT_EQ(h.warnings.size(), 2u) << name;
        EXPECT_EQ(h.warnings[0].rfind("node \"A1\" is written with the identity transform", 0), 0u) << h.warnings[0];
        EXPECT_EQ(h.warnings[1].rfind("node \"A2\" is written with the identity transform", 0), 0u) << h.warnings[1];
    }
}

// The last guard: a number that is not finite fails the file it would be
// written to; the run's other files are written as ever.
TEST(NotFiniteNumbers, FailTheFileTheyWouldBeWrittenToAndNoOther) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    fake::Mtl grey;
    struct Case {
        const char* name;
        std::function<void(fake::Node& a)> spoil;
        const char* failed;
    } cases[] = {
        {"a vertex", [&](fake::Node& a) { a.object->mesh.verts[1].x = inf; }, "out/scene.QSX"},
        {"a material colour",
         [&](fake::Node& a) {
             grey.diffuse = {0.5f, nan, 0.5f};
             a.mtl = &grey;
         },
         "out/scene.QSX"},
        {"a node transform in a later frame", [&](fake::Node& a) { a.keys[160] = fake::Translation(nan, 0, 0); },
         "out/scene.qsv"},
    };
    for (const Case& c : cases) {
        fake::Host h;
        c.spoil(*MeshNode(&h.root, "A"));
        MeshNode(&h.root, "B");
        h.range = {0, 320};
        h.preset.centre = 0;
        h.preset.saveHeader = h.preset.saveAnimation = 1;
        fake::Run r;
        EXPECT_EQ(r.Export(h), 0) << c.name;
        ASSERT_EQ(r.exporter.Failures().size(), 1u) << c.name;
        EXPECT_EQ(r.exporter.Failures()[0].path, c.failed) << c.name;
        EXPECT_EQ(r.exporter.Failures()[0].reason, qsx::kNotFiniteReason) << c.name;
        std::set<std::string> written = {"out/scene.QSX", "out/scene.qsh", "out/scene.qsv"};
        written.erase(c.failed);
        EXPECT_EQ(Paths(r.fs), written) << c.name;
    }
}

TEST(Hints, SuffixPerSetting) {
    const std::pair<int, const char*> cases[] = {
        {0, "Hints NULL"}, {1, "Hints HS"}, {2, "Hints HS Editable"}, {5, "Hints NULL"}, {-1, "Hints NULL"}};
    for (const auto& [hints, line] : cases) {
        fake::Host h;
        MeshNode(&h.root, "A");
        h.preset.hints = hints;
        fake::Run r;
        r.Export(h);
        const auto lines = Lines(r.File("out/scene.QSX"));
        ASSERT_GT(lines.size(), 9u);
        EXPECT_EQ(lines[8], "            Tag 1");
        EXPECT_EQ(lines[9], std::string(12, ' ') + line) << hints;
    }
}

// ------------------------------------------------------------ per-node files

TEST(SeparateClumps, FileNamesCutOnlyTheLastComponent) {
    const std::pair<const char*, const char*> cases[] = {
        {"out/scene.QSX", "out/scene"}, {"my.dir/scene", "my.dir/scene"}, {"my.dir/scene.QSX", "my.dir/scene"},
        {"out/scene", "out/scene"},     {"a.b.QSX", "a.b"},               {"./scene", "./scene"},
    };
    for (const auto& [path, stem] : cases) {
        fake::Host h;
        ThreeNodes(h);
        h.preset.hierarchyType = 3;
        fake::Run r;
        EXPECT_EQ(r.Export(h, path), 1) << path;
        std::set<std::string> expected;
        for (int k = 0; k < 3; ++k) {
            const std::string name = std::string(stem) + std::to_string(k) + ".QSX";
            expected.insert(name);
            ASSERT_EQ(r.fs.files.count(name), 1u) << name;
            // The file number is one less than the tag it holds.
            const auto lines = Lines(r.File(name));
            EXPECT_NE(std::find(lines.begin(), lines.end(), "                Tag " + std::to_string(k + 1)), lines.end())
                << name;
        }
        EXPECT_EQ(Paths(r.fs), expected) << path;
    }
}

TEST(SeparateClumps, FailureDeletesOnlyTheCurrentFileAndStopsThePass) {
    // Writes per file, measured on an undisturbed run.
    std::vector<long> writesPerFile;
    {
        fake::Host h;
        ThreeNodes(h);
        h.preset.hierarchyType = 3;
        fake::Run r;
        r.Export(h);
        for (int k = 0; k < 3; ++k)
            writesPerFile.push_back(static_cast<long>(Lines(r.File("out/scene" + std::to_string(k) + ".QSX")).size()));
    }
    struct Case {
        int file;   // the node's file that fails
        bool open;  // the open fails, else its fourth write
    } cases[] = {{0, false}, {1, false}, {2, false}, {1, true}, {0, true}};
    for (const Case& c : cases) {
        fake::Host h;
        ThreeNodes(h);
        h.preset.hierarchyType = 3;
        fake::Run r;
        if (c.open) {
            r.fs.FailOpenAt(c.file + 1);
        } else {
            long before = 0;
            for (int k = 0; k < c.file; ++k) before += writesPerFile[static_cast<size_t>(k)];
            r.fs.FailWriteAt(before + 4);
        }
        const std::string failing = "out/scene" + std::to_string(c.file) + ".QSX";
        EXPECT_EQ(r.Export(h), 0) << failing;
        std::set<std::string> kept;
        for (int k = 0; k < c.file; ++k) {
            const std::string name = "out/scene" + std::to_string(k) + ".QSX";
            kept.insert(name);
            EXPECT_EQ(r.File(name), Golden("three_nodes_mode3_" + std::to_string(k) + ".QSX")) << name;
        }
        EXPECT_EQ(Paths(r.fs), kept) << failing;
        EXPECT_EQ(r.fs.opens, c.file + 1) << "no node after the failing one is started";
        ASSERT_EQ(r.exporter.Failures().size(), 1u) << failing;
        EXPECT_EQ(r.exporter.Failures()[0].path, failing);
        EXPECT_EQ(r.exporter.Failures()[0].reason, c.open ? "Permission denied" : "No space left on device");
        EXPECT_EQ(h.fileFailures, std::vector<std::string>{failing});
    }
}

TEST(NodeWriter, NamesAndPathsOfAnyLengthAreWrittenWhole) {
    const std::string name = "Long " + std::string(3000, 'n') + " end";
    const std::string dir = "out/" + std::string(700, 'd') + ".x";
    for (int mode : {0, 3}) {
        fake::Host h;
        MeshNode(&h.root, name);
        h.preset.hierarchyType = mode;
        h.preset.saveHeader = 1;
        fake::Run r;
        EXPECT_EQ(r.Export(h, dir + "/scene.QSX"), 1) << mode;
        const std::string script = mode == 3 ? dir + "/scene0.QSX" : dir + "/scene.QSX";
        const auto lines = Lines(r.File(script));
        ASSERT_GT(lines.size(), 2u);
        EXPECT_EQ(lines[2], "    # " + name);
        EXPECT_EQ(Lines(r.File(dir + "/scene.qsh")).back(), "#define TAG_Long_" + std::string(3000, 'n') + "_end 1");
    }
}

// ------------------------------------------------------------ what the mesh block is given

// A node whose object exists only at chosen times, and which remembers when it was asked.
struct TimedNode : fake::Node {
    std::set<host::TimeValue> present;
    mutable std::vector<host::TimeValue> asked;
    host::Object* EvalWorldState(host::TimeValue t, int) const override {
        asked.push_back(t);
        return present.count(t) ? object.get() : nullptr;
    }
};

TimedNode* AddTimed(fake::Node* parent, const std::string& name, std::set<host::TimeValue> present) {
    auto n = std::make_unique<TimedNode>();
    n->name = name;
    n->parent = parent;
    n->present = std::move(present);
    Triangle(n->MakeMesh());
    TimedNode* raw = n.get();
    parent->children.push_back(std::move(n));
    return raw;
}

TEST(NodeWriter, ConvertsAtTimeZeroButSamplesAtTheStartOfTheRange) {
    fake::Host h;
    h.range = {160, 480};
    h.preset.hierarchyType = 2;
    h.preset.centre = 0;
    h.preset.saveHeader = 1;
    TimedNode* now = AddTimed(&h.root, "Now", {160});
    now->keys[0] = fake::Translation(1, 0, 0);
    now->keys[160] = fake::Translation(5, 0, 0);
    TimedNode* before = AddTimed(&h.root, "Before", {0});
    fake::Run r;
    EXPECT_EQ(r.Export(h), 1);
    EXPECT_EQ(Written(r.fs), (std::vector<std::string>{"# Now", "Tag 1"}));
    const auto lines = Lines(r.File("out/scene.QSX"));
    ASSERT_GT(lines.size(), 6u);
    EXPECT_EQ(Trimmed(lines[6]).substr(Trimmed(lines[6]).size() - 40), "  5.000000  0.000000  0.000000  1.000000");
    EXPECT_EQ(now->object->lastConvertTime, 0);
    EXPECT_EQ(before->object->lastConvertTime, -1) << "never converted";
    for (TimedNode* n : {now, before})
        EXPECT_EQ(std::set<host::TimeValue>(n->asked.begin(), n->asked.end()), std::set<host::TimeValue>{160});
}

struct SelfCountingObject : fake::Object {
    int deleteCalls = 0;
    void DeleteThis() override { ++deleteCalls; }
};

TEST(NodeWriter, ConvertedCopyIsDisposedOfOnceAndOwnObjectNever) {
    for (int mode = 0; mode <= 3; ++mode) {
        fake::Host h;
        h.preset.hierarchyType = mode;
        h.preset.saveHeader = h.preset.saveAnimation = 1;
        h.range = {0, 480};
        fake::Node* copying = MeshNode(&h.root, "Copying");
        copying->object->convertsToCopy = true;
        fake::Node* own = h.root.Add("Own");
        own->object = std::make_unique<SelfCountingObject>();
        Triangle(own->object->mesh);
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1);
        EXPECT_EQ(copying->object->disposed, 1) << mode;
        EXPECT_EQ(static_cast<SelfCountingObject*>(own->object.get())->deleteCalls, 0) << mode;
    }
}

TEST(NodeWriter, OffsetRotationTurnsOnlyTheOffset) {
    fake::Host h;
    fake::Node* n = MeshNode(&h.root, "A");
    n->offsetPos = {1, 0, 0};
    const float half = 0.70710678f;  // 90 degrees about z
    n->offsetRot = {0, 0, half, half};
    h.preset.hierarchyType = 2;
    h.preset.centre = 0;
    fake::Run r;
    r.Export(h);
    const auto lines = Lines(r.File("out/scene.QSX"));
    ASSERT_GT(lines.size(), 12u);
    EXPECT_EQ(Trimmed(lines[5]),
              "Transform  1.000000  0.000000  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000"
              "  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  0.000000  1.000000");
    // (0,0,0), (1,0,0), (0,1,0) shifted by (0,1,0), then host y becomes -z.
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 10, lines.begin() + 13),
              (std::vector<std::string>{"            Vertex  0.000000  0.000000 -1.000000",
                                        "            Vertex  1.000000  0.000000 -1.000000",
                                        "            Vertex  0.000000  0.000000 -2.000000"}));
}

}  // namespace
