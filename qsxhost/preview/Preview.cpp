// Drawing with the fixed-function pipeline of Mesa's offscreen renderer: the
// triangles of every script in world space, grouped by texture and by wire or
// solid drawing, with per-vertex colours, one light at the viewer, and the
// picture drawn at twice its size and averaged down for smooth edges.
#include "qsxhost/preview/Preview.h"

#include <GL/gl.h>
#include <GL/osmesa.h>
#include <dirent.h>
#include <png.h>
#include <stb/stb_image.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <map>
#include <memory>

#include "qsxhost/preview/Blocks.h"
#include "qsxhost/sources/qsx/QsxReader.h"
#include "util/posix/AtomicFile.h"
#include "util/Paths.h"
#include "util/Text.h"

namespace qsxhost {

namespace {

using host::Point3;

// What faces without a material block are drawn in, and the background.
constexpr float kNeutral[3] = {0.72f, 0.72f, 0.72f};
constexpr float kBackground[3] = {0.87f, 0.89f, 0.92f};

// Triangles drawn the same way: one texture ("" none), solid or wire. They
// are held as vertex numbers into the scene's positions, in runs of one
// colour; the per-corner arrays the renderer takes are made a slice at a
// time when drawn.
struct Run {
    float rgba[4];
    int64_t triangles;
    int64_t uvShift;  // a vertex's U, V pair is uv[number + uvShift]
};
struct Corners {
    uint32_t v[3];
};
struct Batch {
    preview::Blocks<Corners> corners;
    std::vector<Run> runs;
};
using BatchKey = std::pair<std::string, bool>;  // texture file, wire

struct Scene {
    preview::Blocks<Point3> pos;  // every vertex in world space
    struct UV {
        float u, v;
    };
    preview::Blocks<UV> uv;  // of the vertices of textured nodes
    std::map<BatchKey, Batch> batches;
    Point3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    int64_t triangles = 0, visible = 0;  // visible: not fully transparent
    // A texture file found: the script and the name in it that asked for it, until a note about it is made.
    std::map<std::string, std::pair<std::string, std::string>> textureOf;
    std::vector<PreviewNote> notes;
};

// A texture named in a script, as a file beside it: the name itself, else a
// file whose name differs only in letter case (an extension may have been
// written in capitals).
std::string FindTexture(const std::string& dir, const std::string& name) {
    const std::string exact = dir + "/" + name;
    if (::access(exact.c_str(), R_OK) == 0) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) return {};
    while (const dirent* e = ::readdir(d.get()))
        if (qsx::util::EqualsNoCase(e->d_name, name)) return dir + "/" + e->d_name;
    return {};
}

Point3 Cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Takes in a script's vertices and triangles as they are read, so that only
// the compact form is ever held. A node's lines come together: its U, V pairs
// are let go when it ends without a texture drawn on it.
class SceneBuilder final : public script::ScriptSink {
public:
    SceneBuilder(const std::string& path, Scene* scene)
        : path_(path), dir_(qsx::util::DirName(path)), scene_(*scene) {}

    void OnVertex(const script::Script& s, int32_t n, const script::Vertex& v, bool uv) override {
        if (n != node_) Begin(s, n, uv);
        const Point3 p = v.p * world_[static_cast<size_t>(n)];
        for (int k = 0; k < 3; ++k) {
            scene_.lo[k] = std::min(scene_.lo[k], p[k]);
            scene_.hi[k] = std::max(scene_.hi[k], p[k]);
        }
        scene_.pos.push_back(p);
        if (uv_) scene_.uv.push_back({v.u, v.v});
    }

