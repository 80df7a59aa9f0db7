#include "bench/bench_scene.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace bench {

Node* Node::Add(std::string childName) {
    auto n = std::make_unique<Node>();
    n->name = std::move(childName);
    n->parent = this;
    children.push_back(std::move(n));
    return children.back().get();
}

namespace {

constexpr double kPi = 3.14159265358979323846;

void Walk(const Node& n, Stats& s) {
    for (const auto& c : n.children) {
        ++s.nodes;
        if (c->object) {
            const host::Mesh& m = c->object->mesh;
            s.vertices += static_cast<int64_t>(m.verts.size());
            s.faces += static_cast<int64_t>(m.faces.size());
            s.texVertices += static_cast<int64_t>(m.tVerts.size());
            if (static_cast<int64_t>(m.verts.size()) > s.largestMeshVertices) {
                s.largestMeshVertices = static_cast<int64_t>(m.verts.size());
                s.largestMeshTexVertices = static_cast<int64_t>(m.tVerts.size());
            }
        }
        Walk(*c, s);
    }
}

host::Matrix3 Placement(double angle, double x, double y, double z) {
    host::Matrix3 m;
    const float c = static_cast<float>(std::cos(angle)), s = static_cast<float>(std::sin(angle));
    m.SetRow(0, {c, s, 0});
    m.SetRow(1, {-s, c, 0});
    m.SetRow(2, {0, 0, 1});
    m.SetTrans({static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)});
    return m;
}

// Eight bitmap maps, eight standard materials (one two-sided, one flat, one
// half transparent with an opacity map) and three multi/sub-object materials,
// one with an absent sub-material and one with fewer subs than material ids.
void AddMaterials(Scene& s) {
    for (int i = 0; i < 8; ++i) {
        auto m = std::make_unique<Texmap>();
        m->file = "C:\\3dsmax\\maps\\bench\\surface" + std::to_string(i) + ".tga";
        s.maps.push_back(std::move(m));
    }
    auto add = [&]() -> Mtl* {
        auto m = std::make_unique<Mtl>();
        m->index = static_cast<int>(s.materials.size());
        s.materials.push_back(std::move(m));
        return s.materials.back().get();
    };
    for (int i = 0; i < 8; ++i) {
        Mtl* m = add();
        const float k = static_cast<float>(i) / 8.0f;
        m->ambient = {0.05f * static_cast<float>(i), 0.1f, 0.15f};
        m->diffuse = {0.2f + k * 0.6f, 0.75f - k * 0.5f, 0.5f};
        m->specular = {0.9f, 0.9f, 0.9f};
        m->diffuseMap = s.maps[static_cast<size_t>(i)].get();
        m->diffuseMapIndex = i;
        if (i == 2) m->twoSided = true;
        if (i == 3) m->shading = 0;
        if (i == 5) {
            m->opacity = 0.65f;
            m->opacityMap = s.maps[7].get();
            m->opacityMapIndex = 7;
        }
    }
    auto std = [&](int i) { return s.materials[static_cast<size_t>(i)].get(); };
    Mtl* a = add();
    a->multi = true;
    a->subs = {std(0), std(1), std(2), std(3)};
    Mtl* b = add();
    b->multi = true;
    b->subs = {std(4), std(5), nullptr, std(6)};
    Mtl* c = add();
    c->multi = true;
    c->subs = {std(7), std(1), std(5)};
}

Mtl* MaterialFor(Scene& s, int node) {
    // Every fifth node a standard material, the others one of the multis.
    if (node % 5 == 4) return s.materials[static_cast<size_t>(node % 8)].get();
    return s.materials[static_cast<size_t>(8 + node % 3)].get();
}

