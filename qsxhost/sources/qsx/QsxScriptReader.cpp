// The script reader: one pass over the lines with a stack of the blocks
// open. Each line is checked for its indentation (4 blanks per open block),
// its statement, its numbers and its place: a node is "# NAME", an empty
// line, TransformBegin, its Transform line, optionally its clump with its
// Tag, then Hints, its Vertex lines, an empty line, material blocks and
// Triangle lines, and (in a nested script) its children's blocks.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "qsxhost/sources/qsx/QsxLines.h"
#include "qsxhost/sources/qsx/QsxReader.h"

namespace qsxhost::script {

namespace {

enum class Kind : uint8_t { Model, Clump, Transform };

struct Open {
    Kind kind;
    int32_t node;      // Transform: its node; Clump: the node it belongs to, -1 the wrapper
    int64_t line;
    int32_t vertices;  // Clump: vertices written in it so far
};

// Where a node's lines have got to.
enum Phase : uint8_t {
    kTransform,  // TransformBegin read: its Transform line is next
    kClumpOrHints,
    kTag,        // its ClumpBegin read
    kHints,      // its Tag read
    kVertices,   // Hints read: Vertex lines
    kMesh,       // the Vertex lines ended: materials and triangles
    kDone,       // a child began: nothing more of its own
};

// Material statements in the order a block holds them.
enum Step : uint8_t {
    kNoBlock = 0,
    kMaterialModes, kGeometrySampling, kLightSampling, kOpacity, kAmbient, kColor, kDiffuse, kSpecular,
    kTextureModes, kTexture,
    kColorNone = 20, kSurface,
};

const char* StepName(int s) {
    switch (s) {
        case kMaterialModes: return "MaterialModes";
        case kGeometrySampling: return "GeometrySampling";
        case kLightSampling: return "LightSampling";
        case kOpacity: return "Opacity";
        case kAmbient: return "Ambient";
        case kColor: case kColorNone: return "Color";
        case kDiffuse: return "Diffuse";
        case kSpecular: return "Specular";
        case kTextureModes: return "TextureModes";
        case kTexture: return "Texture";
        case kSurface: return "Surface";
        default: return "?";
    }
}

bool Required(int s) { return s != kMaterialModes && s != kOpacity; }

struct NodeState {
    Phase phase = kTransform;
    uint8_t step = kNoBlock;
    int clumpAt = -1;  // the stack entry that numbers its vertices, -1 the model
    float minU = 0.0f;
    // Vertex lines read with and without UV, and the first of each: the
    // fewer kind is where the fault is.
    int64_t withUv = 0, withoutUv = 0;
    int64_t firstWithUv = 0, firstWithoutUv = 0;
    // Without the vertices kept: which of them the node's triangles use, until its mesh ends.
    std::vector<bool> used;
    bool settled = false;
};

class ScriptReader {
public:
    ScriptReader(Script* s, Problems* p, ScriptSink* sink)
        : s_(*s), problems_(*p), sink_(sink), keep_(s->detail == Detail::Geometry) {}

    void Read(LineWalk& walk) {
        std::string_view line;
        while (walk.Next(&line)) {
            line_ = walk.Number();
            controlLine_ = walk.HasControlByte();
            Line(line);
        }
        controlLine_ = false;
        Finish(walk.Number());
        walk.Finish();
    }

private:
    Script& s_;
    Problems& problems_;
    ScriptSink* sink_;
    const bool keep_;  // the vertices and triangles kept in the nodes
    std::vector<Open> stack_;
    std::vector<NodeState> states_;
    int64_t line_ = 0;
    // The line holds a control byte, its one problem: what else looks wrong
    // in it follows from that.
    bool controlLine_ = false;
    enum { kBeforeModel, kInModel, kAfterModel } where_ = kBeforeModel;
    // The "# NAME" comment and empty line before a TransformBegin.
    int nameStep_ = 0;
    std::string name_;
    bool awaitEmpty_ = false;  // a material block just ended
    int32_t modelVertices_ = 0;
    int32_t firstTag_ = 0, lastTag_ = 0;
    int64_t firstTagLine_ = 0, tagged_ = 0;
    std::unordered_set<std::string> textureSeen_;

    void Problem(std::string what) {
        if (!controlLine_) problems_.Add(line_, std::move(what));
    }

    int Depth() const { return static_cast<int>(stack_.size()); }

