// What a QSX script, header or animation file says, as plain data: the
// script's nodes in file order with their transform, clump, tag, hints,
// vertices, triangles and material blocks; the header's tag names; the
// animation's frames. Numbers are held as the 32-bit floats they were
// printed from.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/Geometry.h"

namespace qsxhost::script {

// One problem of a file: the line it is on (1-based; 0 for the file as a
// whole) and what is wrong, in words for the user.
struct Problem {
    int64_t line = 0;
    std::string what;
};

// Problems in the order found. A broken file can hold millions; only the
// first kMaxListed are kept, all are counted.
class Problems {
public:
    static constexpr size_t kMaxListed = 1000;
    void Add(int64_t line, std::string what) {
        ++count_;
        if (list_.size() < kMaxListed) list_.push_back({line, std::move(what)});
    }
    int64_t Count() const { return count_; }
    // In line order (the order found may run back: a block left open is
    // reported at its Begin line when the file ends).
    void Sort() {
        std::stable_sort(list_.begin(), list_.end(), [](const Problem& a, const Problem& b) { return a.line < b.line; });
    }
    const std::vector<Problem>& Listed() const { return list_; }

private:
    std::vector<Problem> list_;
    int64_t count_ = 0;
};

// A block of material statements, as written before the triangles it applies to.
struct Material {
    bool none = false;  // the neutral block: "Color 0.0 0.0 0.0", "Surface 0.0 0.0 0.0"
    bool twoSided = false, wire = false, facet = false;
    float opacity = 1.0f;  // 1 when the block has no Opacity line
    host::Point3 ambient, color, specular;
    std::string textureModes;  // the words after "TextureModes"
    // The texture names as written, also when commented out. A map's file
    // name may be empty, so the form says which names the block has.
    enum class Textures : uint8_t { None, Texture, TextureAndMask };
    Textures textures = Textures::None;
    std::string texture, mask;
    bool textureShown = true;  // false: "Texture NULL # NAME" and the TextureExt form of it
    int64_t line = 0;          // the block's first line
};

struct Vertex {
    host::Point3 p;
    float u = 0.0f, v = 0.0f;  // the written U and V, when the node's vertices have them
};

struct Triangle {
    int32_t v[3] = {0, 0, 0};  // vertex numbers as written (1-based in the clump)
    int32_t material = -1;     // the node's material block in effect, -1 none
};

enum class Hints : int8_t { Missing = -1, Null = 0, HiddenSurface = 1, Editable = 2 };

// One transform block: a node of the exported scene.
struct Node {
    std::string name;  // from the "# NAME" comment before the block
    int64_t line = 0;  // its TransformBegin line
    int32_t parent = -1;  // the node whose clump holds this block, -1 none
    host::Matrix3 transform;  // the Transform line's first three columns
    bool clump = false;       // the node has a clump of its own
    int32_t tag = 0;          // 0: no Tag line
    Hints hints = Hints::Missing;
    bool uv = false;           // its Vertex lines carry UV
    int32_t vertexBase = 0;    // vertices of the same clump written before this node's
    int32_t vertexCount = 0;   // its Vertex lines
    int64_t triangleCount = 0;
    int32_t firstMaterial = -1;  // the material block in effect at its first triangle
    // Without the vertices kept: those no triangle uses, known once the node ends.
    int32_t unusedVertices = 0;
    // Kept only when the whole script is read (Detail::Geometry).
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
    std::vector<Material> materials;
};

// How much of a script or animation file a reader keeps: everything, or
// what checking and describing it need (counts, names, materials, tags), so
// that a file of any size is read in bounded memory.
enum class Detail : uint8_t { Geometry, Counts };

struct Script {
    Detail detail = Detail::Geometry;
    bool wrapper = false;  // an untagged clump directly in the model holds the nodes
    std::vector<Node> nodes;
    int64_t clumps = 0;  // ClumpBegin lines, the wrapper included
    int64_t vertices = 0, triangles = 0;
    std::vector<std::string> textures;  // distinct names not commented out, in order of first use
};

struct HeaderTag {
    std::string name;  // as written after "TAG_"
    int32_t tag = 0;
    int64_t line = 0;
};

struct Header {
    std::vector<HeaderTag> tags;
};

struct Frame {
    int64_t line = 0;
    int32_t number = 0;
    int64_t transformCount = 0;
    std::vector<host::Matrix3> transforms;  // by node number - 1; kept only with Detail::Geometry
};

struct Animation {
    std::vector<Frame> frames;
};

}  // namespace qsxhost::script
