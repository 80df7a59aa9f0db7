// Scripts read back: everything the exporter writes reads without a problem,
// each kind of planted fault is found at its line, and a script read as a
// scene exports again to the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <tuple>

#include "tests/support/fake_scene.h"
#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/sources/qsx/QsxLines.h"
#include "qsxhost/sources/qsx/QsxReader.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "util/Paths.h"

namespace {

using namespace qsxhost::script;
using fake::F;
using fake::T;

// A host over any scene source.
class SourceHost : public fake::OptionsHost {
public:
    qsxhost::SceneSource* scene = nullptr;
    host::Interval GetAnimRange() override { return scene->GetAnimRange(); }
    host::INode* GetRootNode() override { return scene->GetRootNode(); }
    int GetTicksPerFrame() override { return scene->GetTicksPerFrame(); }
};

// A random scene: a tree of meshes under rotated, scaled and moved nodes,
// textured or not (texture vertices anywhere, degenerate faces too), with
// standard, multi/sub-object or no materials. With `hidden`, a node without
// an object and a non-renderable node with children as well.
struct Generated {
    fake::Host host;
    std::vector<std::unique_ptr<fake::Mtl>> mtls;
    std::vector<std::unique_ptr<fake::Texmap>> maps;
    std::mt19937 rng;
    size_t files = 0, meshes = 0;