    void Indent(size_t have, int depth) {
        const size_t want = static_cast<size_t>(depth) * 4;
        if (have != want)
            Problem("indented by " + Plural(static_cast<int64_t>(have), "blank", "blanks") + ", not " +
                    std::to_string(want));
    }

    // The node whose mesh lines may stand here, or -1.
    int32_t MeshNode() const {
        if (stack_.empty()) return -1;
        const Open& top = stack_.back();
        return top.kind == Kind::Model ? -1 : top.node;
    }

    // The blanks opening a line, eight at a time: a vertex line has 16 or more.
    static size_t Blanks(std::string_view line) {
        constexpr uint64_t kBlanks = 0x2020202020202020ULL;
        size_t i = 0;
        for (; i + 8 <= line.size(); i += 8) {
            uint64_t x;
            std::memcpy(&x, line.data() + i, 8);
            if (x != kBlanks) break;
        }
        while (i < line.size() && line[i] == ' ') ++i;
        return i;
    }

    static bool Starts(std::string_view body, std::string_view with) {
        return body.size() >= with.size() && std::memcmp(body.data(), with.data(), with.size()) == 0;
    }

    void Line(std::string_view line) {
        const size_t indent = Blanks(line);
        const std::string_view body(line.data() + indent, line.size() - indent);
        const int nameStep = nameStep_;
        nameStep_ = 0;
        if (body.empty()) {
            Empty(indent, nameStep);
            return;
        }
        if (where_ == kAfterModel) {
            Problem("text after ModelEnd: '" + std::string(body.substr(0, 40)) + "'");
            return;
        }
        if (body[0] == '#') {
            Indent(indent, Depth());
            name_ = body.size() >= 2 && body[1] == ' ' ? body.substr(2) : body.substr(1);
            nameStep_ = 1;
            if (awaitEmpty_) EndMaterialGap();
            return;
        }
        if (where_ == kBeforeModel && body != "ModelBegin") {
            Problem("'" + std::string(body.substr(0, 40)) + "' before ModelBegin");
            return;
        }
        if (awaitEmpty_) EndMaterialGap();
        // The two statements of nearly every line first.
        if (Starts(body, "Vertex ")) return VertexLine(indent, body.substr(6));
        if (Starts(body, "Triangle ")) return TriangleLine(indent, body.substr(8));
        const size_t space = body.find(' ');
        const std::string_view word = body.substr(0, space);
        const std::string_view rest = space == std::string_view::npos ? std::string_view() : body.substr(space);
        if (word == "Vertex") return VertexLine(indent, rest);
        if (word == "Triangle") return TriangleLine(indent, rest);
        if (word == "ModelBegin") return ModelBegin(indent, rest);
        if (word == "ModelEnd") return End(indent, rest, Kind::Model);
        if (word == "ClumpBegin") return ClumpBegin(indent, rest);
        if (word == "ClumpEnd") return End(indent, rest, Kind::Clump);
        if (word == "TransformBegin") return TransformBegin(indent, rest, nameStep);
        if (word == "TransformEnd") return End(indent, rest, Kind::Transform);
        if (word == "Transform") return TransformLine(indent, rest);
        if (word == "Tag") return TagLine(indent, rest);
        if (word == "Hints") return HintsLine(indent, rest);
        MaterialLine(indent, word, rest);
    }

    void Empty(size_t indent, int nameStep) {
        if (where_ != kInModel) {
            Problem(where_ == kBeforeModel ? "empty line before ModelBegin" : "empty line after ModelEnd");
            return;
        }
        Indent(indent, Depth());
        if (nameStep == 1) nameStep_ = 2;
        awaitEmpty_ = false;
        const int32_t n = MeshNode();
        if (n < 0) return;
        NodeState& st = states_[static_cast<size_t>(n)];
        if (st.phase == kVertices) st.phase = kMesh;
        if (st.step != kNoBlock) {
            Problem(std::string("empty line inside a material block (its ") +
                    (st.step >= kColorNone ? "Surface" : "Texture") + " line is missing)");
            st.step = kNoBlock;
        }
    }

    void EndMaterialGap() {
        awaitEmpty_ = false;
        Problem("a material block ends without the empty line after it");
    }

    bool NoArguments(std::string_view word, std::string_view rest) {
        if (rest.empty()) return true;
        Problem(std::string(word) + " takes nothing after it");
        return false;
    }