    void OnTriangle(const script::Script& s, int32_t n, const script::Triangle& t) override {
        if (n != node_) Begin(s, n, false);
        const script::Node& node = s.nodes[static_cast<size_t>(n)];
        const script::Material* m = t.material < 0 ? nullptr : &node.materials[static_cast<size_t>(t.material)];
        // Material blocks follow the Vertex lines: the slots grow as the triangles name them.
        if (static_cast<size_t>(t.material + 1) >= slots_.size()) slots_.resize(static_cast<size_t>(t.material + 2));
        Slot& slot = slots_[static_cast<size_t>(t.material + 1)];
        if (!slot.batch) {
            std::string file;
            if (m && !m->none && m->textureShown && !m->texture.empty() && uv_) file = Texture(m->texture);
            slot.batch = &scene_.batches[{file, m && !m->none && m->wire}];
            slot.rgba[0] = slot.rgba[1] = slot.rgba[2] = kNeutral[0];
            slot.rgba[3] = 1.0f;
            if (!file.empty()) {
                slot.rgba[0] = slot.rgba[1] = slot.rgba[2] = 1.0f;  // the texture's own colours
                textured_ = slot.textured = true;
            } else if (m && !m->none) {
                slot.rgba[0] = m->color.x, slot.rgba[1] = m->color.y, slot.rgba[2] = m->color.z;
            }
            if (m && !m->none) slot.rgba[3] = m->opacity;
        }
        Batch& b = *slot.batch;
        Corners c;
        for (int k = 0; k < 3; ++k) c.v[k] = static_cast<uint32_t>(posBase_ + t.v[k] - node.vertexBase - 1);
        b.corners.push_back(c);
        const int64_t shift = slot.textured ? uvBase_ - posBase_ : 0;
        if (b.runs.empty() || b.runs.back().uvShift != shift ||
            !std::equal(slot.rgba, slot.rgba + 4, b.runs.back().rgba))
            b.runs.push_back({{slot.rgba[0], slot.rgba[1], slot.rgba[2], slot.rgba[3]}, 0, shift});
        ++b.runs.back().triangles;
        ++scene_.triangles;
        if (slot.rgba[3] > 0.0f) ++scene_.visible;
    }

    // The last node's end.
    void Finish() { End(); }

private:
    struct Slot {
        Batch* batch = nullptr;
        bool textured = false;
        float rgba[4] = {};
    };
    std::string path_, dir_;
    Scene& scene_;
    std::vector<host::Matrix3> world_;
    std::map<std::string, std::string> found_;  // texture name: the file, "" none
    int32_t node_ = -1;
    int64_t posBase_ = 0, uvBase_ = 0;
    bool uv_ = false, textured_ = false;
    std::vector<Slot> slots_;  // by the node's material block + 1

    void Begin(const script::Script& s, int32_t n, bool uv) {
        End();
        node_ = n;
        // World transforms of the nodes so far: a parent comes before its children.
        for (size_t i = world_.size(); i <= static_cast<size_t>(n); ++i) {
            const script::Node& x = s.nodes[i];
            world_.push_back(x.parent < 0 ? x.transform : x.transform * world_[static_cast<size_t>(x.parent)]);
        }
        posBase_ = static_cast<int64_t>(scene_.pos.size());
        uvBase_ = static_cast<int64_t>(scene_.uv.size());
        uv_ = uv;
        textured_ = false;
        slots_.clear();
    }

    void End() {
        if (node_ >= 0 && !textured_) scene_.uv.truncate(static_cast<size_t>(uvBase_));
        node_ = -1;
    }