// A torus of w x h quads: w x h mesh vertices, (w+1) x (h+1) texture vertices,
// so that the seams give mesh vertices two texture vertices and one vertex four.
// Material ids change every h/4 rows.
void Torus(host::Mesh& m, int w, int h, double major, double minor, double tile) {
    m.verts.reserve(static_cast<size_t>(w * h));
    for (int j = 0; j < h; ++j) {
        const double phi = 2 * kPi * j / h;
        for (int i = 0; i < w; ++i) {
            const double theta = 2 * kPi * i / w;
            const double ring = major + minor * std::cos(phi);
            m.verts.push_back({static_cast<float>(ring * std::cos(theta)), static_cast<float>(ring * std::sin(theta)),
                               static_cast<float>(minor * std::sin(phi))});
        }
    }
    m.tVerts.reserve(static_cast<size_t>((w + 1) * (h + 1)));
    for (int j = 0; j <= h; ++j)
        for (int i = 0; i <= w; ++i)
            m.tVerts.push_back({static_cast<float>(tile * i / w), static_cast<float>(tile * j / h), 0.0f});
    m.faces.reserve(static_cast<size_t>(2 * w * h));
    m.tvFaces.reserve(static_cast<size_t>(2 * w * h));
    auto vid = [&](int i, int j) { return static_cast<uint32_t>((j % h) * w + (i % w)); };
    auto tid = [&](int i, int j) { return static_cast<uint32_t>(j * (w + 1) + i); };
    for (int j = 0; j < h; ++j) {
        const uint32_t flags = static_cast<uint32_t>(j / (h / 4)) << 16;
        for (int i = 0; i < w; ++i) {
            host::Face f;
            host::TVFace t;
            f.flags = flags;
            f.smGroup = 1;
            f.v[0] = vid(i, j), f.v[1] = vid(i + 1, j), f.v[2] = vid(i + 1, j + 1);
            t.t[0] = tid(i, j), t.t[1] = tid(i + 1, j), t.t[2] = tid(i + 1, j + 1);
            m.faces.push_back(f);
            m.tvFaces.push_back(t);
            f.v[0] = vid(i, j), f.v[1] = vid(i + 1, j + 1), f.v[2] = vid(i, j + 1);
            t.t[0] = tid(i, j), t.t[1] = tid(i + 1, j + 1), t.t[2] = tid(i, j + 1);
            m.faces.push_back(f);
            m.tvFaces.push_back(t);
        }
    }
}