    void ModelBegin(size_t indent, std::string_view rest) {
        Indent(indent, 0);
        NoArguments("ModelBegin", rest);
        if (where_ != kBeforeModel || !stack_.empty()) {
            Problem("a second ModelBegin");
            return;
        }
        where_ = kInModel;
        stack_.push_back({Kind::Model, -1, line_, 0});
    }

    void ClumpBegin(size_t indent, std::string_view rest) {
        Indent(indent, Depth());
        NoArguments("ClumpBegin", rest);
        ++s_.clumps;
        const Open& top = stack_.back();
        int32_t owner = -1;
        if (top.kind == Kind::Model) {
            if (s_.wrapper || !s_.nodes.empty()) Problem("ClumpBegin directly in the model after its first block");
            s_.wrapper = true;
        } else if (top.kind == Kind::Transform) {
            owner = top.node;
            NodeState& st = states_[static_cast<size_t>(owner)];
            if (st.phase != kClumpOrHints) {
                Problem(st.phase == kTransform ? "ClumpBegin before the node's Transform line"
                                               : "ClumpBegin after the node's Hints line");
            }
            s_.nodes[static_cast<size_t>(owner)].clump = true;
            st.phase = kTag;
        } else {
            Problem("ClumpBegin directly inside a clump (a clump belongs in a transform block)");
        }
        stack_.push_back({Kind::Clump, owner, line_, 0});
    }

    void TransformBegin(size_t indent, std::string_view rest, int nameStep) {
        Indent(indent, Depth());
        NoArguments("TransformBegin", rest);
        const Open& top = stack_.back();
        int32_t parent = -1;
        if (top.kind == Kind::Transform) {
            Problem("TransformBegin directly inside a transform block");
        } else if (top.kind == Kind::Clump && top.node >= 0) {
            parent = top.node;
            NodeState& ps = states_[static_cast<size_t>(parent)];
            if (ps.phase < kVertices) Problem("a child's block before its parent's Hints line");
            if (ps.step != kNoBlock) Problem("a child's block inside a material block");
            ps.phase = kDone;
            ps.step = kNoBlock;
            SettleUse(parent);
        }
        if (nameStep != 2) Problem("TransformBegin without the '# NAME' comment and empty line before it");
        Node node;
        node.name = nameStep == 2 ? std::string(name_) : std::string();
        node.line = line_;
        node.parent = parent;
        s_.nodes.push_back(std::move(node));
        states_.emplace_back();
        stack_.push_back({Kind::Transform, static_cast<int32_t>(s_.nodes.size() - 1), line_, 0});
    }

    void End(size_t indent, std::string_view rest, Kind kind) {
        static const char* const kBegin[] = {"ModelBegin", "ClumpBegin", "TransformBegin"};
        static const char* const kEnd[] = {"ModelEnd", "ClumpEnd", "TransformEnd"};
        const auto k = static_cast<size_t>(kind);
        Indent(indent, std::max(Depth() - 1, 0));
        NoArguments(kEnd[k], rest);
        if (stack_.empty() || stack_.back().kind != kind) {
            Problem(std::string(kEnd[k]) + " without its " + kBegin[k] +
                    (stack_.empty() ? std::string()
                                    : " (the block open is " + std::string(kBegin[static_cast<size_t>(stack_.back().kind)]) +
                                          " at line " + std::to_string(stack_.back().line) + ")"));
            // Close up to a matching block, if one is open, so that the lines after it read right.
            auto it = std::find_if(stack_.rbegin(), stack_.rend(), [&](const Open& o) { return o.kind == kind; });
            if (it == stack_.rend()) return;
            while (stack_.back().kind != kind) Close();
        }
        Close();
    }

    // Closes the innermost block.
    void Close() {
        const Open top = stack_.back();
        stack_.pop_back();
        if (top.kind == Kind::Model) {
            where_ = kAfterModel;
        } else if (top.kind == Kind::Transform) {
            EndNode(top.node);
        }
    }

    // Counts the vertices no triangle of the node uses, once its mesh lines are over.
    void SettleUse(int32_t n) {
        NodeState& st = states_[static_cast<size_t>(n)];
        if (keep_ || st.settled) return;
        st.settled = true;
        Node& node = s_.nodes[static_cast<size_t>(n)];
        node.unusedVertices = st.used.empty() ? node.vertexCount
                                              : static_cast<int32_t>(std::count(st.used.begin(), st.used.end(), false));
        std::vector<bool>().swap(st.used);
    }