    // A texture named in the script, as a file beside it; a name without one is noted once.
    std::string Texture(const std::string& name) {
        auto [it, added] = found_.try_emplace(name);
        if (!added) return it->second;
        it->second = FindTexture(dir_, name);
        if (it->second.empty()) {
            scene_.notes.push_back({path_, "note: texture " + qsx::util::Quoted(name) +
                                               " is drawn without its picture: no such file beside the script"});
        } else {
            scene_.textureOf.try_emplace(it->second, path_, name);
        }
        return it->second;
    }
};

// The view matrix (column-major, as GL takes it) of an eye at e looking at c, y up.
void LookAt(const Point3& e, const Point3& c, float out[16]) {
    auto norm = [](Point3 v) {
        const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        return Point3{v.x / l, v.y / l, v.z / l};
    };
    const Point3 f = norm(c - e);
    const Point3 s = norm(Cross(f, {0, 1, 0}));
    const Point3 u = Cross(s, f);
    const float m[16] = {s.x, u.x, -f.x, 0, s.y, u.y, -f.y, 0, s.z, u.z, -f.z, 0,
                         -(s.x * e.x + s.y * e.y + s.z * e.z), -(u.x * e.x + u.y * e.y + u.z * e.z),
                         f.x * e.x + f.y * e.y + f.z * e.z, 1};
    std::copy(m, m + 16, out);
}

void Draw(Scene& scene, int w, int h, std::vector<PreviewNote>* notes) {
    glViewport(0, 0, w, h);
    glClearColor(kBackground[0], kBackground[1], kBackground[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene.batches.empty() || scene.lo.x > scene.hi.x) return;
    const Point3 centre = {(scene.lo.x + scene.hi.x) / 2, (scene.lo.y + scene.hi.y) / 2, (scene.lo.z + scene.hi.z) / 2};
    const Point3 d = scene.hi - scene.lo;
    float r = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z) / 2;
    if (!(r > 0)) r = 1;
    // A three-quarter view: from the front (+z), to the right and above.
    const float fovy = 30.0f * 3.14159265f / 180.0f;
    const float aspect = static_cast<float>(w) / static_cast<float>(h);
    const float half = std::min(fovy / 2, std::atan(std::tan(fovy / 2) * aspect));
    const float dist = r / std::sin(half) * 1.04f;
    const Point3 dir = {0.55f, 0.45f, 0.70f};
    const float dl = std::sqrt(dir.x * dir.x + dir.y * dir.y + dir.z * dir.z);
    const Point3 eye = {centre.x + dir.x / dl * dist, centre.y + dir.y / dl * dist, centre.z + dir.z / dl * dist};
    const double nearZ = std::max(dist - r * 1.5, dist * 0.001), farZ = dist + r * 1.5;
    const double top = nearZ * std::tan(fovy / 2);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-top * aspect, top * aspect, -top, top, nearZ, farZ);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // The light sits at the viewer, set in eye space before the view is.
    const float lightDir[4] = {0, 0, 1, 0}, lightDiffuse[4] = {0.8f, 0.8f, 0.8f, 1}, ambient[4] = {0.3f, 0.3f, 0.3f, 1};
    glLightfv(GL_LIGHT0, GL_POSITION, lightDir);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, lightDiffuse);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    float view[16];
    LookAt(eye, centre, view);
    glLoadMatrixf(view);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    // The renderer reads client arrays when it is called, so one slice's arrays serve every draw.
    constexpr int64_t kSlice = 65536;  // triangles
    // Made once at a slice's size and written in place for each slice.
    std::vector<float> pos(kSlice * 9), normal(kSlice * 9), colour(kSlice * 12), uv(kSlice * 6);
    for (const auto& [key, b] : scene.batches) {
        GLuint tex = 0;
        int tw = 0, th = 0, channels = 0;
        unsigned char* pixels = key.first.empty() ? nullptr : stbi_load(key.first.c_str(), &tw, &th, &channels, 4);
        if (!key.first.empty() && !pixels) {
            // Noted once per file, though it may be drawn both solid and as wire.
            auto it = scene.textureOf.find(key.first);
            if (it != scene.textureOf.end()) {
                const char* why = stbi_failure_reason();
                notes->push_back({it->second.first, "note: texture " + qsx::util::Quoted(it->second.second) +
                                                       " is drawn without its picture: " + key.first + ": " +
                                                       (why ? why : "not readable")});
                scene.textureOf.erase(it);
            }
        }
        if (pixels) {
            glGenTextures(1, &tex);
            glBindTexture(GL_TEXTURE_2D, tex);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
            stbi_image_free(pixels);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);  // small textures keep their texels
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
            glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
            glEnable(GL_TEXTURE_2D);
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        glPolygonMode(GL_FRONT_AND_BACK, key.second ? GL_LINE : GL_FILL);
        size_t run = 0;
        int64_t leftInRun = b.runs.empty() ? 0 : b.runs[0].triangles;
        const int64_t total = static_cast<int64_t>(b.corners.size());
        for (int64_t first = 0; first < total; first += kSlice) {
            const int64_t count = std::min(kSlice, total - first);
            float* po = pos.data();
            float* no = normal.data();
            float* co = colour.data();
            float* uo = uv.data();
            for (int64_t t = first; t < first + count; ++t) {
                while (leftInRun == 0) leftInRun = b.runs[++run].triangles;
                --leftInRun;
                const Run& in = b.runs[run];
                const uint32_t* c = b.corners[static_cast<size_t>(t)].v;
                const Point3 p[3] = {scene.pos[c[0]], scene.pos[c[1]], scene.pos[c[2]]};
                const Point3 n = Cross(p[1] - p[0], p[2] - p[0]);
                for (int k = 0; k < 3; ++k) {
                    *po++ = p[k].x, *po++ = p[k].y, *po++ = p[k].z;
                    *no++ = n.x, *no++ = n.y, *no++ = n.z;
                    co = std::copy(in.rgba, in.rgba + 4, co);
                    if (tex) {
                        const Scene::UV& at = scene.uv[static_cast<size_t>(static_cast<int64_t>(c[k]) + in.uvShift)];
                        *uo++ = at.u, *uo++ = at.v;
                    }
                }
            }
            if (tex) glTexCoordPointer(2, GL_FLOAT, 0, uv.data());
            glVertexPointer(3, GL_FLOAT, 0, pos.data());
            glNormalPointer(GL_FLOAT, 0, normal.data());
            glColorPointer(4, GL_FLOAT, 0, colour.data());
            glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(count * 3));
        }
        if (tex) {
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            glDisable(GL_TEXTURE_2D);
            glDeleteTextures(1, &tex);
        }
    }
    glFinish();
}

