// The export run around the nodes: side-file names, the model frame and its
// wrapper clump, cancel, and what a failed write leaves behind.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <stdexcept>

#include "tests/support/fake_scene.h"
#include "util/Paths.h"

using fake::Lines;

namespace {

TEST(SideFileName, CutsAtTheLastDotOfTheLastComponent) {
    struct Case {
        const char* path;
        const char* header;
        const char* animation;
    } cases[] = {
        {"C:\\models\\scene.QSX", "C:\\models\\scene.qsh", "C:\\models\\scene.qsv"},
        {"a.b.QSX", "a.b.qsh", "a.b.qsv"},
        {"out/scene", "out/scene.qsh", "out/scene.qsv"},
        {"models.old/scene", "models.old/scene.qsh", "models.old/scene.qsv"},
        {"models.old/scene.QSX", "models.old/scene.qsh", "models.old/scene.qsv"},
        {"/a.b/c.d/e", "/a.b/c.d/e.qsh", "/a.b/c.d/e.qsv"},
        {".hidden", ".qsh", ".qsv"},
        {"", ".qsh", ".qsv"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qsx::util::SideFileName(c.path, ".qsh"), c.header) << c.path;
        EXPECT_EQ(qsx::util::SideFileName(c.path, ".qsv"), c.animation) << c.path;
    }
}

TEST(SideFileName, PathsOfAnyLength) {
    std::string dir(3000, 'd');
    std::string path = dir + ".x/" + std::string(5000, 'n') + ".QSX";
    EXPECT_EQ(qsx::util::SideFileName(path, ".qsh"), dir + ".x/" + std::string(5000, 'n') + ".qsh");
}

struct FrameCase {
    const char* name;
    int hierarchy;
    int meshes;       // renderable top-level nodes
    int lights;       // top-level nodes without an object
    std::vector<std::string> expected;  // only the frame lines (no nodes written)
};

TEST(ModelFrame, WrapperClumpCountsEveryTopLevelChild) {
    const std::string c = "# Output from 3DSMax Quorvantis File Export plug-in V1.0";
    const FrameCase cases[] = {
        {"empty root, preserve", 0, 0, 0, {c, "ModelBegin", "ModelEnd"}},
        {"empty root, single clump", 1, 0, 0, {c, "ModelBegin", "    ClumpBegin", "    ClumpEnd", "ModelEnd"}},
        {"two lights, preserve", 0, 0, 2, {c, "ModelBegin", "    ClumpBegin", "    ClumpEnd", "ModelEnd"}},
        {"one light, multiple clumps", 2, 0, 1, {c, "ModelBegin", "ModelEnd"}},
    };
    for (const FrameCase& fc : cases) {
        fake::Host h;
        h.preset.hierarchyType = fc.hierarchy;
        for (int i = 0; i < fc.lights; ++i) h.root.Add("Light" + std::to_string(i));
        fake::Run r;
        EXPECT_EQ(r.Export(h), 1) << fc.name;
        EXPECT_EQ(Lines(r.File("out/scene.QSX")), fc.expected) << fc.name;
    }
}

TEST(ModelFrame, NodeStatementsStartAtFourOrEight) {
    for (int lights : {0, 1}) {
        fake::Host h;
        fake::Fan(h.root.Add("Box")->MakeMesh(), 3);
        if (lights) h.root.Add("Light");
        fake::Run r;
        r.Export(h);
        const auto lines = Lines(r.File("out/scene.QSX"));
        const std::string indent(lights ? 8 : 4, ' ');
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[lights ? 3 : 2], indent + "# Box");
        EXPECT_EQ(lines[lights ? 4 : 3], indent) << "blank lines carry the indentation";
        EXPECT_EQ(lines.back(), "ModelEnd");
    }
}

TEST(ModelFrame, EveryLineEndsWithCrLf) {
    fake::Host h;
    fake::Fan(h.root.Add("Box")->MakeMesh(), 4);
    h.preset.saveHeader = 1;
    h.preset.saveAnimation = 1;
    h.range = {0, 320};
    fake::Run r;
    r.Export(h);
    for (const auto& [path, text] : r.fs.files) {
        ASSERT_FALSE(text.empty()) << path;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << path;
        size_t lf = 0, crlf = 0;
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') {
                ++lf;
                if (i > 0 && text[i - 1] == '\r') ++crlf;
            }
        EXPECT_EQ(lf, crlf) << path;
    }
    EXPECT_EQ(r.fs.files.size(), 3u);
}

