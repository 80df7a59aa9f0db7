// The header file of tag names and the animation file of per-frame transforms.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "tests/support/fake_scene.h"

using fake::Lines;

namespace {

fake::Node* MeshNode(fake::Node* parent, const std::string& name) {
    fake::Node* n = parent->Add(name);
    fake::Fan(n->MakeMesh(), 3);
    return n;
}

const std::vector<std::string> kHeaderTop = {"// Quorvantis(tm) script header file",
                                             "// Output from 3DSMax Quorvantis file export plug-in", ""};

// The clumps' names and tag numbers as the script (multiple clumps) gives them.
std::vector<std::pair<std::string, std::string>> ScriptTags(const std::string& script) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string name;
    for (std::string l : Lines(script)) {
        l.erase(0, l.find_first_not_of(' ') == std::string::npos ? l.size() : l.find_first_not_of(' '));
        if (l.rfind("# ", 0) == 0) name = l.substr(2);
        if (l.rfind("Tag ", 0) == 0) out.emplace_back(name, l.substr(4));
    }
    return out;
}

TEST(HeaderFile, NumberingAndNames) {
    struct Case {
        const char* name;
        std::function<void(fake::Node&)> build;
        std::vector<std::string> defines;
        std::vector<std::string> scriptNames = {};  // when given: the script's names, kept as the host gives them
    } cases[] = {
        {"grouping node without object",
         [](fake::Node& root) {
             fake::Node* g = root.Add("Group");
             MeshNode(g, "Box1");
             MeshNode(g, "Box2");
             MeshNode(&root, "Box3");
         },
         {"#define TAG_Box3 1"}},
        {"three top-level nodes, the second with two children",
         [](fake::Node& root) {
             MeshNode(&root, "First");
             fake::Node* second = MeshNode(&root, "Second");
             MeshNode(second, "C1");
             MeshNode(second, "C2");
             MeshNode(&root, "Third");
         },
         {"#define TAG_First 1", "#define TAG_Second 2", "#define TAG_C1 3", "#define TAG_C2 4", "#define TAG_Third 5"}},
        {"names made C identifiers, each defined once",
         [](fake::Node& root) {
             MeshNode(&root, "Box01");
             MeshNode(&root, "My Box");
             MeshNode(&root, "My Box");
             MeshNode(&root, "Cube.001");
             MeshNode(&root, "");
             MeshNode(&root, "Bip01 Schritte \xc3\xa4");
             MeshNode(&root, "A_9");
             MeshNode(&root, "A");
             MeshNode(&root, "A");
         },
         {"#define TAG_Box01 1", "#define TAG_My_Box 2", "#define TAG_My_Box_3 3", "#define TAG_Cube_001 4",
          "#define TAG_5 5", "#define TAG_Bip01_Schritte___ 6", "#define TAG_A_9 7", "#define TAG_A 8",
          "#define TAG_A_9_9 9"},
         {"Box01", "My Box", "My Box", "Cube.001", "", "Bip01 Schritte \xc3\xa4", "A_9", "A", "A"}},
        {"nothing renderable",
         [](fake::Node& root) {
             MeshNode(root.Add("Light"), "UnderLight")->object->renderable = false;
             MeshNode(&root, "Camera")->object->renderable = false;
         },
         {}},
    };
    for (const Case& c : cases) {
        fake::Host h;
        c.build(h.root);
        h.preset.hierarchyType = 2;
        h.preset.saveHeader = 1;
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << c.name;
        std::vector<std::string> want = kHeaderTop;
        want.insert(want.end(), c.defines.begin(), c.defines.end());
        EXPECT_EQ(Lines(r.File("out/scene.qsh")), want) << c.name;
        std::vector<std::string> headerTags, scriptTags, scriptNames;
        for (const std::string& d : c.defines) headerTags.push_back(d.substr(d.rfind(' ') + 1));
        for (const auto& [name, tag] : ScriptTags(r.File("out/scene.QSX"))) {
            scriptNames.push_back(name);
            scriptTags.push_back(tag);
        }
        EXPECT_EQ(scriptTags, headerTags) << c.name << ": the n-th definition names tag n";
        if (!c.scriptNames.empty()) {
            EXPECT_EQ(scriptNames, c.scriptNames) << c.name;
        }
    }
}

TEST(HeaderFile, WriteFailureStopsAfterTheCurrentSubtree) {
    fake::Host h;
    fake::Node* a = MeshNode(&h.root, "A");
    MeshNode(a, "A1");
    MeshNode(&h.root, "B");
    h.preset.saveHeader = 1;
    fake::Run r;
    r.Export(h);
    const long scriptWrites = static_cast<long>(Lines(r.File("out/scene.QSX")).size());
    fake::Run failing;
    failing.fs.FailWriteAt(scriptWrites + 4);  // the line of A
    EXPECT_EQ(failing.Export(h), 0);
    EXPECT_EQ(failing.fs.files.count("out/scene.qsh"), 0u);
    EXPECT_EQ(failing.fs.writes, scriptWrites + 5) << "A1 still attempted, B not started";
    ASSERT_EQ(failing.exporter.Failures().size(), 1u);
    EXPECT_EQ(failing.exporter.Failures()[0].path, "out/scene.qsh");
}