    void EndNode(int32_t n) {
        SettleUse(n);
        Node& node = s_.nodes[static_cast<size_t>(n)];
        NodeState& st = states_[static_cast<size_t>(n)];
        // Vertex lines with and without UV mixed: the fewer are the faulty (a
        // tie blames those without), reported once at the first of them.
        node.uv = st.withUv > 0 && st.withUv >= st.withoutUv;
        if (st.withUv > 0 && st.withoutUv > 0) {
            const int64_t odd = node.uv ? st.withoutUv : st.withUv;
            problems_.Add(node.uv ? st.firstWithoutUv : st.firstWithUv,
                          std::string(node.uv ? "Vertex without UV where the node's other Vertex lines have UV"
                                              : "Vertex with UV where the node's other Vertex lines have none") +
                              (odd > 1 ? " (" + std::to_string(odd) + " such lines, the first here)" : std::string()));
        }
        if (st.phase < kVertices) Problem("the block of node " + qsx::util::Quoted(node.name) + " ends without its Hints line");
        if (st.step != kNoBlock) Problem("the block of node " + qsx::util::Quoted(node.name) + " ends inside a material block");
        if (node.uv && st.minU > 1.0f)
            problems_.Add(st.firstWithUv, "the smallest U of this node is " + std::to_string(st.minU) +
                                                  "; the texture-coordinate shift puts it below 1");
    }

    // The node a statement of the node's own head belongs to: the transform block open.
    NodeState* HeadNode(const char* word) {
        const int32_t n = MeshNode();
        if (n < 0) {
            Problem(std::string(word) + " outside a node's transform block");
            return nullptr;
        }
        return &states_[static_cast<size_t>(n)];
    }

    void TransformLine(size_t indent, std::string_view rest) {
        Indent(indent, Depth());
        if (stack_.empty() || stack_.back().kind != Kind::Transform) {
            Problem("Transform line outside a transform block's head");
            return;
        }
        const int32_t n = stack_.back().node;
        NodeState& st = states_[static_cast<size_t>(n)];
        if (st.phase != kTransform) Problem("a second Transform line in the block");
        st.phase = kClumpOrHints;
        const char* p = rest.data();
        const char* end = p + rest.size();
        float v[16];
        for (int i = 0; i < 16; ++i) {
            if (!ReadFixed(p, end, &v[i])) {
                Problem("Transform: number " + std::to_string(i + 1) + " of 16 is " + WordAt(p, end) +
                        ", not a finite number in the form ' 1.000000'");
                return;
            }
        }
        if (p != end) Problem("Transform: text after its 16 numbers");
        if (v[3] != 0.0f || v[7] != 0.0f || v[11] != 0.0f || v[15] != 1.0f || std::signbit(v[3]) ||
            std::signbit(v[7]) || std::signbit(v[11]))
            Problem("Transform: the fourth column is not 0, 0, 0, 1");
        host::Matrix3& m = s_.nodes[static_cast<size_t>(n)].transform;
        for (int r = 0; r < 4; ++r) m.SetRow(r, {v[r * 4], v[r * 4 + 1], v[r * 4 + 2]});
    }

    void TagLine(size_t indent, std::string_view rest) {
        Indent(indent, Depth());
        const Open& top = stack_.back();
        if (top.kind != Kind::Clump || top.node < 0) {
            Problem("Tag outside a node's clump");
            return;
        }
        NodeState& st = states_[static_cast<size_t>(top.node)];
        if (st.phase != kTag) Problem("Tag not right after the clump's ClumpBegin");
        st.phase = kHints;
        const char* p = rest.data();
        const char* end = p + rest.size();
        int32_t tag = 0;
        if (p == end || *p++ != ' ' || !ReadInt(p, end, &tag) || p != end || tag < 1) {
            Problem("Tag: " + WordAt(rest.data(), end) + " is not a tag number (1, 2, ...)");
            // Taken as the tag expected, so that the next tag is judged on its own.
            if (tagged_++ == 0) {
                firstTag_ = 1;
                firstTagLine_ = line_;
            }
            ++lastTag_;
            return;
        }
        s_.nodes[static_cast<size_t>(top.node)].tag = tag;
        if (tagged_++ == 0) {
            firstTag_ = tag;
            firstTagLine_ = line_;
        } else if (tag != lastTag_ + 1) {
            Problem("Tag " + std::to_string(tag) + " where Tag " + std::to_string(lastTag_ + 1) +
                    " is expected (tags rise by one in the order written)");
        }
        lastTag_ = tag;
    }