// A box of 8 vertices and 12 triangles, each side mapped on the unit square
// through 4 shared texture vertices: every corner meets three of them.
void Box(host::Mesh& m, float sx, float sy, float sz) {
    for (int k = 0; k < 8; ++k)
        m.verts.push_back({(k & 1) ? sx : -sx, (k & 2) ? sy : -sy, (k & 4) ? sz : -sz});
    m.tVerts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    static const uint32_t quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                         {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (int q = 0; q < 6; ++q) {
        for (int half = 0; half < 2; ++half) {
            host::Face f;
            host::TVFace t;
            const int c[3] = {0, half ? 2 : 1, half ? 3 : 2};
            for (int k = 0; k < 3; ++k) {
                f.v[k] = quads[q][c[k]];
                t.t[k] = static_cast<uint32_t>(c[k]);
            }
            f.flags = static_cast<uint32_t>(q) << 16;
            f.smGroup = 1u << q;
            m.faces.push_back(f);
            m.tvFaces.push_back(t);
        }
    }
}

void GenerateHeavy(Scene& s, double scale) {
    int n = 0;
    const int groups = std::max(1, static_cast<int>(std::lround(16 * scale)));
    for (int g = 0; g < groups; ++g) {
        Node* top = s.root.Add("Torus" + std::to_string(n));
        top->world = Placement(0.1 * g, 40.0 * (g % 8) - 150.0, 40.0 * (g / 8) - 150.0, 2.5 * (g % 3));
        for (int c = -1; c < 15; ++c) {
            Node* node = c < 0 ? top : top->Add("Torus" + std::to_string(n));
            if (c >= 0) {
                node->world = Placement(0.1 * g + 0.3 * c, 40.0 * (g % 8) - 150.0 + 2.0 * c,
                                        40.0 * (g / 8) - 150.0 - 1.5 * c, 3.0 + 0.25 * c);
            }
            if (n % 7 == 3) node->offsetPos = {0.5f, -0.25f, 0.125f};
            node->object = std::make_unique<Object>();
            Torus(node->object->mesh, 64, 64, 3.0 + (n % 5) * 0.75, 0.8 + (n % 3) * 0.3, 1.0 + (n % 4));
            node->mtl = MaterialFor(s, n);
            ++n;
        }
    }
}

void GenerateWide(Scene& s, double scale) {
    int n = 0;
    const int groups = std::max(1, static_cast<int>(std::lround(1000 * scale)));
    for (int g = 0; g < groups; ++g) {
        Node* top = nullptr;
        for (int c = -1; c < 99; ++c) {
            Node* node = c < 0 ? (top = s.root.Add("Box" + std::to_string(n))) : top->Add("Box" + std::to_string(n));
            node->world = Placement(0.05 * n, 4.0 * (g % 40) - 80.0 + 0.01 * c, 4.0 * (g / 40) - 80.0, 0.03 * c);
            node->object = std::make_unique<Object>();
            const float k = 0.25f + 0.01f * static_cast<float>(n % 50);
            Box(node->object->mesh, k, k * 0.5f, k * 1.5f);
            node->mtl = MaterialFor(s, n);
            ++n;
        }
    }
}

// ---------------------------------------------------------------- output

// A buffered file written in large blocks.
class Out {
public:
    explicit Out(const std::string& path) : f_(std::fopen(path.c_str(), "wb")) { buf_.reserve(kBlock + 4096); }
    explicit Out(std::string* sink) : f_(nullptr), sink_(sink) {}
    ~Out() {
        if (f_) std::fclose(f_);
    }
    bool Ok() const { return (f_ != nullptr || sink_ != nullptr) && ok_; }
    void Put(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= kBlock) Drain();
    }
    void Put(char c) {
        buf_.push_back(c);
        if (buf_.size() >= kBlock) Drain();
    }
    void Bytes(const void* p, size_t n) { Put(std::string_view(static_cast<const char*>(p), n)); }
    void Int(int64_t v) {
        char b[24];
        Put(std::string_view(b, static_cast<size_t>(std::to_chars(b, b + sizeof b, v).ptr - b)));
    }
    // The shortest text that reads back as this float through a double.
    void Float(float v) {
        char b[40];
        char* end = std::to_chars(b, b + sizeof b, v).ptr;
        double back = 0;
        std::from_chars(b, end, back);
        if (static_cast<float>(back) != v) end = std::to_chars(b, b + sizeof b, static_cast<double>(v)).ptr;
        Put(std::string_view(b, static_cast<size_t>(end - b)));
    }
    void Point(const host::Point3& p) {
        Put('[');
        Float(p.x);
        Put(',');
        Float(p.y);
        Put(',');
        Float(p.z);
        Put(']');
    }
    bool Close() {
        Drain();
        if (sink_) return true;
        if (!f_) return false;
        const bool closed = std::fclose(f_) == 0;
        f_ = nullptr;
        return ok_ && closed;
    }

private:
    static constexpr size_t kBlock = 1 << 20;
    void Drain() {
        if (sink_) sink_->append(buf_);
        if (f_ && !buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) ok_ = false;
        buf_.clear();
    }
    FILE* f_;
    std::string* sink_ = nullptr;
    std::string buf_;
    bool ok_ = true;
};

void JsonString(Out& o, std::string_view s) {
    o.Put('"');
    for (char c : s) {
        if (c == '"' || c == '\\') o.Put('\\');
        o.Put(c);
    }
    o.Put('"');
}