// ------------------------------------------------------------ animation

// "Transform n" and twelve values: the identity axes and the translation (x, y, z).
std::string AnimLine(int n, int x, int y, int z) {
    auto f = [](int v) { return (v < 0 ? " " : "  ") + std::to_string(v) + ".000000"; };
    return "Transform " + std::to_string(n) + f(1) + f(0) + f(0) + f(0) + f(1) + f(0) + f(0) + f(0) + f(1) + f(x) + f(y) +
           f(z);
}

// One node moving along host x by one unit per frame (160 ticks), from frame -4 on.
struct Moving {
    fake::Host h;
    fake::Node* node;
    Moving(host::TimeValue start, host::TimeValue end) {
        node = MeshNode(&h.root, "M");
        for (int k = -4; k <= 10; ++k) node->keys[160 * k] = fake::Translation(static_cast<float>(k), 0, 0);
        h.range = {start, end};
        h.preset.centre = 0;
        h.preset.saveAnimation = 1;
    }
};

TEST(AnimationFile, FramesAndTheirSampleTimes) {
    struct Case {
        host::TimeValue start, end;
        std::vector<int> sampled;  // frame times / 160
    } cases[] = {
        {0, 800, {0, 1, 2, 3, 4}}, {320, 800, {2, 3, 4}}, {0, 250, {0}}, {400, 400, {}},
        {800, 320, {}},            {-320, 0, {-2, -1}},   {0, 159, {}},
    };
    for (const Case& c : cases) {
        Moving m(c.start, c.end);
        fake::Run r;
        EXPECT_EQ(r.Export(m.h), 1) << c.start << ".." << c.end;
        std::vector<std::string> want;
        for (size_t i = 0; i < c.sampled.size(); ++i) {
            want.push_back("Frame " + std::to_string(i));
            want.push_back(AnimLine(1, c.sampled[i], 0, 0));
        }
        ASSERT_EQ(r.fs.files.count("out/scene.qsv"), 1u) << "created even when empty";
        EXPECT_EQ(Lines(r.File("out/scene.qsv")), want) << c.start << ".." << c.end;
        EXPECT_TRUE(m.h.warnings.empty());
    }
}

TEST(AnimationFile, NoPositiveFrameLengthWritesNoFrame) {
    for (int tpf : {0, -160}) {
        Moving m(0, 800);
        m.h.ticksPerFrame = tpf;
        fake::Run r;
        EXPECT_EQ(r.Export(m.h), 1) << tpf;
        EXPECT_EQ(r.File("out/scene.qsv"), "") << tpf;
        EXPECT_EQ(m.h.warnings.size(), 1u) << tpf;
        EXPECT_FALSE(r.File("out/scene.QSX").empty());
    }
}

TEST(AnimationFile, NodesBelowASkippedNodeRunAheadOfTheTags) {
    fake::Host h;
    MeshNode(h.root.Add("Group"), "Nested");
    MeshNode(&h.root, "Top");
    h.range = {0, 320};
    h.preset.hierarchyType = 2;
    h.preset.centre = 0;
    h.preset.saveHeader = h.preset.saveAnimation = 1;
    fake::Run r;
    r.Export(h);
    const auto anim = Lines(r.File("out/scene.qsv"));
    ASSERT_EQ(anim.size(), 6u);
    for (int f = 0; f < 2; ++f) {
        EXPECT_EQ(anim[static_cast<size_t>(3 * f)], "Frame " + std::to_string(f));
        EXPECT_EQ(anim[static_cast<size_t>(3 * f + 1)].rfind("Transform 1 ", 0), 0u);
        EXPECT_EQ(anim[static_cast<size_t>(3 * f + 2)].rfind("Transform 2 ", 0), 0u);
    }
    EXPECT_EQ(Lines(r.File("out/scene.qsh")).back(), "#define TAG_Top 1");
    EXPECT_EQ(ScriptTags(r.File("out/scene.QSX")), (std::vector<std::pair<std::string, std::string>>{{"Top", "1"}}));
}