    void HintsLine(size_t indent, std::string_view rest) {
        Indent(indent, Depth());
        NodeState* st = HeadNode("Hints");
        if (!st) return;
        const int32_t n = MeshNode();
        Node& node = s_.nodes[static_cast<size_t>(n)];
        const bool ownClump = node.clump;
        if (st->phase != (ownClump ? kHints : kClumpOrHints)) {
            Problem(st->phase >= kVertices ? "a second Hints line in the block"
                                           : ownClump ? "Hints before the clump's Tag line"
                                                      : "Hints before the node's Transform line");
            if (st->phase >= kVertices) return;
        }
        st->phase = kVertices;
        if (rest == " NULL") {
            node.hints = Hints::Null;
        } else if (rest == " HS") {
            node.hints = Hints::HiddenSurface;
        } else if (rest == " HS Editable") {
            node.hints = Hints::Editable;
        } else {
            Problem("Hints: '" + std::string(rest.substr(rest.empty() ? 0 : 1)) +
                    "' is not NULL, HS or HS Editable");
        }
        // Vertices are numbered in the innermost clump, across the nodes it holds.
        st->clumpAt = -1;
        for (int i = Depth() - 1; i >= 0; --i) {
            if (stack_[static_cast<size_t>(i)].kind == Kind::Clump) {
                st->clumpAt = i;
                break;
            }
        }
        node.vertexBase = st->clumpAt < 0 ? modelVertices_ : stack_[static_cast<size_t>(st->clumpAt)].vertices;
    }

    // The node whose mesh a Vertex, material or Triangle line belongs to, in the
    // phase wanted; null (with the problem said) when there is none.
    NodeState* MeshState(const char* word, Phase wanted, int32_t* n) {
        *n = MeshNode();
        if (*n < 0) {
            Problem(std::string(word) + " outside a node's block");
            return nullptr;
        }
        NodeState& st = states_[static_cast<size_t>(*n)];
        if (st.phase == wanted) return &st;
        if (wanted == kMesh && st.phase == kVertices) {
            Problem(std::string(word) + " right after the Vertex lines; an empty line ends them");
            st.phase = kMesh;
            return &st;
        }
        if (st.phase < kVertices) {
            Problem(std::string(word) + " before the node's Hints line");
        } else if (st.phase == kDone) {
            Problem(std::string(word) + " after a child's block; a node's own lines come first");
        } else {
            Problem(std::string(word) + " after the node's material or Triangle lines");
        }
        return nullptr;
    }

    void VertexLine(size_t indent, std::string_view rest) {
        Indent(indent, Depth());
        int32_t n;
        NodeState* st = MeshState("Vertex", kVertices, &n);
        if (!st) return;
        Vertex v;
        bool uv = false;
        if (ReadVertex(rest, &v, &uv)) {
            if (uv) {
                if (st->withUv++ == 0) {
                    st->firstWithUv = line_;
                    st->minU = v.u;
                }
                st->minU = std::min(st->minU, v.u);
            } else if (st->withoutUv++ == 0) {
                st->firstWithoutUv = line_;
            }
        }
        // A line in error still numbers a vertex: the triangles after it
        // count on it, and its one problem is said.
        Node& node = s_.nodes[static_cast<size_t>(n)];
        if (keep_) node.vertices.push_back(v);
        ++node.vertexCount;
        if (sink_) sink_->OnVertex(s_, n, v, uv);
        ++s_.vertices;
        if (st->clumpAt < 0) {
            ++modelVertices_;
        } else {
            ++stack_[static_cast<size_t>(st->clumpAt)].vertices;
        }
    }