void JsonMesh(Out& o, const host::Mesh& m) {
    o.Put("{\"vertices\":[");
    for (size_t i = 0; i < m.verts.size(); ++i) {
        if (i) o.Put(',');
        o.Point(m.verts[i]);
    }
    o.Put("],\n\"faces\":[");
    for (size_t i = 0; i < m.faces.size(); ++i) {
        if (i) o.Put(',');
        o.Put('[');
        o.Int(m.faces[i].v[0]);
        o.Put(',');
        o.Int(m.faces[i].v[1]);
        o.Put(',');
        o.Int(m.faces[i].v[2]);
        o.Put(']');
    }
    o.Put("],\n\"materialIds\":[");
    for (size_t i = 0; i < m.faces.size(); ++i) {
        if (i) o.Put(',');
        o.Int(m.faces[i].getMatID());
    }
    o.Put("],\n\"smoothing\":[");
    for (size_t i = 0; i < m.faces.size(); ++i) {
        if (i) o.Put(',');
        o.Int(m.faces[i].smGroup);
    }
    o.Put("],\n\"tverts\":[");
    for (size_t i = 0; i < m.tVerts.size(); ++i) {
        if (i) o.Put(',');
        o.Put('[');
        o.Float(m.tVerts[i].x);
        o.Put(',');
        o.Float(m.tVerts[i].y);
        if (m.tVerts[i].z != 0.0f) {
            o.Put(',');
            o.Float(m.tVerts[i].z);
        }
        o.Put(']');
    }
    o.Put("],\n\"tfaces\":[");
    for (size_t i = 0; i < m.tvFaces.size(); ++i) {
        if (i) o.Put(',');
        o.Put('[');
        o.Int(m.tvFaces[i].t[0]);
        o.Put(',');
        o.Int(m.tvFaces[i].t[1]);
        o.Put(',');
        o.Int(m.tvFaces[i].t[2]);
        o.Put(']');
    }
    o.Put("]}");
}

void JsonNode(Out& o, const Node& n) {
    o.Put("{\"name\":");
    JsonString(o, n.name);
    o.Put(",\"transform\":[");
    for (int r = 0; r < 4; ++r) {
        if (r) o.Put(',');
        o.Point(n.world[r]);
    }
    o.Put(']');
    if (!(n.offsetPos == host::Point3{})) {
        o.Put(",\"offsetPosition\":");
        o.Point(n.offsetPos);
    }
    if (n.mtl) {
        o.Put(",\"material\":");
        o.Int(n.mtl->index);
    }
    if (n.object) {
        o.Put(",\"object\":{\"renderable\":true,\"mesh\":");
        JsonMesh(o, n.object->mesh);
        o.Put('}');
    }
    if (!n.children.empty()) {
        o.Put(",\"children\":[\n");
        for (size_t i = 0; i < n.children.size(); ++i) {
            if (i) o.Put(",\n");
            JsonNode(o, *n.children[i]);
        }
        o.Put(']');
    }
    o.Put('}');
}

// ---------------------------------------------------------------- glTF

struct Blob {
    std::string bytes;
    size_t Add(const void* p, size_t n) {
        while (bytes.size() % 4) bytes.push_back('\0');
        const size_t at = bytes.size();
        bytes.append(static_cast<const char*>(p), n);
        return at;
    }
};

// glTF nodes carry transforms relative to their parent, column-major.
void GlbMatrix(Out& o, const host::Matrix3& local) {
    o.Put("\"matrix\":[");
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            o.Float(local[r][c]);
            o.Put(',');
        }
        o.Put(r == 3 ? "1]" : "0,");
    }
}

}  // namespace

Stats Scene::Measure() const {
    Stats s;
    Walk(root, s);
    return s;
}

bool ParseKind(const std::string& text, Kind* kind) {
    if (text == "heavy") *kind = Kind::Heavy;
    else if (text == "wide") *kind = Kind::Wide;
    else return false;
    return true;
}

std::unique_ptr<Scene> Generate(Kind kind, double scale) {
    auto s = std::make_unique<Scene>();
    AddMaterials(*s);
    if (kind == Kind::Heavy) GenerateHeavy(*s, scale);
    else GenerateWide(*s, scale);
    return s;
}