TEST(AnimationFile, ChildRelativeToItsParentOnlyWhenPreserved) {
    for (int mode = 0; mode <= 3; ++mode) {
        fake::Host h;
        fake::Node* a = MeshNode(&h.root, "A");
        a->keys[0] = fake::Translation(1, 2, 3);
        a->keys[160] = fake::Translation(2, 2, 3);
        MeshNode(a, "A1")->SetTM(fake::Translation(4, 6, 8));
        h.range = {0, 320};
        h.preset.hierarchyType = mode;
        h.preset.centre = 0;
        h.preset.saveAnimation = 1;
        fake::Run r;
        r.Export(h);
        // Host (x, y, z) is written as (x, z, -y); the child's relative place follows the parent per frame.
        const std::vector<std::string> want =
            mode == 0 ? std::vector<std::string>{"Frame 0", AnimLine(1, 1, 3, -2), AnimLine(2, 3, 5, -4), "Frame 1",
                                                 AnimLine(1, 2, 3, -2), AnimLine(2, 2, 5, -4)}
                      : std::vector<std::string>{"Frame 0", AnimLine(1, 1, 3, -2), AnimLine(2, 4, 8, -6), "Frame 1",
                                                 AnimLine(1, 2, 3, -2), AnimLine(2, 4, 8, -6)};
        EXPECT_EQ(Lines(r.File("out/scene.qsv")), want) << mode;
    }
}

// In the frames where the parent is scaled to nothing the child is written
// with the identity; the node is named in one warning however many frames do so.
TEST(AnimationFile, ChildOfAParentWithoutInverseIsTheIdentityInThoseFrames) {
    host::Matrix3 zero;
    for (int row = 0; row < 3; ++row) zero.SetRow(row, {0, 0, 0});
    zero.SetTrans({1, 2, 3});
    const std::string identity = AnimLine(2, 0, 0, 0);
    struct Case {
        const char* name;
        host::TimeValue zeroFrom;
        std::vector<std::string> child;  // the child's line in each frame
    } cases[] = {
        {"from the start", 0, {identity, identity, identity}},
        {"from frame 1", 160, {AnimLine(2, 3, 5, -4), identity, identity}},
    };
    for (const Case& c : cases) {
        fake::Host h;
        fake::Node* a = MeshNode(&h.root, "A");
        a->keys[0] = fake::Translation(1, 2, 3);
        a->keys[c.zeroFrom] = zero;
        MeshNode(a, "A1")->SetTM(fake::Translation(4, 6, 8));
        h.range = {0, 480};
        h.preset.centre = 0;
        h.preset.saveAnimation = 1;
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << c.name;
        const auto anim = Lines(r.File("out/scene.qsv"));
        ASSERT_EQ(anim.size(), 9u) << c.name;
        EXPECT_EQ((std::vector<std::string>{anim[2], anim[5], anim[8]}), c.child) << c.name;
        EXPECT_EQ(h.warnings.size(), 1u) << c.name;
    }
}

// A node whose object exists only at chosen times.
struct TimedNode : fake::Node {
    std::set<host::TimeValue> present;
    host::Object* EvalWorldState(host::TimeValue t, int) const override {
        return present.count(t) ? object.get() : nullptr;
    }
};

TEST(AnimationFile, RenderabilityIsAskedAtEachFrame) {
    fake::Host h;
    auto blinking = std::make_unique<TimedNode>();
    blinking->name = "Blinking";
    blinking->parent = &h.root;
    blinking->present = {160};
    fake::Fan(blinking->MakeMesh(), 3);
    h.root.children.push_back(std::move(blinking));
    MeshNode(&h.root, "Steady");
    h.range = {0, 480};
    h.preset.saveAnimation = 1;
    fake::Run r;
    r.Export(h);
    std::vector<std::string> heads;
    for (const auto& l : Lines(r.File("out/scene.qsv"))) heads.push_back(l.substr(0, l.find(' ', l.find(' ') + 1)));
    EXPECT_EQ(heads, (std::vector<std::string>{"Frame 0", "Transform 1", "Frame 1", "Transform 1", "Transform 2",
                                               "Frame 2", "Transform 1"}));
}

TEST(AnimationFile, FailuresAreReported) {
    Moving m(0, 800);
    fake::Run clean;
    clean.Export(m.h);
    const long before = static_cast<long>(Lines(clean.File("out/scene.QSX")).size());
    struct Case {
        bool open;  // the open fails, else the second line
        const char* reason;
        long writes;
    } cases[] = {{false, "No space left on device", before + 10}, {true, "Permission denied", before}};
    for (const Case& c : cases) {
        fake::Run r;
        if (c.open) {
            r.fs.FailOpenAt(2);
        } else {
            r.fs.FailWriteAt(before + 2);
        }
        EXPECT_EQ(r.Export(m.h), 0) << c.reason;
        EXPECT_EQ(r.fs.files.count("out/scene.qsv"), 0u) << c.reason;
        EXPECT_EQ(r.fs.writes, c.writes) << c.reason << ": every frame attempted after a failed write";
        ASSERT_EQ(r.exporter.Failures().size(), 1u) << c.reason;
        EXPECT_EQ(r.exporter.Failures()[0].path, "out/scene.qsv");
        EXPECT_EQ(r.exporter.Failures()[0].reason, c.reason);
        EXPECT_EQ(m.h.fileFailures.back(), "out/scene.qsv");
    }
}

}  // namespace