    // The numbers of a Vertex line; false (with the problem said) when they do not read.
    bool ReadVertex(std::string_view rest, Vertex* v, bool* uv) {
        const char* p = rest.data();
        const char* end = p + rest.size();
        // Counted only, a position is read for its form: nothing asks its value.
        const bool values = keep_ || sink_;
        for (int i = 0; i < 3; ++i) {
            if (!ReadFixed(p, end, values ? &v->p[i] : nullptr)) {
                Problem("Vertex: coordinate " + std::to_string(i + 1) + " is " + WordAt(p, end) +
                        ", not a finite number in the form ' 1.000000'");
                return false;
            }
        }
        if (p == end) return true;
        if (end - p < 3 || p[0] != ' ' || p[1] != 'U' || p[2] != 'V') {
            Problem("Vertex: " + WordAt(p, end) + " after the coordinates, where only UV may stand");
            return false;
        }
        p += 3;
        if (!ReadFixed(p, end, &v->u) || !ReadFixed(p, end, &v->v) || p != end) {
            Problem("Vertex: UV is not followed by two finite numbers in the form ' 1.000000'");
            return false;
        }
        *uv = true;
        if (!(v->u >= 0.0f && v->u <= 32.0f && v->v >= 0.0f && v->v <= 32.0f))
            Problem("Vertex: UV values run from 0 to 32 after the texture-coordinate shift, not " +
                    std::to_string(v->u) + ", " + std::to_string(v->v));
        return true;
    }

    void TriangleLine(size_t indent, std::string_view rest) {
        Indent(indent, Depth());
        int32_t n;
        NodeState* st = MeshState("Triangle", kMesh, &n);
        if (!st) return;
        if (st->step != kNoBlock) {
            Problem("Triangle inside a material block");
            st->step = kNoBlock;
        }
        Node& node = s_.nodes[static_cast<size_t>(n)];
        const char* p = rest.data();
        const char* end = p + rest.size();
        Triangle t;
        for (int i = 0; i < 3; ++i) {
            if (p == end || *p != ' ' || !ReadInt(++p, end, &t.v[i])) {
                Problem("Triangle: corner " + std::to_string(i + 1) + " is " + WordAt(p, end) +
                        ", not a vertex number");
                return;
            }
        }
        if (p != end) {
            Problem("Triangle: text after its three vertex numbers");
            return;
        }
        const int64_t first = node.vertexBase + 1;
        const int64_t last = node.vertexBase + static_cast<int64_t>(node.vertexCount);
        for (int i = 0; i < 3; ++i) {
            if (t.v[i] < first || t.v[i] > last) {
                Problem("Triangle: vertex " + std::to_string(t.v[i]) + " is not one of this node's vertices (" +
                        (last < first ? std::string("it has none") : std::to_string(first) + " to " + std::to_string(last)) + ")");
                return;
            }
        }
        if (t.v[0] == t.v[1] || t.v[0] == t.v[2] || t.v[1] == t.v[2])
            Problem("Triangle: a corner repeats; the exporter leaves such faces out");
        t.material = static_cast<int32_t>(node.materials.size()) - 1;
        if (node.triangleCount++ == 0) node.firstMaterial = t.material;
        if (keep_) {
            node.triangles.push_back(t);
        } else {
            if (st->used.empty()) st->used.resize(static_cast<size_t>(node.vertexCount));
            for (int i = 0; i < 3; ++i) st->used[static_cast<size_t>(t.v[i] - node.vertexBase - 1)] = true;
        }
        if (sink_) sink_->OnTriangle(s_, n, t);
        ++s_.triangles;
    }

    // Colour values: three %4g numbers.
    bool Colour(std::string_view word, std::string_view rest, host::Point3* c) {
        const char* p = rest.data();
        const char* end = p + rest.size();
        for (int i = 0; i < 3; ++i) {
            if (!ReadG4(p, end, &(*c)[i])) {
                Problem(std::string(word) + ": value " + std::to_string(i + 1) + " is " + WordAt(p, end) +
                        ", not a finite number in the form '%4g' prints");
                return false;
            }
        }
        if (p != end) {
            Problem(std::string(word) + ": text after its three values");
            return false;
        }
        return true;
    }

    void AddTexture(const std::string& name) {
        if (!name.empty() && textureSeen_.insert(name).second) s_.textures.push_back(name);
    }