bool WriteJson(const Scene& scene, const std::string& path, std::string* error) {
    Out o(path);
    if (!o.Ok()) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    o.Put("{\"qsxScene\":1,\n\"animation\":{\"start\":0,\"end\":0,\"ticksPerFrame\":160},\n\"maps\":[");
    for (size_t i = 0; i < scene.maps.size(); ++i) {
        if (i) o.Put(',');
        o.Put("{\"class\":\"bitmap\",\"file\":");
        JsonString(o, scene.maps[i]->file);
        o.Put('}');
    }
    o.Put("],\n\"materials\":[");
    for (size_t i = 0; i < scene.materials.size(); ++i) {
        const Mtl& m = *scene.materials[i];
        if (i) o.Put(",\n");
        if (m.multi) {
            o.Put("{\"class\":\"multi\",\"subs\":[");
            for (size_t k = 0; k < m.subs.size(); ++k) {
                if (k) o.Put(',');
                if (m.subs[k]) o.Int(m.subs[k]->index);
                else o.Put("null");
            }
            o.Put("]}");
            continue;
        }
        o.Put("{\"class\":\"standard\",\"twoSided\":");
        o.Put(m.twoSided ? "true" : "false");
        o.Put(",\"shading\":");
        o.Int(m.shading);
        o.Put(",\"opacity\":");
        o.Float(m.opacity);
        o.Put(",\"ambient\":");
        o.Point(m.ambient);
        o.Put(",\"diffuse\":");
        o.Point(m.diffuse);
        o.Put(",\"specular\":");
        o.Point(m.specular);
        if (m.diffuseMap) {
            o.Put(",\"diffuseMap\":{\"enabled\":true,\"map\":");
            o.Int(m.diffuseMapIndex);
            o.Put('}');
        }
        if (m.opacityMap) {
            o.Put(",\"opacityMap\":{\"enabled\":true,\"map\":");
            o.Int(m.opacityMapIndex);
            o.Put('}');
        }
        o.Put('}');
    }
    o.Put("],\n\"nodes\":[\n");
    for (size_t i = 0; i < scene.root.children.size(); ++i) {
        if (i) o.Put(",\n");
        JsonNode(o, *scene.root.children[i]);
    }
    o.Put("]}\n");
    if (!o.Close()) {
        *error = path + ": write failed";
        return false;
    }
    return true;
}