    float U(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
    int I(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    fake::Mtl* Standard() {
        auto m = std::make_unique<fake::Mtl>();
        m->diffuse = {U(0, 1), U(0, 1), U(0, 1)};
        m->ambient = {U(0, 0.3f), U(0, 1), U(0, 1)};
        m->specular = {U(0, 1), U(0, 1), U(0, 1)};
        m->opacity = I(0, 1) ? 1.0f : U(0, 1);
        m->twoSided = I(0, 1);
        m->wire = I(0, 3) == 0;
        m->shading = I(0, 1);
        // Every name form in turn: blanks, none, a ':' kept, the NULL forms' beginnings.
        static const char* const kFiles[] = {"C:\\maps\\wood.tga", "D:glass.bmp", " old  wood .tga", "maps/", "",
                                             "NULL", "NULL # x", "C:\\x\\a:b c.tga", "NULLx.tga", "NULL # x y.tga"};
        for (int ch : {host::ID_DI, host::ID_OP}) {
            if (I(0, 2) == 0) continue;
            auto t = std::make_unique<fake::Texmap>();
            t->file = kFiles[files++ % std::size(kFiles)];
            fake::Slot(*m, ch).map = t.get();
            fake::Slot(*m, ch).enabled = true;
            maps.push_back(std::move(t));
        }
        mtls.push_back(std::move(m));
        return mtls.back().get();
    }

    host::Mtl* Material() {
        const int kind = I(0, 3);
        if (kind == 0) return nullptr;
        if (kind < 3) return Standard();
        auto multi = std::make_unique<fake::Mtl>();
        multi->cls = host::MULTI_MATERIAL_CLASS_ID;
        multi->subs = {Standard(), nullptr, Standard()};
        mtls.push_back(std::move(multi));
        return mtls.back().get();
    }

    host::Matrix3 Transform() {
        host::Matrix3 r;
        host::MakeMatrix({U(-1, 1), U(-1, 1), U(-1, 1), U(-1, 1)}, r);
        for (int i = 0; i < 3; ++i) r.SetRow(i, {r[i].x * U(0.5f, 2), r[i].y * U(0.5f, 2), r[i].z * U(0.5f, 2)});
        r.SetTrans({U(-10, 10), U(-10, 10), U(-10, 10)});
        return r;
    }

    void Mesh(fake::Node* n) {
        host::Mesh& m = n->MakeMesh();
        const int nv = I(4, 9);
        for (int i = 0; i < nv; ++i) m.verts.push_back({U(-3, 3), U(-3, 3), U(-3, 3)});
        const bool textured = I(0, 1);
        // Every other textured mesh at the shift's and wrap's edges: V printing 0 beside 32; smallest U
        // printing 1; U -0 written before the +0 that set the shift; a largest V beyond integer steps.
        static const host::Point3 kEdges[][4] = {{{0.25f, 2.9999998f, 0}, {0.5f, -29, 0}, {0.75f, 0, 0}, {0.1f, 1, 0}}, {{-1e-8f, 0.5f, 0}, {0.5f, 0.2f, 0}, {31, 0.1f, 0}, {63, 0, 0}},
                                                 {{0, 0.5f, 0}, {-0.0f, 0.5f, 0}, {32.5f, 0.25f, 0}, {100.25f, 0.5f, 0}}, {{3, 1e8f, 0}, {4, 5, 0}, {5, -7, 0}, {3.5f, 1e8f - 64, 0}}};
        const bool edge = textured && meshes++ % 2 == 0;
        const int nt = edge ? 4 : I(1, 6);
        for (int i = 0; textured && i < nt; ++i)
            m.tVerts.push_back(edge ? kEdges[meshes / 2 % 4][i] : host::Point3{U(-3, 40), U(-5, 5), 0});
        if (edge) m.faces = {F(0, 1, 2), F(0, 2, 3)}, m.tvFaces = {T(1, 0, 2), T(1, 2, 3)};
        const int nf = I(0, 8);
        for (int i = 0; i < nf; ++i) {
            auto v = [&] { return static_cast<uint32_t>(I(0, nv - 1)); };
            auto t = [&] { return static_cast<uint32_t>(I(0, nt - 1)); };
            m.faces.push_back(F(v(), v(), v(), static_cast<uint16_t>(I(0, 5))));
            if (textured) m.tvFaces.push_back(T(t(), t(), t()));
        }
        n->mtl = Material();
    }

    void Grow(fake::Node* parent, int depth, bool hidden) {
        const int n = I(depth == 0 ? 1 : 0, 3 - depth);
        for (int i = 0; i < n; ++i) {
            fake::Node* c = parent->Add(std::string("Node ") + std::to_string(rng() % 1000));
            Mesh(c);
            for (host::TimeValue t = 0; t <= 320; t += 160) c->keys[t] = Transform();
            if (depth < 2) Grow(c, depth + 1, hidden);
        }
        if (hidden && depth == 0) {
            parent->Add("Light");
            fake::Node* helper = parent->Add("Helper");
            helper->MakeMesh();
            helper->object->renderable = false;
            Mesh(helper->Add("Under helper"));
        }
    }

    Generated(unsigned seed, bool hidden) : rng(seed), files(seed) {
        host.range = {0, 480};
        Grow(&host.root, 0, hidden);
    }
};

qsx::ExportOptions Options(unsigned variant, int hierarchy) {
    qsx::ExportOptions o;
    o.hierarchyType = hierarchy;
    o.saveHeader = 1;
    o.saveAnimation = 1;
    o.hints = static_cast<int>(variant % 3);
    o.textureFlags = (variant * 7) % 32;
    o.extName = "PNG";
    o.centre = variant % 2;
    o.scaleType = variant % 4 == 3 ? 0 : 1;
    o.scaleFactor = variant % 4 == 3 ? 20.0f : 1.0f + static_cast<float>(variant % 3);
    return o;
}

// Every problem the readers find in one export's files.
std::vector<std::string> CheckExport(const std::map<std::string, std::string>& files) {
    std::vector<std::string> found;
    for (const auto& [path, text] : files) {
        if (!qsxhost::IsQsxScriptName(path)) continue;
        auto note = [&](const std::string& file, const Problems& p) {
            for (const Problem& pr : p.Listed()) found.push_back(file + ":" + std::to_string(pr.line) + ": " + pr.what);
        };
        Script s;
        Problems p;
        ReadScript(text, &s, &p);
        note(path, p);
        auto side = [&](const char* ext, auto read) {
            const std::string name = qsx::util::SideFileName(path, ext);
            const auto it = files.find(name);
            Problems sp;
            if (it != files.end()) read(it->second, &sp);
            note(name, sp);
        };
        side(".qsh", [&](const std::string& t, Problems* sp) {
            Header h;
            ReadHeader(t, &h, sp);
            CheckHeader(s, h, sp);
        });
        side(".qsv", [&](const std::string& t, Problems* sp) {
            Animation a;
            ReadAnimation(t, &a, sp);
            CheckAnimation(s, a, sp);
        });
    }
    return found;
}

TEST(QsxCheck, EverythingTheExporterWritesPasses) {
    for (unsigned seed = 1; seed <= 24; ++seed) {
        Generated g(seed, seed % 2 == 0);
        for (int mode = 0; mode < 4; ++mode) {
            g.host.preset = Options(seed, mode);
            fake::Run r;
            r.Export(g.host);
            const auto problems = CheckExport(r.fs.files);
            EXPECT_TRUE(problems.empty()) << "seed " << seed << " mode " << mode << ": " << problems.front();
        }
    }
    for (const char* example : {"robot.json", "full.json"}) {
        const qsxhost::SceneRead read =
            qsxhost::ReadJsonScene({std::string(QSX_SOURCE_DIR) + "/examples/" + example, nullptr, {}});
        ASSERT_TRUE(read.scene) << read.error;
        for (unsigned variant = 0; variant < 8; ++variant) {
            SourceHost h;
            h.scene = read.scene.get();
            h.preset = Options(variant, static_cast<int>(variant % 4));
            fake::Run r;
            r.exporter.DoExport("out/example.QSX", nullptr, &h, 0);
            const auto problems = CheckExport(r.fs.files);
            EXPECT_TRUE(problems.empty()) << example << " variant " << variant << ": " << problems.front();
        }
    }
}

// One fault planted in a copy of an export: the first line of `file` that
// starts (after its indentation) with `at` is replaced by `with` (an empty
// `with` deletes it, "\n" ends it in LF alone); the problem must name that line.
struct Fault {
    const char* file;  // ".QSX", ".qsh" or ".qsv"
    const char* at;
    const char* with;
    const char* problem;
    int skip = 0;   // matching lines to pass over first
    int later = 0;  // the problem stands this many lines after the planted one
    bool alone = false;  // the one problem of all three files: nothing follows from it
    const char* example = "robot";  // the example scene exported
};

TEST(QsxCheck, EachPlantedFaultIsFoundAtItsLine) {
    const Fault faults[] = {
        {".QSX", "Triangle", "Triangle 1 2 20", nullptr},  // each bound at its edge; null: the line passes
        {".QSX", "Triangle", "Triangle 1 2 21", "vertex 21 is not one of this node's vertices (1 to 20)"},
        {".QSX", "Triangle", "Triangle 21 22 40", nullptr, 12, 0, false, "flat"},
        {".QSX", "Triangle", "Triangle 20 22 23", "vertex 20 is not one of this node's vertices (21 to 40)", 12, 0, false, "flat"},
        {".QSX", "Vertex", "Vertex  1.000000  0.000000 -0.500000 UV  32.000000  32.000000", nullptr},
        {".QSX", "Vertex", "Vertex  1.000000  0.000000 -0.500000 UV  32.000004  2.000000", "from 0 to 32"},
        {".QSX", "Vertex", "Vertex  1.000000  0.000000 -0.500000 UV  0.000000 -0.000001", "from 0 to 32"},
        {".QSX", "Opacity", "Opacity 0.999999", nullptr, 0, 0, false, "full"},
        {".QSX", "Opacity", "Opacity    1", "an opacity of 1 or more", 0, 0, false, "full"},
        {".QSX", "Tag", "Tag 0", "not a tag number"},
        {".qsv", "Transform 2", "", "frame 0 has 1 transform where at least 2", 0, -2},
        {".QSX", "Triangle", "Triangle 1 2", "corner 3"},
        {".QSX", "Vertex", "Vertex  1.000000 nan  0.000000", "coordinate 2", 0, 0, true},
        {".QSX", "Vertex", "Vertex  1.000000  1.000000 \x1b[2J0.000000 UV  0.000000  1.000000", "control byte 0x1B at column 40", 0, 0, true},
        {".QSX", "Vertex", "Vertex  1.0  0.000000  0.000000", "coordinate 1"},
        {".QSX", "Vertex", "Vertex  1.000000  0.000000  0.000000", "without UV where the node's other Vertex lines have UV", 0, 0, true},
        {".QSX", "Vertex", "Vertex  1.000000  0.000000  0.000000 UV  40.000000  1.000000", "from 0 to 32"},
        {".QSX", "Transform ", "Transform  1.000000", "number 2 of 16"},
        {".QSX", "TransformEnd", "", "without its"},
        {".QSX", "ClumpBegin", "", "Tag outside a node's clump"},
        {".QSX", "Tag", "Tag 7", "Tag 7 where Tag 2 is expected", 1},
        {".QSX", "Tag", "Tag two", "not a tag number", 1, 0, true, "full"},
        {".QSX", "Hints", "Hints HX", "not NULL, HS or HS Editable"},
        {".QSX", "LightSampling", "", "has no LightSampling line"},
        {".QSX", "Color", "Color 0.5 0.5 0.5", "'%4g'"},
        {".QSX", "Diffuse", "Diffuse  0.5  0.5  0.5", "Diffuse differs"},
        {".QSX", "Ambient", "Ambient 0.0999999  0.1  0.1", "below 0.1"},
        {".QSX", "Texture", "Texture", "no texture name"},
        {".QSX", "TextureModes", "TextureModes Filter Lit", "in this order"},
        {".QSX", "TransformBegin", "    TransformBegin", "indented by"},
        {".QSX", "ModelEnd", "ModelEnd\r\nModelBegin", "text after ModelEnd", 0, 1},
        {".QSX", "ModelBegin", "\n", "LF alone"},
        {".QSX", "# Head", "", "'# NAME' comment", 0, 1},
        {".qsh", "#define TAG_Head", "#define TAG_Hat 2", "names tag 2"},
        {".qsh", "#define TAG_Head", "#define TAG_Head 3", "tag 3 where tag 2 is expected"},
        {".qsh", "#define TAG_Body", "#define TAG_Body one", "is not a number", 0, 0, true},
        {".qsv", "Transform 2", "Transform 3  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  1.000000  0.000000", "Transform 3 where Transform 2 is expected"},
        {".qsv", "Transform 1", "Transform 1\t 1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  1.000000  0.000000", "control byte 0x09 at column 12", 0, 0, true},
        {".qsv", "Transform 1", "Transform x  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  1.000000  0.000000", "not a node number", 0, 0, true},
        {".qsv", "Transform 2", "", "frame 1 has 1 transform where 2 are expected", 1},
        {".qsv", "Frame 0", "\xEF\xBB\xBF" "Frame 0", "byte-order mark", 0, 0, true},
        {".qsv", "Transform 1", "Transform 1  inf  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000  1.000000  0.000000", "number 1 of 12"},
        {".qsv", "Frame 2", "Frame 3", "Frame 3 where Frame 2 is expected"},
    };
    std::map<std::string, std::map<std::string, std::string>> exported;
    for (const std::string example : {"robot", "full", "flat"}) {
        const qsxhost::SceneRead read = qsxhost::ReadJsonScene(
            {std::string(QSX_SOURCE_DIR) + "/examples/" + (example == "flat" ? "robot" : example) + ".json", nullptr, {}});
        ASSERT_TRUE(read.scene) << read.error;
        SourceHost h;
        h.scene = read.scene.get();
        h.preset = Options(0, example == "flat" ? qsx::HIER_FLAT_SINGLE : qsx::HIER_PRESERVE);
        fake::Run r;
        r.exporter.DoExport(("out/" + example + ".QSX").c_str(), nullptr, &h, 0);
        ASSERT_TRUE(CheckExport(r.fs.files).empty()) << example;
        exported[example] = r.fs.files;
    }
    for (const Fault& f : faults) {
        auto files = exported.at(f.example);
        std::string& text = files.at("out/" + std::string(f.example) + f.file);
        size_t pos = 0;
        int line = 1, skip = f.skip;
        for (;; ++line) {
            ASSERT_LT(pos, text.size()) << f.at;
            const size_t body = text.find_first_not_of(' ', pos);
            if (text.compare(body, std::strlen(f.at), f.at) == 0 && skip-- == 0) break;
            pos = text.find("\r\n", pos) + 2;
        }
        const size_t end = text.find("\r\n", pos);
        const std::string with(f.with);
        if (with.empty()) {
            text.erase(pos, end + 2 - pos);
        } else if (with == "\n") {
            text.erase(end, 1);
        } else {
            text.replace(pos, end - pos, text.substr(pos, text.find_first_not_of(' ', pos) - pos) + with);
        }
        const auto problems = CheckExport(files);
        EXPECT_TRUE(f.problem || problems.empty()) << f.with << " -> " << (problems.empty() ? "" : problems.front());
        if (!f.problem) continue;
        const std::string want = ":" + std::to_string(line + f.later) + ": ";
        const bool found = std::any_of(problems.begin(), problems.end(), [&](const std::string& p) {
            return p.find(f.file) != std::string::npos && p.find(want) != std::string::npos &&
                   p.find(f.problem) != std::string::npos;
        });
        EXPECT_TRUE(found) << f.at << " -> " << f.with << ": wanted '" << f.problem << "' at line " << line
                           << "; found " << (problems.empty() ? std::string("nothing") : problems.front());
        if (f.alone && problems.size() > 1) ADD_FAILURE() << f.with << ": more than one problem, " << problems[1];
    }
}

// Hostile names exported and checked: a CR or LF is written as a blank; any other
// control byte is reported at its line (3 the node's name, 22 the Texture line).
// Whatever a host names its nodes and maps, the exporter's files pass its
// own check: control bytes are written as blanks; quotes and bytes that are
// not UTF-8 are text like any other. (Control bytes in a script made by hand
// are the checker's to report: see the planted faults.)
TEST(QsxCheck, HostileNamesAreMendedSoTheFilesPass) {
    const struct {
        std::string node, map;
    } cases[] = {
        {"a\r\nModelEnd\r\nb\n", "a\r\nModelEnd\rb.tga"},
        {"C\"q'\xC4\xD6\xFF", "\"it's\"\xE9.tga"},
        {std::string("a\0b", 3), "wood.tga"},
        {"Box", std::string("wo\0od.tga", 9)},
        {"a\x1b]0;owned\x07", "wood.tga"},
        {"Box", "\x1b[2Jwood.tga"},
        {"a\tb\x7f", "wood.tga"},
    };
    for (const auto& c : cases) {
        fake::Host h;
        fake::Node* n = h.root.Add(c.node);
        fake::Fan(n->MakeMesh(), 3);
        fake::Texmap map;
        map.file = c.map;
        fake::Mtl mtl;
        mtl.diffuseMap = {true, &map};
        n->mtl = &mtl;
        h.preset.saveHeader = 1;
        fake::Run r;
        ASSERT_EQ(r.Export(h), 1);
        const auto problems = CheckExport(r.fs.files);
        EXPECT_EQ(problems, std::vector<std::string>{}) << c.node << " " << c.map;
    }
}

// World-space triangles of every written node in visiting order, each with
// its texture name and the node's name: what a reread scene keeps whatever
// else of the scene the script cannot say.
struct Seen {
    std::vector<std::string> names;
    std::vector<host::Point3> corners;
    std::vector<std::string> textures;
};

void Visit(host::INode* node, Seen* seen) {
    for (int i = 0; i < node->NumberOfChildren(); ++i) {
        host::INode* c = node->GetChildNode(i);
        host::Object* o = c->EvalWorldState(0, 1);
        if (!o || !o->IsRenderable()) continue;
        seen->names.emplace_back(c->GetName());
        const host::Mesh& m = o->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh();
        const host::Matrix3 w = c->GetNodeTM(0);
        host::Mtl* mtl = c->GetMtl();
        for (const host::Face& f : m.faces) {
            if (f.v[0] == f.v[1] || f.v[0] == f.v[2] || f.v[1] == f.v[2]) continue;
            for (uint32_t v : f.v) seen->corners.push_back(m.verts[v] * w);
            host::Mtl* sub = mtl && mtl->ClassID() == host::MULTI_MATERIAL_CLASS_ID
                                 ? mtl->GetSubMtl(f.getMatID() % mtl->NumSubMtls())
                                 : mtl;
            host::Texmap* t = sub && sub->ClassID() == host::STANDARD_MATERIAL_CLASS_ID &&
                                      sub->MapEnabled(host::ID_DI)
                                  ? sub->GetSubTexmap(host::ID_DI)
                                  : nullptr;
            const std::string_view file = t ? t->GetMapName() : "";
            const size_t cut = file.find_last_of("\\/:");
            seen->textures.emplace_back(!t ? "(none)" : cut == std::string_view::npos ? file : file.substr(cut + 1));
        }
        Visit(c, seen);
    }
}

// The same lines, except that a nested script's relative transforms, which
// the exporter computes as world times the parent's inverse, may round to a
// neighbour in the last printed place: the reread world transform is only as
// exact as its printed parts, and that sum's float steps can exceed 1e-6:
// a few units of the float in the last place.
std::string ApartBeyondTheListed(const std::string& a, const std::string& b, bool nested, bool shown) {
    const auto la = fake::Lines(a), lb = fake::Lines(b);
    if (la.size() != lb.size()) return "line counts differ";
    for (size_t i = 0; i < la.size(); ++i) {
        if (la[i] == lb[i]) continue;
        const std::string apart = "line " + std::to_string(i + 1) + ":\n" + la[i] + "\n" + lb[i];
        if (const auto at = la[i].find_first_not_of(' '); shown && (la[i].compare(at, 15, "Texture NULL # ") == 0 || la[i].compare(at, 28, "TextureExt NULL Mask NULL # ") == 0)) continue;
        if (!nested || la[i].find("Transform") == std::string::npos) return apart;
        const char *pa = la[i].data(), *pb = lb[i].data();
        const char *ea = pa + la[i].size(), *eb = pb + lb[i].size();
        while (pa < ea && pb < eb) {
            if (*pa == ' ' || *pa == '-' || (*pa >= '0' && *pa <= '9')) {
                double x = 0, y = 0;
                while (pa < ea && *pa == ' ') ++pa;
                while (pb < eb && *pb == ' ') ++pb;
                pa = std::from_chars(pa, ea, x).ptr;
                pb = std::from_chars(pb, eb, y).ptr;
                const float fx = static_cast<float>(x);
                const double ulp = std::nextafter(std::abs(fx), 1e38f) - std::abs(fx);
                if (std::abs(x - y) > 1.5e-6 + 4 * ulp) return apart;
            } else if (*pa++ != *pb++) {
                return apart;
            }
        }
        if (pa != ea || pb != eb) return apart;
    }
    return "";
}

TEST(QsxScene, ReadBackExportsTheSameBytes) {
    for (unsigned seed = 100; seed < 140; ++seed) {
        for (int mode = 0; mode < 3; ++mode) {
            Generated g(seed, false);
            g.host.preset = Options(seed, mode);
            g.host.preset.scaleType = 1;
            g.host.preset.scaleFactor = 1.0f;
            g.host.preset.centre = 0;
            fake::Run first;
            first.Export(g.host);
            Script s;
            Animation a;
            Problems p;
            ReadScript(first.File("out/scene.QSX"), &s, &p);
            ReadAnimation(first.File("out/scene.qsv"), &a, &p);
            ASSERT_EQ(p.Count(), 0) << p.Listed()[0].line << ": " << p.Listed()[0].what;
            auto reread = qsxhost::MakeQsxScene(s, &a);
            SourceHost h;
            h.scene = reread.get();
            h.preset = g.host.preset;
            fake::Run again;
            again.exporter.DoExport("out/scene.QSX", nullptr, &h, 0);
            for (const char* f : {"out/scene.QSX", "out/scene.qsh", "out/scene.qsv"}) {
                EXPECT_EQ(ApartBeyondTheListed(first.File(f), again.File(f), mode == 0, g.host.preset.textureFlags & qsx::TEX_SHOW), "")
                    << "seed " << seed << " mode " << mode << " " << f;
            }
            // What the scene lost (texture vertices, how materials were
            // assigned, the hierarchy of a flat script, map paths): its
            // world-space triangles, names and texture names remain.
            Seen before, after;
            Visit(&g.host.root, &before);
            Visit(reread->GetRootNode(), &after);
            EXPECT_EQ(before.names, after.names);
            for (size_t i = 0; i < before.textures.size(); ++i) {
                std::string& t = before.textures[i];
                if (t == "NULL" || t.starts_with("NULL # ")) t = after.textures.at(i);  // read as a NULL form: listed
                else if (t != "(none)" && (g.host.preset.textureFlags & qsx::TEX_OVERRIDE_EXT)) t = t.substr(0, t.find('.')) + ".PNG";
            }
            EXPECT_EQ(before.textures, after.textures);
            ASSERT_EQ(before.corners.size(), after.corners.size());
            for (size_t i = 0; i < before.corners.size(); ++i)
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(before.corners[i][k], after.corners[i][k], 1e-4f * (1 + std::abs(before.corners[i][k])));
        }
    }
}

// --info counts the frames the exporter writes: the whole frames of the range.
TEST(JsonInfo, FramesAreTheFramesWritten) {
    for (const auto& [start, end, tpf] : {std::tuple{0, 0, 160}, {0, 159, 160}, {0, 160, 160}, {-160, 479, 160}, {INT32_MIN, INT32_MAX, INT32_MAX}}) {
        const std::string json = "{\"qsxScene\": 1, \"animation\": {\"start\": " + std::to_string(start) + ", \"end\": " + std::to_string(end) + ", \"ticksPerFrame\": " + std::to_string(tpf) + "}}";
        const qsxhost::SceneRead read = qsxhost::ReadJsonScene({"s.json", &json, {}});
        SourceHost h;
        h.scene = read.scene.get(), h.preset.saveAnimation = 1;
        fake::Run r;
        r.exporter.DoExport("out/s.QSX", nullptr, &h, 0);
        const auto animations = read.scene->Describe().animations;  // none listed for an empty range
        EXPECT_EQ(animations.empty() ? 0 : animations[0].frames, std::ranges::count(r.File("out/s.qsv"), 'F')) << start;
    }
}

// A script read back describes the scene it was written from: its node tree,
// the materials and textures the nodes use, and the frames of its animation.
TEST(QsxScene, ReadBackDescribesTheSceneWritten) {
    const qsxhost::SceneRead json =
        qsxhost::ReadJsonScene({std::string(QSX_SOURCE_DIR) + "/examples/robot.json", nullptr, {}});
    ASSERT_TRUE(json.scene) << json.error;
    SourceHost h;
    h.scene = json.scene.get();
    h.preset = Options(1, qsx::HIER_PRESERVE);
    h.preset.textureFlags = qsx::TEX_SHOW;
    fake::Run r;
    r.exporter.DoExport("out/robot.QSX", nullptr, &h, 0);
    Script s;
    Animation a;
    Problems p;
    ReadScript(r.File("out/robot.QSX"), &s, &p);
    ReadAnimation(r.File("out/robot.qsv"), &a, &p);
    ASSERT_EQ(p.Count(), 0);
    const qsxhost::SceneInfo want = json.scene->Describe(), got = qsxhost::MakeQsxScene(s, &a)->Describe();
    auto nodes = [](const qsxhost::SceneInfo& info) {
        std::vector<std::tuple<std::string, int64_t, int, int64_t, int64_t, std::vector<int64_t>>> out;
        for (const auto& n : info.nodes) out.emplace_back(n.name, n.parent, n.depth, n.meshes, n.triangles, n.materials);
        return out;
    };
    auto materials = [](const qsxhost::SceneInfo& info) {
        std::vector<std::string> out;
        for (const auto& m : info.materials) {
            out.push_back(m.kind);
            for (const auto& t : m.textures) out.back() += " " + t.channel + " " + t.file;
        }
        return out;
    };
    EXPECT_EQ(nodes(got), nodes(want));
    EXPECT_EQ(materials(got), materials(want));
    ASSERT_EQ(got.animations.size(), 1u);
    ASSERT_EQ(want.animations.size(), 1u);
    EXPECT_EQ(got.animations[0].frames, want.animations[0].frames);
    EXPECT_EQ(got.animations[0].nodes, want.animations[0].nodes);
    EXPECT_EQ(got.animations[0].fps, want.animations[0].fps);
}

// A line end, control byte or lone CR at the edge of the file's first 1 MB piece reads as it does anywhere.
// The node's name is padded so that tail[mark], ending vertex line `at`, lands at the edge + shift.
TEST(QsxCheck, LinesAtThePieceEdgeReadAsAnywhere) {
    constexpr size_t kPiece = size_t{1} << 20;
    const std::tuple<const char*, size_t, int, const char*> cases[] = {  // tail, mark, shift, problem
        {"\r\n", 0, -1, ""}, {"\r\n", 0, 0, ""}, {"\n", 0, -1, "ends in LF alone, not CR LF"},
        {"\x1b\r\n", 0, -1, "holds control byte 0x1B at column 45"}, {"\x1b\r\n", 0, 0, "holds control byte 0x1B at column 45"},
        {"\r \r\n", 0, -1, "holds control byte 0x0D at column 45"}, {"\r\r\n", 1, 0, "holds control byte 0x0D at column 45"}};
    const std::string vertex = "        Vertex  1.000000  2.000000  3.000000", path = ::testing::TempDir() + "qsx_piece.QSX";
    const size_t at = kPiece / (vertex.size() + 2) - 10;
    const auto head = [](size_t pad) {
        std::string t = "ModelBegin\r\n    # n" + std::string(pad, 'x') + "\r\n    \r\n    TransformBegin\r\n        Transform";
        for (int i = 0; i < 16; ++i) t += i % 5 == 0 ? "  1.000000" : "  0.000000";
        return t + "\r\n        \r\n        Hints NULL\r\n";
    };
    for (const auto& [tail, mark, shift, problem] : cases) {
        std::string t = head(kPiece + shift - head(0).size() - at * (vertex.size() + 2) - vertex.size() - mark);
        for (size_t i = 0; i < at + 20; ++i) t += vertex + (i == at ? tail : "\r\n");
        std::ofstream(path, std::ios::binary) << t + "        \r\n        Triangle 1 2 3\r\n    TransformEnd\r\nModelEnd\r\n";
        ASSERT_EQ(t[kPiece + shift], tail[mark]);
        Script s;
        Problems p;
        ASSERT_EQ(ReadScriptFile(path, Detail::Counts, &s, &p, nullptr), qsx::util::ReadState::Read);
        const std::string got = p.Count() == 0 ? "" : std::to_string(p.Listed()[0].line) + ": " + p.Listed()[0].what;
        EXPECT_EQ(std::to_string(p.Count()) + " " + got, *problem ? "1 " + std::to_string(at + 8) + ": the line " + problem : "0 ");
    }
    std::remove(path.c_str());
}

// The number forms at their edges; a fixed number read for its form alone is accepted or refused alike.
TEST(QsxCheck, NumbersAtTheEdgesOfTheirForms) {
    const std::pair<const char*, float> fixed[] = {  // NAN: refused
        {"  0.000000", 0.0f}, {" -0.000000", -0.0f}, {" -123.456789", -123.456789f}, {"  999999999.999999", 1e9f},
        {"  340282346638528859811704183484516925440.000000", std::numeric_limits<float>::max()},  // and halfway past it:
        {"  340282356779733661637539395458142568448.000000", NAN}, {"  1.00000:", NAN}, {"  1.00000/", NAN}, {"  1.0000009", NAN}};
    for (const auto& [text, want] : fixed) {
        for (float got = NAN; const bool value : {true, false}) {
            const char* p = text;
            EXPECT_EQ(ReadFixed(p, text + std::strlen(text), value ? &got : nullptr) && !*p, !std::isnan(want)) << text;
            EXPECT_TRUE(std::isnan(want) || (got == want && std::signbit(got) == std::signbit(want))) << text;
        }
    }
    const std::pair<const char*, int64_t> ints[] = {{"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"12345678 9", 12345678},
        {"2147483648", -1}, {"9999999999", -1}, {"12345678901", -1}, {"18446744073709551617", -1}};  // -1: refused; 2^64+1
    for (auto [text, want] : ints) {
        int32_t got = -1;
        EXPECT_EQ(ReadInt(text, text + std::strlen(text), &got) ? got : -1, want) << want;
    }
}

}  // namespace
