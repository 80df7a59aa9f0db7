// Writes the end-to-end benchmark's subdivided surface as a modeller saves a
// flat-shaded mesh to OBJ: a torus of N x N quads, one normal per face, a
// texture coordinate per grid point with seams where the grid wraps.
//   qsx_gen_surface FILE [N]      (N = 354: 125,316 quads, 250,632 triangles)
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Put(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    out += ' ';
    out.append(buf, r.ptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [N]\n", argv[0]);
        return 2;
    }
    int n = 354;
    if (argc == 3) {
        const char* end = argv[2] + std::strlen(argv[2]);
        if (std::from_chars(argv[2], end, n).ptr != end || n < 3 || n > 4000) {
            std::fprintf(stderr, "%s: N is a whole number from 3 to 4000\n", argv[0]);
            return 2;
        }
    }
    const double kPi = 3.14159265358979323846;
    const double big = 3.0, small = 1.0;
    const auto point = [&](int i, int j, double* p) {
        const double u = 2 * kPi * i / n, v = 2 * kPi * j / n;
        // A ripple makes the faces of one ring differ, as a sculpted surface's do.
        const double r = small * (1.0 + 0.05 * std::sin(7 * u) * std::cos(5 * v));
        p[0] = (big + r * std::cos(v)) * std::cos(u);
        p[1] = (big + r * std::cos(v)) * std::sin(u);
        p[2] = r * std::sin(v);
    };
    std::string out = "# subdivided torus, flat shaded\no Surface\n";
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double p[3];
            point(i, j, p);
            out += 'v';
            for (double c : p) Put(out, c);
            out += '\n';
        }
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) {
            out += "vt";
            Put(out, static_cast<double>(i) / n);
            Put(out, static_cast<double>(j) / n);
            out += '\n';
        }
    // One normal per face: the cross product of the quad's diagonals.
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double a[3], b[3], c[3], d[3];
            point(i, j, a);
            point(i + 1, j, b);
            point(i + 1, j + 1, c);
            point(i, j + 1, d);
            const double e[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            const double f[3] = {d[0] - b[0], d[1] - b[1], d[2] - b[2]};
            double m[3] = {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
            const double len = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
            out += "vn";
            for (double& k : m) Put(out, k / len);
            out += '\n';
        }
    out += "s off\n";
    const auto vert = [&](int i, int j) { return (i % n) * n + (j % n) + 1; };
    const auto tex = [&](int i, int j) { return i * (n + 1) + j + 1; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const int face = i * n + j + 1;
            const int corners[4][2] = {{i, j}, {i + 1, j}, {i + 1, j + 1}, {i, j + 1}};
            out += 'f';
            for (const auto& c : corners)
                out += ' ' + std::to_string(vert(c[0], c[1])) + '/' + std::to_string(tex(c[0], c[1])) + '/' +
                       std::to_string(face);
            out += '\n';
        }
    FILE* f = std::fopen(argv[1], "wb");
    const bool ok = f && std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (!f || std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "%s: %s could not be written\n", argv[0], argv[1]);
        return 1;
    }
    // Each texture coordinate belongs to one grid point, hence to one position.
    std::printf("%d quads, %d triangles, %d positions, %d normals, %d distinct (position, texture coordinate) pairs\n",
                n * n, 2 * n * n, n * n, n * n, (n + 1) * (n + 1));
    return 0;
}