bool WriteGlb(const Scene& scene, const std::string& path, std::string* error) {
    // Pre-order list of nodes, with their glTF indices.
    std::vector<const Node*> nodes;
    std::unordered_map<const Node*, size_t> indexOf;
    std::vector<const Node*> stack;
    for (auto it = scene.root.children.rbegin(); it != scene.root.children.rend(); ++it) stack.push_back(it->get());
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        indexOf[n] = nodes.size();
        nodes.push_back(n);
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(it->get());
    }

    // glTF materials: the standard materials, in their scene order.
    std::vector<int> gltfMaterial(scene.materials.size(), -1);
    int standardCount = 0;
    for (size_t i = 0; i < scene.materials.size(); ++i)
        if (!scene.materials[i]->multi) gltfMaterial[i] = standardCount++;

    Blob blob;
    std::string meshes, accessors, views;
    size_t accessorCount = 0;
    auto addAccessor = [&](const void* data, size_t bytes, size_t count, int componentType, const char* type,
                           int target, const std::string& extra) {
        const size_t at = blob.Add(data, bytes);
        if (!views.empty()) views += ',';
        views += "{\"buffer\":0,\"byteOffset\":" + std::to_string(at) + ",\"byteLength\":" + std::to_string(bytes) +
                 ",\"target\":" + std::to_string(target) + "}";
        if (!accessors.empty()) accessors += ',';
        accessors += "{\"bufferView\":" + std::to_string(accessorCount) + ",\"componentType\":" +
                     std::to_string(componentType) + ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type +
                     "\"" + extra + "}";
        return accessorCount++;
    };
    auto floatText = [](float v) {
        char b[40];
        return std::string(b, std::to_chars(b, b + sizeof b, static_cast<double>(v)).ptr);
    };

    std::vector<int> meshOf(nodes.size(), -1);
    int meshCount = 0;
    for (size_t ni = 0; ni < nodes.size(); ++ni) {
        const Node& n = *nodes[ni];
        if (!n.object) continue;
        const host::Mesh& m = n.object->mesh;
        const bool multi = n.mtl && n.mtl->multi;
        const size_t groups = multi ? n.mtl->subs.size() : 1;
        std::string prims;
        for (size_t g = 0; g < groups; ++g) {
            std::unordered_map<uint64_t, uint32_t> corner;
            std::vector<float> pos, uv;
            std::vector<uint32_t> idx;
            float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
            for (size_t f = 0; f < m.faces.size(); ++f) {
                if (multi && m.faces[f].getMatID() % groups != g) continue;
                for (int c = 0; c < 3; ++c) {
                    const uint32_t v = m.faces[f].v[c], t = m.tvFaces[f].t[c];
                    const uint64_t key = (static_cast<uint64_t>(v) << 32) | t;
                    auto [it, fresh] = corner.emplace(key, static_cast<uint32_t>(pos.size() / 3));
                    if (fresh) {
                        const host::Point3 p = m.verts[v] + n.offsetPos;
                        for (int k = 0; k < 3; ++k) {
                            pos.push_back(p[k]);
                            lo[k] = std::min(lo[k], p[k]);
                            hi[k] = std::max(hi[k], p[k]);
                        }
                        uv.push_back(m.tVerts[t].x);
                        uv.push_back(1.0f - m.tVerts[t].y);  // glTF's v runs downwards
                    }
                    idx.push_back(it->second);
                }
            }
            if (idx.empty()) continue;
            const std::string minMax = ",\"min\":[" + floatText(lo[0]) + "," + floatText(lo[1]) + "," +
                                       floatText(lo[2]) + "],\"max\":[" + floatText(hi[0]) + "," + floatText(hi[1]) +
                                       "," + floatText(hi[2]) + "]";
            const size_t pa = addAccessor(pos.data(), pos.size() * 4, pos.size() / 3, 5126, "VEC3", 34962, minMax);
            const size_t ta = addAccessor(uv.data(), uv.size() * 4, uv.size() / 2, 5126, "VEC2", 34962, "");
            const size_t ia = addAccessor(idx.data(), idx.size() * 4, idx.size(), 5125, "SCALAR", 34963, "");
            const Mtl* mat = multi ? n.mtl->subs[g] : n.mtl;
            if (!prims.empty()) prims += ',';
            prims += "{\"attributes\":{\"POSITION\":" + std::to_string(pa) + ",\"TEXCOORD_0\":" + std::to_string(ta) +
                     "},\"indices\":" + std::to_string(ia) + ",\"mode\":4";
            if (mat) prims += ",\"material\":" + std::to_string(gltfMaterial[static_cast<size_t>(mat->index)]);
            prims += '}';
        }
        if (prims.empty()) continue;
        if (!meshes.empty()) meshes += ',';
        meshes += "{\"primitives\":[" + prims + "]}";
        meshOf[ni] = meshCount++;
    }

    std::string json;
    {
        Out o(&json);
        o.Put("{\"asset\":{\"version\":\"2.0\",\"generator\":\"qsx_gen_scene\"},\"scene\":0,\"scenes\":[{\"nodes\":[");
        for (size_t i = 0; i < scene.root.children.size(); ++i) {
            if (i) o.Put(',');
            o.Int(static_cast<int64_t>(indexOf[scene.root.children[i].get()]));
        }
        o.Put("]}],\n\"nodes\":[");
        for (size_t ni = 0; ni < nodes.size(); ++ni) {
            const Node& n = *nodes[ni];
            if (ni) o.Put(",\n");
            o.Put("{\"name\":");
            JsonString(o, n.name);
            o.Put(',');
            const host::Matrix3 local =
                n.parent && !n.parent->root ? n.world * host::Inverse(n.parent->world) : n.world;
            GlbMatrix(o, local);
            if (meshOf[ni] >= 0) {
                o.Put(",\"mesh\":");
                o.Int(meshOf[ni]);
            }
            if (!n.children.empty()) {
                o.Put(",\"children\":[");
                for (size_t k = 0; k < n.children.size(); ++k) {
                    if (k) o.Put(',');
                    o.Int(static_cast<int64_t>(indexOf[n.children[k].get()]));
                }
                o.Put(']');
            }
            o.Put('}');
        }
        o.Put("],\n\"meshes\":[");
        o.Put(meshes);
        o.Put("],\n\"materials\":[");
        bool first = true;
        for (const auto& m : scene.materials) {
            if (m->multi) continue;
            if (!first) o.Put(',');
            first = false;
            o.Put("{\"name\":\"Material");
            o.Int(m->index);
            o.Put("\",\"doubleSided\":");
            o.Put(m->twoSided ? "true" : "false");
            o.Put(",\"pbrMetallicRoughness\":{\"baseColorFactor\":[");
            o.Float(m->diffuse.x);
            o.Put(',');
            o.Float(m->diffuse.y);
            o.Put(',');
            o.Float(m->diffuse.z);
            o.Put(',');
            o.Float(m->opacity);
            o.Put("],\"metallicFactor\":0,\"roughnessFactor\":0.5");
            if (m->diffuseMap) {
                o.Put(",\"baseColorTexture\":{\"index\":");
                o.Int(m->diffuseMapIndex);
                o.Put('}');
            }
            o.Put('}');
            if (m->opacity < 1.0f) o.Put(",\"alphaMode\":\"BLEND\"");
            o.Put('}');
        }
        o.Put("],\n\"textures\":[");
        for (size_t i = 0; i < scene.maps.size(); ++i) {
            if (i) o.Put(',');
            o.Put("{\"sampler\":0,\"source\":");
            o.Int(static_cast<int64_t>(i));
            o.Put('}');
        }
        o.Put("],\"samplers\":[{\"wrapS\":10497,\"wrapT\":10497}],\n\"images\":[");
        for (size_t i = 0; i < scene.maps.size(); ++i) {
            if (i) o.Put(',');
            o.Put("{\"uri\":\"surface");
            o.Int(static_cast<int64_t>(i));
            o.Put(".png\"}");
        }
        o.Put("],\n\"accessors\":[");
        o.Put(accessors);
        o.Put("],\n\"bufferViews\":[");
        o.Put(views);
        o.Put("],\n\"buffers\":[{\"byteLength\":");
        while (blob.bytes.size() % 4) blob.bytes.push_back('\0');
        o.Int(static_cast<int64_t>(blob.bytes.size()));
        o.Put("}]}");
        o.Close();
    }
    while (json.size() % 4) json.push_back(' ');

    Out o(path);
    if (!o.Ok()) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    auto u32 = [&](uint32_t v) { o.Bytes(&v, 4); };
    const uint64_t total = 12 + 8 + json.size() + 8 + blob.bytes.size();
    if (total > UINT32_MAX) {
        *error = path + ": the scene is too large for one binary glTF file";
        return false;
    }
    u32(0x46546C67u);  // "glTF"
    u32(2);
    u32(static_cast<uint32_t>(total));
    u32(static_cast<uint32_t>(json.size()));
    u32(0x4E4F534Au);  // "JSON"
    o.Put(json);
    u32(static_cast<uint32_t>(blob.bytes.size()));
    u32(0x004E4942u);  // "BIN\0"
    o.Put(blob.bytes);
    if (!o.Close()) {
        *error = path + ": write failed";
        return false;
    }
    return true;
}

}  // namespace bench