    void MaterialLine(size_t indent, std::string_view word, std::string_view rest) {
        int step = 0;
        if (word == "MaterialModes") step = kMaterialModes;
        else if (word == "GeometrySampling") step = kGeometrySampling;
        else if (word == "LightSampling") step = kLightSampling;
        else if (word == "Opacity") step = kOpacity;
        else if (word == "Ambient") step = kAmbient;
        else if (word == "Color") step = rest == " 0.0 0.0 0.0" ? kColorNone : kColor;
        else if (word == "Diffuse") step = kDiffuse;
        else if (word == "Specular") step = kSpecular;
        else if (word == "Surface") step = kSurface;
        else if (word == "TextureModes") step = kTextureModes;
        else if (word == "Texture" || word == "TextureExt") step = kTexture;
        Indent(indent, Depth());
        if (step == 0) {
            Problem("'" + std::string(word.substr(0, 40)) + "' is not a statement of the script");
            return;
        }
        int32_t n;
        NodeState* st = MeshState(StepName(step), kMesh, &n);
        if (!st) return;
        Node& node = s_.nodes[static_cast<size_t>(n)];
        // The block's order: a new block starts with its first statement.
        if (st->step == kNoBlock) {
            if (step != kMaterialModes && step != kGeometrySampling && step != kColorNone)
                Problem(std::string(StepName(step)) +
                        " does not begin a material block (MaterialModes, GeometrySampling or Color 0.0 0.0 0.0 does)");
            node.materials.emplace_back();
            node.materials.back().line = line_;
            node.materials.back().none = step >= kColorNone;
        } else if (st->step >= kColorNone || step >= kColorNone) {
            if (!(st->step == kColorNone && step == kSurface)) {
                Problem(std::string(StepName(step)) + " in a block that has " +
                        (st->step >= kColorNone ? "Color 0.0 0.0 0.0 (only Surface 0.0 0.0 0.0 follows it)"
                                                : "the statements of a material"));
            }
        } else if (step <= st->step) {
            Problem(std::string(StepName(step)) + " out of order in the material block (after " +
                    StepName(st->step) + ")");
        } else {
            for (int r = st->step + 1; r < step; ++r)
                if (Required(r)) {
                    Problem(std::string("the material block has no ") + StepName(r) + " line before " + StepName(step));
                    break;
                }
        }
        st->step = static_cast<uint8_t>(step);
        if (step == kTexture || step == kSurface) {
            st->step = kNoBlock;
            awaitEmpty_ = true;
        }
        Material& m = node.materials.back();
        switch (step) {
            case kMaterialModes:
                if (rest != " Double") Problem("MaterialModes: only 'Double' is written");
                m.twoSided = true;
                break;
            case kGeometrySampling:
                if (rest != " Solid" && rest != " WireFrame") Problem("GeometrySampling: not Solid or WireFrame");
                m.wire = rest == " WireFrame";
                break;
            case kLightSampling:
                if (rest != " Vertex" && rest != " Facet") Problem("LightSampling: not Vertex or Facet");
                m.facet = rest == " Facet";
                break;
            case kOpacity: {
                const char* p = rest.data();
                const char* end = p + rest.size();
                if (!ReadG4(p, end, &m.opacity) || p != end) {
                    Problem("Opacity: " + WordAt(rest.data(), end) + " is not a finite number in the form '%4g' prints");
                } else if (!(m.opacity < 1.0f)) {
                    Problem("Opacity: an opacity of 1 or more is not written");
                }
                break;
            }
            case kAmbient:
                if (Colour(word, rest, &m.ambient) &&
                    !(m.ambient.x >= 0.1f && m.ambient.y >= 0.1f && m.ambient.z >= 0.1f))
                    Problem("Ambient: a value below 0.1 (the exporter raises each to 0.1)");
                break;
            case kColor:
                Colour(word, rest, &m.color);
                break;
            case kDiffuse: {
                host::Point3 d;
                if (Colour(word, rest, &d) && !(d == m.color)) Problem("Diffuse differs from the block's Color");
                break;
            }
            case kSpecular:
                Colour(word, rest, &m.specular);
                break;
            case kColorNone:
                m.none = true;
                break;
            case kSurface:
                if (rest != " 0.0 0.0 0.0") Problem("Surface: only 'Surface 0.0 0.0 0.0' is written");
                break;
            case kTextureModes:
                TextureModes(rest, &m);
                break;
            case kTexture:
                TextureLine(word, rest, &m);
                break;
            default:
                break;
        }
    }