TEST(ExportRun, SeparateClumpsWithoutTopLevelNodesWritesNothing) {
    fake::Host h;
    h.preset.hierarchyType = 3;
    fake::Run r;
    EXPECT_EQ(r.Export(h), 1);
    EXPECT_TRUE(r.fs.files.empty());
    EXPECT_EQ(r.fs.opens, 0);
}

TEST(ExportRun, CancelWritesNothing) {
    fake::Host h;
    fake::Fan(h.root.Add("Box")->MakeMesh(), 3);
    h.preset.saveHeader = h.preset.saveAnimation = 1;
    h.cancel = true;
    fake::Run r;
    EXPECT_EQ(r.Export(h), 1);
    EXPECT_TRUE(r.exporter.cancelled);
    EXPECT_EQ(r.fs.opens, 0);
}

TEST(ExportRun, FailedScriptIsNotWrittenAndHeaderStillWritten) {
    fake::Host h;
    fake::Fan(h.root.Add("A")->MakeMesh(), 4);
    fake::Fan(h.root.Add("B")->MakeMesh(), 4);
    h.preset.saveHeader = 1;
    fake::Run r;
    r.fs.FailWriteAt(5);
    EXPECT_EQ(r.Export(h), 0);
    EXPECT_EQ(r.fs.files.count("out/scene.QSX"), 0u);
    ASSERT_EQ(r.exporter.Failures().size(), 1u);
    EXPECT_EQ(r.exporter.Failures()[0].path, "out/scene.QSX");
    EXPECT_EQ(r.exporter.Failures()[0].reason, "No space left on device");
    EXPECT_EQ(Lines(r.File("out/scene.qsh")),
              (std::vector<std::string>{"// Quorvantis(tm) script header file",
                                        "// Output from 3DSMax Quorvantis file export plug-in", "",
                                        "#define TAG_A 1", "#define TAG_B 2"}));
    // The failure stopped the pass: B was never started.
    EXPECT_EQ(h.fileFailures, std::vector<std::string>{"out/scene.QSX"});
}

TEST(ExportRun, HeaderStartsInTheFirstColumnAfterAScriptThatFailedEarly) {
    fake::Host h;
    fake::Fan(h.root.Add("A")->MakeMesh(), 3);
    fake::Fan(h.root.Add("B")->MakeMesh(), 3);
    h.preset.saveHeader = 1;
    fake::Run r;
    r.fs.FailWriteAt(1);  // the script's first line: its frame is never closed
    EXPECT_EQ(r.Export(h), 0);
    for (const std::string& line : Lines(r.File("out/scene.qsh"))) EXPECT_NE(line.rfind(' ', 0), 0u) << line;
}

// A node whose host throws while the node's blocks are open.
struct ThrowingNode : fake::Node {
    host::Mtl* GetMtl() const override { throw std::runtime_error("no material"); }
};

TEST(ExportRun, ExceptionFromTheHostFailsTheExportAndTheNextRunStartsClean) {
    fake::Host h;
    fake::Node* a = h.root.Add("A");
    fake::Fan(a->MakeMesh(), 3);
    auto bad = std::make_unique<ThrowingNode>();
    bad->parent = a;
    fake::Fan(bad->MakeMesh(), 3);
    a->children.push_back(std::move(bad));
    fake::Run r;
    EXPECT_EQ(r.Export(h), 0);
    ASSERT_EQ(r.exporter.Failures().size(), 1u);
    EXPECT_EQ(r.exporter.Failures()[0].path, "out/scene.QSX");
    EXPECT_EQ(r.exporter.Failures()[0].reason, "export stopped: no material");
    EXPECT_EQ(h.fileFailures, std::vector<std::string>{"out/scene.QSX"});
    EXPECT_EQ(r.fs.files.count("out/scene.QSX"), 0u) << "the unfinished script was put in place";

    // The same exporter once more, without the throwing node: a fresh exporter's bytes.
    a->children.clear();
    EXPECT_EQ(r.Export(h), 1);
    fake::Run fresh;
    EXPECT_EQ(fresh.Export(h), 1);
    EXPECT_EQ(r.File("out/scene.QSX"), fresh.File("out/scene.QSX"));
}

TEST(ExportRun, FileThatDoesNotOpenIsAFailureButLaterPassesRun) {
    fake::Host h;
    fake::Fan(h.root.Add("A")->MakeMesh(), 3);
    h.preset.saveHeader = 1;
    h.preset.saveAnimation = 1;
    h.range = {0, 160};
    fake::Run r;
    r.fs.FailOpenAt(1);
    EXPECT_EQ(r.Export(h), 0);
    EXPECT_EQ(r.fs.files.count("out/scene.QSX"), 0u);
    EXPECT_EQ(r.fs.files.count("out/scene.qsh"), 1u);
    EXPECT_EQ(r.fs.files.count("out/scene.qsv"), 1u);
    ASSERT_EQ(r.exporter.Failures().size(), 1u);
    EXPECT_EQ(r.exporter.Failures()[0].reason, "Permission denied");
}

}  // namespace