void AppendPng(png_structp png, png_bytep data, png_size_t size) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

// The RGB rows (top first) as PNG bytes; libpng reports its faults by longjmp,
// so nothing here owns resources that a jump would skip.
bool EncodePng(const std::vector<unsigned char>& rgb, int w, int h, std::string* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, AppendPng, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePreview(const std::vector<std::string>& scripts, const std::string& pngPath, int width, int height,
                  std::string* error, bool* scriptRefused, std::vector<PreviewNote>* notes) {
    if (scriptRefused) *scriptRefused = false;
    std::vector<PreviewNote> ownNotes;
    if (!notes) notes = &ownNotes;
    Scene scene;
    for (const std::string& path : scripts) {
        std::string why;
        script::Script s;
        script::Problems problems;
        SceneBuilder builder(path, &scene);
        std::string tolerated;  // an editor's LF line ends or byte-order mark: drawn with one warning
        if (script::ReadScriptFile(path, script::Detail::Counts, &s, &problems, &why, &builder, &tolerated) !=
            qsx::util::ReadState::Read) {
            *error = path + ": " + (why.empty() ? "no such file" : why);
            if (scriptRefused) *scriptRefused = true;
            return false;
        }
        builder.Finish();
        if (!tolerated.empty()) notes->push_back({path, "warning: " + tolerated});
        if (problems.Count() > 0) {
            const script::Problem& p = problems.Listed()[0];
            *error = path;
            if (p.line > 0) error->append(":").append(std::to_string(p.line));
            error->append(": ").append(p.what);
            if (problems.Count() > 1)
                error->append(" (and ").append(std::to_string(problems.Count() - 1)).append(" more; qsxexport --check lists them)");
            error->append("; no preview drawn");
            if (scriptRefused) *scriptRefused = true;
            return false;
        }
    }
    notes->insert(notes->end(), scene.notes.begin(), scene.notes.end());
    // Drawn at twice the size where that stays modest, then averaged down.
    const int ss = static_cast<int64_t>(width) * height <= 4'000'000 ? 2 : 1;
    const int w = width * ss, h = height * ss;
    std::vector<unsigned char> buffer(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    if (!ctx) {
        *error = pngPath + ": not drawn: no offscreen OpenGL context (OSMesa)";
        return false;
    }
    if (!OSMesaMakeCurrent(ctx, buffer.data(), GL_UNSIGNED_BYTE, w, h)) {
        OSMesaDestroyContext(ctx);
        *error = pngPath + ": not drawn: the offscreen renderer refused a " + std::to_string(w) + "x" +
                 std::to_string(h) + " picture";
        return false;
    }
    OSMesaPixelStore(OSMESA_Y_UP, 0);
    Draw(scene, w, h, notes);
    OSMesaDestroyContext(ctx);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                unsigned sum = 0;
                for (int dy = 0; dy < ss; ++dy)
                    for (int dx = 0; dx < ss; ++dx)
                        sum += buffer[(static_cast<size_t>(y * ss + dy) * static_cast<size_t>(w) +
                                       static_cast<size_t>(x * ss + dx)) * 4 + static_cast<size_t>(c)];
                rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3 +
                    static_cast<size_t>(c)] = static_cast<unsigned char>((sum + static_cast<unsigned>(ss * ss) / 2) /
                                                                         static_cast<unsigned>(ss * ss));
            }
    std::string png, why;
    if (!EncodePng(rgb, width, height, &png)) {
        *error = pngPath + ": not written: the PNG could not be encoded";
        return false;
    }
    if (!qsx::util::PublishFile(pngPath, png.data(), png.size(), &why)) {
        *error = pngPath + ": not written: " + why;
        return false;
    }
    if (scene.triangles > 0 && scene.visible == 0)
        notes->push_back({pngPath, "warning: the picture shows no surface: every material drawn is fully transparent (Opacity 0)"});
    return true;
}

}  // namespace qsxhost
