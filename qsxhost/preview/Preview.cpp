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
#include <cstdio>
#include <map>
#include <memory>

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

// Triangles drawn the same way: one texture (0 none), solid or wire.
struct Batch {
    std::vector<float> pos, normal, colour, uv;
};
using BatchKey = std::pair<std::string, bool>;  // texture file, wire

struct Scene {
    std::map<BatchKey, Batch> batches;
    Point3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
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

void Add(const script::Script& s, const std::string& dir, Scene* scene) {
    std::vector<host::Matrix3> world(s.nodes.size());
    for (size_t i = 0; i < s.nodes.size(); ++i) {
        const script::Node& n = s.nodes[i];
        world[i] = n.parent < 0 ? n.transform : n.transform * world[static_cast<size_t>(n.parent)];
        std::vector<Point3> p;
        p.reserve(n.vertices.size());
        for (const script::Vertex& v : n.vertices) {
            p.push_back(v.p * world[i]);
            for (int k = 0; k < 3; ++k) {
                scene->lo[k] = std::min(scene->lo[k], p.back()[k]);
                scene->hi[k] = std::max(scene->hi[k], p.back()[k]);
            }
        }
        // Each material block's batch, looked up once per block.
        std::vector<Batch*> batchOf(n.materials.size() + 1, nullptr);
        for (const script::Triangle& t : n.triangles) {
            const script::Material* m = t.material < 0 ? nullptr : &n.materials[static_cast<size_t>(t.material)];
            Batch*& b = batchOf[static_cast<size_t>(t.material + 1)];
            std::string file;
            if (m && !m->none && m->textureShown && !m->texture.empty() && n.uv) file = FindTexture(dir, m->texture);
            if (!b) b = &scene->batches[{file, m && !m->none && m->wire}];
            float rgba[4] = {kNeutral[0], kNeutral[1], kNeutral[2], 1.0f};
            if (!file.empty()) {
                rgba[0] = rgba[1] = rgba[2] = 1.0f;  // the texture's own colours
            } else if (m && !m->none) {
                rgba[0] = m->color.x, rgba[1] = m->color.y, rgba[2] = m->color.z;
            }
            if (m && !m->none) rgba[3] = m->opacity;
            Point3 c[3];
            for (int k = 0; k < 3; ++k) c[k] = p[static_cast<size_t>(t.v[k] - n.vertexBase - 1)];
            const Point3 normal = Cross(c[1] - c[0], c[2] - c[0]);
            for (int k = 0; k < 3; ++k) {
                const script::Vertex& v = n.vertices[static_cast<size_t>(t.v[k] - n.vertexBase - 1)];
                b->pos.insert(b->pos.end(), {c[k].x, c[k].y, c[k].z});
                b->normal.insert(b->normal.end(), {normal.x, normal.y, normal.z});
                b->colour.insert(b->colour.end(), rgba, rgba + 4);
                b->uv.insert(b->uv.end(), {v.u, v.v});
            }
        }
    }
}

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

void Draw(const Scene& scene, int w, int h) {
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
    for (const auto& [key, b] : scene.batches) {
        GLuint tex = 0;
        int tw = 0, th = 0, channels = 0;
        unsigned char* pixels = key.first.empty() ? nullptr : stbi_load(key.first.c_str(), &tw, &th, &channels, 4);
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
            glTexCoordPointer(2, GL_FLOAT, 0, b.uv.data());
        }
        glPolygonMode(GL_FRONT_AND_BACK, key.second ? GL_LINE : GL_FILL);
        glVertexPointer(3, GL_FLOAT, 0, b.pos.data());
        glNormalPointer(GL_FLOAT, 0, b.normal.data());
        glColorPointer(4, GL_FLOAT, 0, b.colour.data());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(b.pos.size() / 3));
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
                  std::string* error, bool* scriptRefused) {
    if (scriptRefused) *scriptRefused = false;
    Scene scene;
    for (const std::string& path : scripts) {
        std::string text, why;
        if (qsx::util::ReadWholeFile(path, text, SIZE_MAX, &why) != qsx::util::ReadState::Read) {
            *error = path + ": " + (why.empty() ? "no such file" : why);
            if (scriptRefused) *scriptRefused = true;
            return false;
        }
        script::Script s;
        script::Problems problems;
        std::string tolerated;
        script::ReadScript(text, &s, &problems, &tolerated);
        if (!tolerated.empty()) std::fprintf(stderr, "qsxexport: %s: warning: %s\n", path.c_str(), tolerated.c_str());
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
        Add(s, qsx::util::DirName(path), &scene);
    }
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
    Draw(scene, w, h);
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
    return true;
}

}  // namespace qsxhost
