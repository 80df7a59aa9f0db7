// The scene a script stands for. Each transform block becomes a node (nested
// as written), its Vertex and Triangle lines a mesh, its material blocks a
// standard material or, when they switch between triangles, a multi/sub-object
// material with one slot per block.
#include "qsxhost/sources/qsx/QsxScene.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "qsxhost/sources/qsx/QsxSource.h"

namespace qsxhost {

namespace {

using script::kTicksPerFrame;
using script::QsxNode;
using script::QsxScene;
using script::Script;

// A printed 0.000000 or -0.000000 stands for some value of that sign too small
// to print. A true zero would lose its sign in the exporter's sums with other
// zeros (-0 + 0 is +0); the smallest normal-range value of the same sign passes
// through its axis changes (products with 0 and 1, sums with 0) unchanged.
float Signed(float x) {
    if (x != 0.0f) return x;
    return std::signbit(x) ? -1e-30f : 1e-30f;
}

// The output frame turned back into host axes: output (X, Y, Z) is host (X, -Z, Y).
host::Point3 ToHost(const host::Point3& p) { return {Signed(p.x), -Signed(p.z), Signed(p.y)}; }

// A transform of the output frame T as the host node matrix W whose output
// transform it is (T = N^-1 W N at scale 1 without centring, so W = N T N^-1).
host::Matrix3 HostMatrix(const host::Matrix3& t) {
    host::Matrix3 w;
    // Rows: the output x, y, z axes and translation turned into host axes, in
    // host order: host x is output x, host y is -(output z), host z is output y.
    const host::Point3 r[4] = {ToHost(t[0]), ToHost(t[1]), ToHost(t[2]), ToHost(t[3])};
    w.SetRow(0, r[0]);
    w.SetRow(1, {-r[2].x, -r[2].y, -r[2].z});
    w.SetRow(2, r[1]);
    w.SetRow(3, r[3]);
    return w;
}

// What "% 4.6f" prints for x, sign included.
std::string Printed(float x) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(x), std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

bool PrintsAs(const host::Point3& row, const host::Point3& want) {
    for (int c = 0; c < 3; ++c) {
        // Six decimals in common put two values within 1e-6 of each other:
        // farther apart, they print differently without printing them.
        if (std::fabs(static_cast<double>(row[c]) - static_cast<double>(want[c])) > 2e-6) return false;
        if (Printed(row[c]) != Printed(want[c])) return false;
    }
    return true;
}

host::Matrix3 SignedMatrix(host::Matrix3 m) {
    for (int r = 0; r < 4; ++r) m.SetRow(r, {Signed(m[r].x), Signed(m[r].y), Signed(m[r].z)});
    return m;
}

// A nested node's world transform, own (relative) times its parent's. The
// exporter divides the parent's back out (world times the parent's inverse),
// which rounds: where that would print another relative transform, the world
// transform's row is moved by a few units in the last place until it prints
// the one written. Rows are independent in that product.
host::Matrix3 NestedWorld(const host::Matrix3& own, const host::Matrix3& parentWorld) {
    constexpr int kReach = 8;  // units in the last place tried each way
    host::Matrix3 world = SignedMatrix(own * parentWorld);
    const host::Matrix3 inverse = host::Inverse(parentWorld);
    // Row r of world times inverse, as the whole product gives it, without
    // the other rows: a direction row through the 3x3 part alone (a
    // translation of -0 adds nothing to any sum, -0 included), the
    // translation row through all of it.
    host::Matrix3 linear = inverse;
    linear.SetRow(3, {-0.0f, -0.0f, -0.0f});
    const auto relative = [&](int r, const host::Point3& p) { return p * (r < 3 ? linear : inverse); };
    for (int r = 0; r < 4; ++r) {
        if (PrintsAs(relative(r, world[r]), own[r])) continue;
        const host::Point3 base = world[r];
        // Each value's steps either way, taken once: moved[k][kReach + s] is s steps from base[k].
        float moved[3][2 * kReach + 1];
        for (int k = 0; k < 3; ++k) {
            moved[k][kReach] = base[k];
            for (int n = 1; n <= kReach; ++n) {
                moved[k][kReach + n] = Signed(std::nextafter(moved[k][kReach + n - 1], 1e38f));
                moved[k][kReach - n] = Signed(std::nextafter(moved[k][kReach - n + 1], -1e38f));
            }
        }
        bool found = false;
        for (int a = 0; a <= 2 * kReach && !found; ++a)
            for (int b = 0; b <= 2 * kReach && !found; ++b)
                for (int c = 0; c <= 2 * kReach && !found; ++c) {
                    const host::Point3 p = {moved[0][a], moved[1][b], moved[2][c]};
                    found = PrintsAs(relative(r, p), own[r]);
                    if (found) world.SetRow(r, p);
                }
    }
    return world;
}

// World transforms of the output frame, by node.
std::vector<host::Matrix3> World(const std::vector<int32_t>& parents, const std::vector<host::Matrix3>& transforms) {
    std::vector<host::Matrix3> world(transforms.size());
    for (size_t i = 0; i < transforms.size(); ++i) {
        const int32_t p = parents[i];
        world[i] = p < 0 ? SignedMatrix(transforms[i]) : NestedWorld(transforms[i], world[static_cast<size_t>(p)]);
    }
    return world;
}

// Texture vertices for the written U and V, one per Vertex line, chosen so
// that the exporter's shift and wrap print them as written. It moves U by
// -floor(smallest U) and turns V into floor(largest) + 1 - V, wrapping either
// above 32 by steps of 32: with every U below 1 and every V above 0, the
// texture vertex (U, 1 - V) gets shifts of 0 and 1 and comes back unchanged. A
// U of 1 and a V of 0 as printed stand for values a float step inside, which
// print the same. A U of -0 prints only behind a shift of -0, which needs a
// texture vertex with U +0 to come first.
std::vector<host::Point3> TextureVertices(const std::vector<script::Vertex>& lines, std::vector<uint32_t>* order) {
    std::vector<host::Point3> tv;
    tv.reserve(lines.size());
    order->resize(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const float u = lines[i].u == 1.0f ? std::nextafter(1.0f, 0.0f) : lines[i].u;
        const float v = lines[i].v > 0.0f ? 1.0f - lines[i].v : std::nextafter(1.0f, 0.0f);
        tv.push_back({u, v, 0.0f});
        (*order)[i] = static_cast<uint32_t>(i);
    }
    const auto is = [&](size_t i, bool negative) { return tv[i].x == 0.0f && std::signbit(tv[i].x) == negative; };
    size_t plus = 0;
    while (plus < tv.size() && !is(plus, false)) ++plus;
    bool minus = false;
    for (size_t i = 0; i < plus && !minus; ++i) minus = is(i, true);
    if (minus && plus < tv.size()) {
        std::swap(tv[0], tv[plus]);
        std::swap((*order)[0], (*order)[plus]);
    }
    return tv;
}

}  // namespace

host::Texmap* script::QsxScene::Bitmap(const std::string& name) {
    SceneTexmap& m = maps.emplace_back();
    m.cls = host::BITMAP_TEXTURE_CLASS_ID;
    // The exporter names a texture by what follows the last '\' (else ':')
    // of its path; a name holding ':' keeps it behind a leading '\'.
    m.file = name.find(':') == std::string::npos ? name : "\\" + name;
    return &m;
}

host::Mtl* script::QsxScene::Standard(const script::Material& b) {
    SceneMtl& m = mtls.emplace_back();
    m.cls = host::STANDARD_MATERIAL_CLASS_ID;
    m.twoSided = b.twoSided;
    m.wire = b.wire;
    m.shading = b.facet ? 0 : 1;
    m.opacity = b.opacity;
    m.ambient = b.ambient;
    m.diffuse = b.color;
    m.specular = b.specular;
    if (b.textures != script::Material::Textures::None) m.diffuseMap = {true, Bitmap(b.texture)};
    if (b.textures == script::Material::Textures::TextureAndMask) m.opacityMap = {true, Bitmap(b.mask)};
    return &m;
}

// One block before every triangle is a standard material; blocks that
// switch between triangles are the slots of a multi/sub-object material,
// slot 0 empty for the triangles before the first block.
host::Mtl* script::QsxScene::MaterialOf(const script::Node& n, std::vector<uint32_t>* faceIds) {
    faceIds->assign(n.triangles.size(), 0);
    if (n.materials.empty()) return nullptr;
    const bool single = n.materials.size() == 1 && !n.materials[0].none &&
                        (n.triangleCount == 0 || n.firstMaterial == 0);
    if (single) return Standard(n.materials[0]);
    SceneMtl& multi = mtls.emplace_back();
    multi.cls = host::MULTI_MATERIAL_CLASS_ID;
    multi.subs.push_back(nullptr);
    for (const script::Material& b : n.materials) multi.subs.push_back(b.none ? nullptr : Standard(b));
    for (size_t i = 0; i < n.triangles.size(); ++i)
        (*faceIds)[i] = static_cast<uint32_t>(n.triangles[i].material + 1);
    return &multi;
}

SceneObject* script::QsxScene::Mesh(const script::Node& n, const std::vector<uint32_t>& faceIds) {
    SceneObject& o = objects.emplace_back();
    host::Mesh& mesh = o.mesh;
    mesh.verts.reserve(n.vertices.size());
    for (const script::Vertex& v : n.vertices) mesh.verts.push_back(ToHost(v.p));
    // Each Vertex line is a vertex with a texture vertex of its own, its
    // number in `texture`.
    std::vector<uint32_t> texture;
    if (n.uv) mesh.tVerts = TextureVertices(n.vertices, &texture);
    std::vector<bool> used(n.uv ? n.vertices.size() : 0, false);
    for (size_t i = 0; i < n.triangles.size(); ++i) {
        host::Face f;
        host::TVFace tf;
        for (int c = 0; c < 3; ++c) {
            f.v[c] = static_cast<uint32_t>(n.triangles[i].v[c] - n.vertexBase - 1);
            if (n.uv) {
                tf.t[c] = texture[f.v[c]];
                used[f.v[c]] = true;
            }
        }
        f.flags = (faceIds[i] & 0xFFFF) << 16;
        mesh.faces.push_back(f);
        if (n.uv) mesh.tvFaces.push_back(tf);
    }
    // A line that no triangle uses came from faces the exporter left out; a
    // face on that vertex alone keeps its line, and is left out again.
    for (uint32_t i = 0; i < used.size(); ++i) {
        if (used[i]) continue;
        host::Face f;
        f.v[0] = f.v[1] = f.v[2] = i;
        mesh.faces.push_back(f);
        mesh.tvFaces.push_back({{texture[i], texture[i], texture[i]}});
    }
    stats.vertices += static_cast<int64_t>(mesh.verts.size());
    stats.faces += static_cast<int64_t>(n.triangles.size());
    ++stats.meshes;
    return &o;
}

void script::QsxScene::AddFrames(const script::Animation& animation) {
    // An animation read for its counts alone (a description) gives the range, not the frames.
    const bool kept = !animation.frames.empty() && animation.frames[0].transforms.size() == parents.size();
    for (size_t f = 1; kept && f < animation.frames.size(); ++f) {
        const std::vector<host::Matrix3> w = World(parents, animation.frames[f].transforms);
        for (size_t i = 0; i < parents.size(); ++i) nodes[i].frames.push_back(HostMatrix(w[i]));
    }
    range = {0, static_cast<host::TimeValue>(animation.frames.size() * kTicksPerFrame)};
}

std::unique_ptr<SceneSource> MakeQsxScene(const Script& s, const script::Animation* animation) {
    auto scene = std::make_unique<QsxScene>();
    std::vector<host::Matrix3> own;
    own.reserve(s.nodes.size());
    for (const script::Node& n : s.nodes) {
        own.push_back(n.transform);
        scene->parents.push_back(n.parent);
    }
    const std::vector<host::Matrix3> world = World(scene->parents, own);
    std::vector<uint32_t> faceIds;
    const bool flat = std::none_of(s.nodes.begin(), s.nodes.end(), [](const script::Node& n) { return n.parent >= 0; });
    for (size_t i = 0; i < s.nodes.size(); ++i) {
        const script::Node& n = s.nodes[i];
        QsxNode& node = scene->nodes.emplace_back();
        node.name = n.name;
        node.frames.push_back(HostMatrix(world[i]));
        node.mtl = scene->MaterialOf(n, &faceIds);
        node.object = scene->Mesh(n, faceIds);
        if (s.detail == script::Detail::Geometry) {
            node.vertices = static_cast<int64_t>(node.object->mesh.verts.size());
            node.faces = static_cast<int64_t>(node.object->mesh.faces.size());
        } else {
            // What Mesh would have made: a face for each vertex that no triangle uses, where UV is written.
            node.vertices = n.vertexCount;
            node.faces = n.triangleCount + (n.uv ? n.unusedVertices : 0);
        }
        // A flat script without the wrapper had one top-level node: the blocks
        // after the first were its descendants (how deep is not written).
        const bool underFirst = !s.wrapper && n.parent < 0 && i > 0 && flat;
        QsxNode* parent = underFirst ? &scene->nodes[0]
                          : n.parent < 0 ? &scene->root
                                         : &scene->nodes[static_cast<size_t>(n.parent)];
        node.parent = parent;
        parent->children.push_back(&node);
    }
    // The script wraps its nodes when the scene had several top-level nodes,
    // written or not: stand-ins without an object keep that count.
    while (s.wrapper && scene->root.children.size() < 2) {
        QsxNode& stand = scene->nodes.emplace_back();
        stand.name = "(not written)";
        stand.frames.push_back(host::Matrix3());
        stand.parent = &scene->root;
        scene->root.children.push_back(&stand);
    }
    if (animation) scene->AddFrames(*animation);
    scene->stats.nodes = static_cast<int64_t>(s.nodes.size());
    scene->stats.materials = static_cast<int64_t>(scene->mtls.size());
    return scene;
}

}  // namespace qsxhost
