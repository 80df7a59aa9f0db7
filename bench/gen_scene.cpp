// Writes the benchmark scenes to disk:
//   qsx_gen_scene heavy|wide [--scale F] [--json FILE] [--glb FILE]
// (F may be a fraction: 0.125 for quick runs).
// and prints the scene's size (nodes, vertices, faces, texture vertices).
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_scene.h"

int main(int argc, char** argv) {
    bench::Kind kind;
    if (argc < 2 || !bench::ParseKind(argv[1], &kind)) {
        std::fprintf(stderr, "usage: %s heavy|wide [--scale F] [--json FILE] [--glb FILE]\n", argv[0]);
        return 2;
    }
    double scale = 1;
    std::string json, glb;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: %s needs a value\n", argv[0], a.c_str());
            return 2;
        }
        const char* v = argv[++i];
        if (a == "--scale") {
            const char* end = v + std::strlen(v);
            if (std::from_chars(v, end, scale).ptr != end || !(scale > 0 && scale <= 64)) {
                std::fprintf(stderr, "%s: --scale takes a factor above 0, at most 64\n", argv[0]);
                return 2;
            }
        } else if (a == "--json") {
            json = v;
        } else if (a == "--glb") {
            glb = v;
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], a.c_str());
            return 2;
        }
    }
    const auto scene = bench::Generate(kind, scale);
    const bench::Stats s = scene->Measure();
    std::printf("%s x%g: %lld nodes, %lld vertices, %lld faces, %lld texture vertices\n", argv[1], scale,
                static_cast<long long>(s.nodes), static_cast<long long>(s.vertices), static_cast<long long>(s.faces),
                static_cast<long long>(s.texVertices));
    std::string error;
    if (!json.empty() && !bench::WriteJson(*scene, json, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (!glb.empty() && !bench::WriteGlb(*scene, glb, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