    void TextureModes(std::string_view rest, Material* m) {
        if (rest == " NULL") {
            m->textureModes = "NULL";
            return;
        }
        static const std::string_view kModes[] = {" Lit", " Foreshorten", " Filter"};
        std::string_view r = rest;
        for (std::string_view mode : kModes)
            if (r.substr(0, mode.size()) == mode && (r.size() == mode.size() || r[mode.size()] == ' '))
                r.remove_prefix(mode.size());
        if (!r.empty() || rest.empty()) Problem("TextureModes: not NULL, nor Lit, Foreshorten, Filter in this order");
        m->textureModes = std::string(rest.substr(rest.empty() ? 0 : 1));
    }

    // A map's name is whatever follows the keyword, blanks and all, and may be
    // empty; only "NULL" itself and a leading "NULL # " say no texture or a
    // commented-out one.
    void TextureLine(std::string_view word, std::string_view rest, Material* m) {
        if (rest.empty() || rest[0] != ' ') {
            Problem(std::string(word) + ": no texture name");
            return;
        }
        std::string_view r = rest.substr(1);
        if (word == "Texture") {
            if (r == "NULL") return;
            m->textures = Material::Textures::Texture;
            if (r.substr(0, 7) == "NULL # ") {
                m->texture = std::string(r.substr(7));
                m->textureShown = false;
            } else {
                m->texture = std::string(r);
                AddTexture(m->texture);
            }
            return;
        }
        // The two names are split where the separator follows the first '.':
        // with extensions replaced, the texture's name holds one dot, and
        // otherwise any split writes the same line again. A commented-out
        // form without its blank is the shown form of a texture named NULL.
        const auto split = [&](std::string_view sep, size_t from) {
            const size_t dot = r.find('.', from);
            const size_t after = dot == std::string_view::npos ? dot : r.find(sep, dot);
            return after != std::string_view::npos ? after : r.find(sep, from);
        };
        constexpr std::string_view kHidden = "NULL Mask NULL # ";
        if (r.substr(0, kHidden.size()) == kHidden && r.find(' ', kHidden.size()) != std::string_view::npos) {
            r.remove_prefix(kHidden.size());
            const size_t blank = split(" ", 0);
            m->textures = Material::Textures::TextureAndMask;
            m->texture = std::string(r.substr(0, blank));
            m->mask = std::string(r.substr(blank + 1));
            m->textureShown = false;
            return;
        }
        const size_t mask = split(" Mask ", 0);
        if (mask == std::string_view::npos) {
            Problem("TextureExt: not 'TextureExt NAME Mask MASK'");
            return;
        }
        m->textures = Material::Textures::TextureAndMask;
        m->texture = std::string(r.substr(0, mask));
        m->mask = std::string(r.substr(mask + 6));
        AddTexture(m->texture);
        AddTexture(m->mask);
    }

    void Finish(int64_t lastLine) {
        line_ = lastLine;
        if (lastLine == 0) {
            problems_.Add(0, "the file is empty");
            return;
        }
        if (awaitEmpty_) EndMaterialGap();
        if (where_ == kBeforeModel) Problem("no ModelBegin");
        while (!stack_.empty()) {
            static const char* const kBegin[] = {"ModelBegin", "ClumpBegin", "TransformBegin"};
            static const char* const kEnd[] = {"ModelEnd", "ClumpEnd", "TransformEnd"};
            const Open& top = stack_.back();
            problems_.Add(top.line, std::string(kBegin[static_cast<size_t>(top.kind)]) + " without its " +
                                        kEnd[static_cast<size_t>(top.kind)]);
            Close();
        }
        if (tagged_ > 1 && firstTag_ != 1)
            problems_.Add(firstTagLine_, "the first tag is " + std::to_string(firstTag_) + ", not 1");
    }
};

}  // namespace

void ReadScript(std::string_view text, Script* script, Problems* problems, Detail detail, std::string* tolerated) {
    *script = Script();
    script->detail = detail;
    LineWalk walk(text, problems, tolerated);
    ScriptReader(script, problems, nullptr).Read(walk);
    problems->Sort();
}

qsx::util::ReadState ReadScriptFile(const std::string& path, Detail detail, Script* script, Problems* problems,
                                    std::string* error, ScriptSink* sink, std::string* tolerated) {
    *script = Script();
    script->detail = detail;
    return WalkFile(
        path, problems, error, [&](LineWalk& walk) { ScriptReader(script, problems, sink).Read(walk); }, tolerated);
}

}  // namespace qsxhost::script
