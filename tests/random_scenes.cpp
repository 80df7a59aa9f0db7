// Writes random JSON scenes and the command-line flags to export each with, for comparing two builds of the
// command byte for byte:
//   qsx_random_scenes SEED COUNT DIR
// writes DIR/sceneN.json and DIR/sceneN.args (one flag a line) for N from SEED to SEED+COUNT-1; scene N is the
// same on every platform and in every run. The scenes reach where platforms tend to differ: number text at the
// edges of float, names and texture paths in any script and form, every option and hierarchy mode.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace {

class Scene {
public:
    explicit Scene(uint32_t seed) : rng_(seed), wild_(Below(10) < 3) {}

    std::string Json() {
        const int maps = Below(6), materials = Below(7);
        out_ = "{\"qsxScene\": 1";
        if (Below(4)) Animation();
        out_ += ",\n\"maps\": [";
        for (int i = 0; i < maps; ++i) Map(i);
        out_ += "],\n\"materials\": [";
        for (int i = 0; i < materials; ++i) Material(i, maps);
        out_ += "],\n\"nodes\": [";
        materials_ = materials;
        const int top = 1 + Below(5);
        for (int i = 0; i < top; ++i) Node(i, 0);
        out_ += "]}\n";
        return out_;
    }

    std::string Args() {
        static const char* const kHierarchy[] = {"preserve", "single", "multiple", "separate"};
        static const char* const kHints[] = {"none", "hidden-surface", "editable"};
        std::string a = Cat({"--batch\n--hierarchy\n", kHierarchy[Below(4)], "\n--hints\n", kHints[Below(3)], "\n"});
        for (const char* flag : {"centre", "textures", "lit", "foreshorten", "filter", "header", "animation"})
            a += Below(2) ? std::string("--") + flag + "\n" : std::string("--no-") + flag + "\n";
        static const char* const kExt[] = {"png", "TGA", "j2", "7", "bmp"};
        a += Below(3) ? "--no-ext\n" : std::string("--ext\n") + kExt[Below(5)] + "\n";
        switch (Below(5)) {
            case 0: a += "--scale-by\n" + Number(true) + "\n"; break;
            case 1: a += "--scale-to\n" + std::string(Below(2) ? "100" : "1e-3") + "\n"; break;
            case 2: a += "--scale-by\n0.0254\n"; break;
            default: break;
        }
        return a;
    }

private:
    // Parts joined in the order written: a braced list is evaluated in order, unlike the operands of +, so the
    // random numbers are drawn alike by every compiler.
    static std::string Cat(std::initializer_list<std::string> parts) {
        std::string s;
        for (const std::string& p : parts) s += p;
        return s;
    }
    int Below(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool OneIn(int n) { return Below(n) == 0; }

    // Number text as a writer of any language might give it: the float edges, -0, exponents in both cases,
    // more digits than a float holds.
    std::string Number(bool positive = false) {
        static const char* const kEdges[] = {"-0", "0.0", "1e-45", "1.401298464324817e-45", "1e-50", "1.17549435e-38",
                                             "-1.1754942e-38", "3.4028234e38", "-3.40282346638528859e+38", "1E-7",
                                             "16777217", "0.1", "-2.5e-3", "1e20", "65504", "0.30000000000000004"};
        if (wild_ && OneIn(4) && !positive) return kEdges[Below(16)];
        std::string s = !positive && OneIn(3) ? "-" : "";
        s += std::to_string(positive + Below(1000));
        if (Below(3)) (s += ".") += std::to_string(Below(1000000));
        if (OneIn(5)) s += Cat({Below(2) ? "e" : "E", Below(2) ? "-" : "", std::to_string(Below(5))});
        return s;
    }
    std::string Numbers(int n) {
        std::string s = "[";
        for (int i = 0; i < n; ++i) s += (i ? ", " : "") + Number();
        return s + "]";
    }
    std::string Matrix() {
        std::string s = "[";
        for (int r = 0; r < 4; ++r) s += (r ? ", " : "") + (r < 3 && !wild_ && Below(3) ? Axis(r) : Numbers(3));
        return s + "]";
    }
    std::string Axis(int r) {
        const char* sign = OneIn(4) ? "-" : "";
        return r == 0 ? std::string("[") + sign + "1, 0, 0]" : r == 1 ? std::string("[0, ") + sign + "1, 0]"
                                                                       : std::string("[0, 0, ") + sign + "1]";
    }

    // Names in any script, with blanks, quotes, escapes and the characters a script's syntax uses.
    std::string Text() {
        static const char* const kParts[] = {"Box", " ", "Ünïcødé", "名前", "\\\"q\\\"", "\\\\", "tab\\t",
                                             "\\u00e9", "\\ud83d\\ude00", "#", "{}", ",", "  lead", "x.y", "\xce\xa9"};
        std::string s;
        for (int n = Below(4); n >= 0; --n) s += kParts[Below(15)];
        return OneIn(12) ? "" : s;
    }
    // Texture file names of every form a host gives: full, relative, network, without or with odd extensions.
    std::string File() {
        static const char* const kForms[] = {"C:\\\\maps\\\\wood.tga", "wood.TGA", "\\\\\\\\server\\\\share\\\\brick.png",
                                             "maps/sub/stone.jpeg", "noext", "trailing.", ".hidden", "a.b.c.bmp",
                                             "D:\\\\Tëxtûrës\\\\blank name.PnG", "dir.ext\\\\file", "", "x.jpeg2000",
                                             "C:\\\\", "\\u540d.dds", "../up/one.tif"};
        return kForms[Below(15)];
    }

    void Animation() {
        static const int kTicks[] = {160, 1, 4800, 7, 2147483647};
        const int tpf = kTicks[Below(5)];
        const int64_t start = OneIn(4) ? std::max(2147483647 - 40 * int64_t{tpf}, int64_t{-2147483647} - 1)
                                       : int64_t{Below(2000)} - 1000;
        const int64_t end = start + int64_t{tpf} * Below(40);
        out_ += ",\n\"animation\": {\"start\": " + std::to_string(start) + ", \"end\": " +
                std::to_string(end > 2147483647 ? 2147483647 : end) + ", \"ticksPerFrame\": " + std::to_string(tpf) +
                "}";
    }
    void Map(int i) {
        out_ += i ? ",\n" : "\n";
        out_ += OneIn(5) ? Cat({"{\"classId\": [", std::to_string(rng_()), ", ", std::to_string(Below(3)), "]}"})
                         : "{\"class\": \"bitmap\", \"file\": \"" + File() + "\"}";
    }
    std::string Channel(int maps) {
        return Cat({"{\"enabled\": ", Below(4) ? "true" : "false", ", \"map\": ",
                    maps && Below(5) ? std::to_string(Below(maps)) : "null", "}"});
    }
    void Material(int i, int maps) {
        out_ += i ? ",\n" : "\n";
        if (i && OneIn(3)) {  // sub-materials only of earlier ones, so no material holds itself
            out_ += "{\"class\": \"multi\", \"subs\": [";
            for (int n = Below(5), k = 0; k < n; ++k) out_ += (k ? ", " : "") + (OneIn(4) ? "null" : std::to_string(Below(i)));
            out_ += "]}";
        } else if (OneIn(6)) {
            out_ += Cat({"{\"classId\": [", std::to_string(rng_()), ", ", std::to_string(rng_()), "]}"});
        } else {
            out_ += Cat({"{\"class\": \"standard\", \"twoSided\": ", Below(2) ? "true" : "false",
                         ", \"wire\": ", Below(2) ? "true" : "false", ", \"shading\": ", std::to_string(Below(4)),
                         ", \"opacity\": ", Number(), ", \"ambient\": ", Numbers(3), ", \"diffuse\": ", Numbers(3),
                         ", \"specular\": ", Numbers(3)});
            if (Below(3)) out_ += ", \"diffuseMap\": " + Channel(maps);
            if (OneIn(2)) out_ += ", \"opacityMap\": " + Channel(maps);
            out_ += "}";
        }
    }
    void Mesh() {
        const int vertices = OneIn(8) ? 0 : 1 + Below(12), faces = vertices ? Below(16) : 0;
        const int tverts = Below(2) ? 1 + Below(10) : 0;
        out_ += "{\"vertices\": [";
        for (int i = 0; i < vertices; ++i) out_ += (i ? ", " : "") + Numbers(3);
        std::string face, ids, smoothing, tfaces;
        for (int i = 0; i < faces; ++i) {
            const char* sep = i ? ", " : "";
            const int a = Below(vertices), b = (a + 1 + Below(vertices)) % vertices;  // a few faces degenerate
            const int c = OneIn(8) ? b : (b + 1 + Below(vertices)) % vertices;
            (face += sep) += Cat({"[", std::to_string(a), ", ", std::to_string(b), ", ", std::to_string(c), "]"});
            (ids += sep) += std::to_string(OneIn(10) ? 65535 : Below(5));
            (smoothing += sep) += std::to_string(OneIn(10) ? 4294967295u : rng_() % 9);
            if (tverts)
                (tfaces += sep) += Cat({"[", std::to_string(Below(tverts)), ", ", std::to_string(Below(tverts)), ", ",
                                        std::to_string(Below(tverts)), "]"});
        }
        out_ += "], \"faces\": [" + face + "]";
        if (Below(2)) out_ += ", \"materialIds\": [" + ids + "]";
        if (Below(2)) out_ += ", \"smoothing\": [" + smoothing + "]";
        if (tverts) {
            out_ += ", \"tverts\": [";
            for (int i = 0; i < tverts; ++i) out_ += (i ? ", " : "") + Numbers(Below(2) ? 2 : 3);
            out_ += "], \"tfaces\": [" + tfaces + "]";
        }
        out_ += "}";
    }
    void Node(int i, int depth) {
        out_ += i ? ",\n" : "\n";
        out_ += "{\"name\": \"" + Text() + "\"";
        if (OneIn(3)) {
            out_ += ", \"keys\": [";
            for (int k = 0, n = 1 + Below(4), time = Below(200) - 100; k < n; ++k, time += 1 + Below(400))
                out_ += (k ? ", " : "") + ("{\"time\": " + std::to_string(time) + ", \"transform\": " + Matrix() + "}");
            out_ += "]";
        } else if (Below(4)) {
            out_ += ", \"transform\": " + Matrix();
        }
        if (OneIn(3)) out_ += ", \"offsetPosition\": " + Numbers(3);
        if (OneIn(3)) out_ += Cat({", \"offsetRotation\": [", Number(), ", ", Number(), ", ", Number(), ", 1]"});
        switch (Below(12)) {  // a node without a renderable object hides its descendants
            case 0: break;
            case 1: out_ += ", \"object\": null"; break;
            case 2: out_ += ", \"object\": {\"renderable\": false}"; break;
            default: out_ += ", \"object\": {\"renderable\": true, \"mesh\": "; Mesh(); out_ += "}"; break;
        }
        if (materials_ && Below(3)) out_ += ", \"material\": " + std::to_string(Below(materials_));
        if (depth < 4 && OneIn(2)) {
            out_ += ", \"children\": [";
            for (int c = 0, n = 1 + Below(3); c < n; ++c) Node(c, depth + 1);
            out_ += "]";
        }
        out_ += "}";
    }

    std::mt19937 rng_;
    bool wild_;  // a scene whose numbers reach the edges
    int materials_ = 0;
    std::string out_;
};

bool Write(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return (f && std::fclose(f) == 0) && ok;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const unsigned long seed = argc == 4 ? std::strtoul(argv[1], &end, 10) : 0;
    const long count = argc == 4 && *end == 0 ? std::strtol(argv[2], &end, 10) : -1;
    if (count < 0 || *end != 0) {
        std::fprintf(stderr, "usage: %s SEED COUNT DIR\n", argv[0]);
        return 2;
    }
    for (unsigned long n = seed; n < seed + static_cast<unsigned long>(count); ++n) {
        Scene scene(static_cast<uint32_t>(n));
        const std::string base = std::string(argv[3]) + "/scene" + std::to_string(n);
        if (!Write(base + ".json", scene.Json()) || !Write(base + ".args", scene.Args())) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], base.c_str());
            return 1;
        }
    }
    return 0;
}