namespace {

TEST(Names, ControlBytesInANameNeverBreakTheLine) {
    fake::Host h;
    fake::Fan(h.root.Add("Box\r\nModelEnd\nx\ty")->MakeMesh(), 3);
    h.preset.saveHeader = 1;
    fake::Run r;
    r.Export(h);
    const auto script = Lines(r.File("out/scene.QSX"));
    ASSERT_GE(script.size(), 3u);
    EXPECT_EQ(script[2], "    # Box  ModelEnd x y");
    EXPECT_EQ(Lines(r.File("out/scene.qsh")).back(), "#define TAG_Box__ModelEnd_x_y 1");
}

}  // namespace

// A chain of `levels` triangle nodes under n; answers the deepest.
static fake::Node* Chain(fake::Node* n, int levels) {
    for (int i = 0; i < levels; ++i) fake::Fan((n = n->Add("n" + std::to_string(i)))->MakeMesh(), 3);
    return n;
}

// The sizes the gate weighs against the free space: never below what the export
// then writes, and not far above it, in every hierarchy mode.
TEST(FilePlan, EveryEstimateCoversItsFileClosely) {
    fake::Host h;
    fake::Mtl plain, multi;
    multi.cls = host::MULTI_MATERIAL_CLASS_ID;
    multi.subs = {&plain, nullptr, &plain};
    for (fake::Node* n : {h.root.Add("T0"), h.root.Add("T1"), h.root.Add("Light")->Add("Hidden")}) {
        host::Mesh& m = n->MakeMesh();  // textured, the sub-material changing every fourth face
        fake::Fan(m, 40);
        m.tVerts = m.verts;
        for (host::Face& f : m.faces) {
            f.flags = static_cast<uint32_t>(m.tvFaces.size() / 4 % 3) << 16;
            m.tvFaces.push_back({{f.v[0], f.v[1], f.v[2]}});
        }
        n->mtl = &multi;
    }
    Chain(&h.root, 100);
    h.range = {0, 160 * 5};
    for (int mode : {qsx::HIER_PRESERVE, qsx::HIER_FLAT_SINGLE, qsx::HIER_FLAT_MULTIPLE, qsx::HIER_SEPARATE}) {
        h.preset.hierarchyType = mode;
        h.preset.saveHeader = h.preset.saveAnimation = 1;
        fake::Run r;
        r.exporter.ip = &h;
        r.exporter.options = h.preset;
        const auto plan = r.exporter.PlanFiles("out/scene.QSX");
        r.Export(h);
        ASSERT_EQ(plan.size(), r.fs.files.size()) << mode;
        for (const auto& p : plan) {
            const uint64_t e = p.estimatedBytes, w = r.File(p.path).size();
            EXPECT_TRUE(e >= w && e <= 2 * w + 256) << "mode " << mode << ", " << p.path << ": " << e << " for " << w;
        }
    }
}

// A deep tree writes each line of a node as far in as the node is deep, the
// animation file a line per node and frame: the plan sees both. A case: a chain
// or siblings, the range, the file (0 script, 1 animation) and its bounds.
TEST(FilePlan, DepthAndFramesShowInTheEstimate) {
    const struct { int levels, siblings; host::Interval range; size_t file; uint64_t atLeast, below; } cases[] = {
        {49995, 0, {}, 0, 10'000'000'000, 1'000'000'000'000},
        {0, 49995, {}, 0, 5'000'000, 50'000'000},
        {1, 0, {INT32_MIN, INT32_MAX}, 1, 400'000'000'000, 2'000'000'000'000},  // 4.3e9 frames
    };
    for (const auto& c : cases) {
        fake::Host h;
        h.ticksPerFrame = 1;
        h.range = c.range;
        fake::Node* deepest = Chain(&h.root, c.levels);
        for (int i = 0; i < c.siblings; ++i) Chain(&h.root, 1);
        qsx::QsxExport e;
        e.ip = &h;
        e.options.saveAnimation = 1;
        const uint64_t bytes = e.PlanFiles("out/scene.QSX").at(c.file).estimatedBytes;
        // Taken apart from the deepest node up: no destructor recurses 49,995 deep.
        for (fake::Node* n = deepest; n->parent; n = n->parent) n->children.clear();
        EXPECT_TRUE(bytes >= c.atLeast && bytes < c.below) << c.levels << " deep, " << c.siblings << " wide: " << bytes;
    }
}
