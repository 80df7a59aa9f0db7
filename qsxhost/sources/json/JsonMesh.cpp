// Evaluated objects and their meshes: `renderable` deciding whether a mesh
// counts, the mesh lists read into scratch lists and copied out at their size,
// and the checks a mesh needs whole.
#include "qsxhost/sources/json/JsonReader.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace qsxhost::json {
namespace {

constexpr Known kMeshMembers[] = {{"vertices", Part::Points},     {"faces", Part::Triples},
                                  {"materialIds", Part::PerFace}, {"smoothing", Part::PerFace},
                                  {"tverts", Part::Points},       {"tfaces", Part::Triples}};
enum MeshBit : unsigned { kVertices, kFaces, kMaterialIds, kSmoothing, kTVerts, kTFaces };
constexpr unsigned kRenderableBit = 0;

// Empties a list kept for the next mesh, or gives its memory back when large.
template <class T>
void KeepOrFree(std::vector<T>& list) {
    list.clear();
    if (list.capacity() * sizeof(T) > (size_t{1} << 20)) std::vector<T>().swap(list);
}

}  // namespace

// `renderable` decides whether `mesh` is read at all, wherever it stands. A
// mesh met before it is read as if renderable (the default); a fault in it is
// held until `renderable` says whether the mesh counts.
bool Reader::MemberOfObject(Frame& f, std::string_view key) {
    if (key == "renderable") return Meet(f, key, kRenderableBit, Part::Renderable);
    if (key != "mesh") return Unknown(key);
    // Ignored when not renderable; while a fault of an earlier mesh is held,
    // that fault comes first whatever this one holds.
    if ((renderableKnown_ && !object_->renderable) || hold_ == Hold::Renderable) return true;
    if (!Meet(f, key, 1, Part::Mesh)) return false;
    meshTentative_ = !renderableKnown_;
    meshWarnings_ = warnings_.size();
    return true;
}

bool Reader::MemberOfMesh(Frame& f, std::string_view key) {
    const int i = IndexOf(kMeshMembers, key);
    if (i < 0) return Unknown(key);
    if (!Meet(f, key, static_cast<unsigned>(i), kMeshMembers[i].part)) return false;
    host::Mesh& mesh = object_->mesh;
    switch (i) {
        case kVertices: f.out = &mesh.verts; break;
        case kFaces: f.out = &mesh.faces; break;
        case kMaterialIds: f.out = &scratch_.ids; break;
        case kSmoothing: f.out = &scratch_.smoothing; break;
        case kTVerts: f.out = &mesh.tVerts; break;
        default: f.out = &mesh.tvFaces; break;
    }
    return true;
}

// One corner of a face or texture face. An index beyond a count already known
// is refused as read; otherwise the mesh's end checks it.
bool Reader::Corner(Frame& f, Tok t, std::string_view text) {
    if (f.count >= 3) return SkipScalar(t, text);
    if (t != Tok::Number) return Mismatch(t, "an integer");
    int64_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (r.ptr != text.data() + text.size() || r.ec != std::errc()) [[unlikely]]
        return Int(text, 0, kUint32Max, n);
    if (static_cast<uint64_t>(n) >= tripleBound_) [[unlikely]]
        return IndexOutOfRange(Owner(), n, tripleLimit_, tripleFaces_);
    corners_[f.count] = static_cast<uint32_t>(n);
    return true;
}

bool Reader::IndexOutOfRange(const At& at, int64_t index, int64_t limit, bool faces) {
    const char* what = faces ? "vertex" : "texture vertex";
    std::string message = std::string(what) + " index " + std::to_string(index) + " out of range";
    if (limit >= 0) message += " (mesh has " + Count(limit, what, faces ? "vertices" : "texture vertices") + ")";
    return Fail(at, message);
}

bool Reader::OpenObject() {
    JsonNode* node = static_cast<JsonNode*>(frames_.back().target);
    object_ = &scene_.objects.emplace_back();
    node->object = object_;
    renderableKnown_ = false;
    objectFrame_ = frames_.size();
    Push(Part::EvalObject, false);
    return true;
}

bool Reader::OpenMesh() {
    nVerts_ = nTVerts_ = -1;
    facesChecked_ = tfacesChecked_ = false;
    scratch_.ids.clear();
    scratch_.smoothing.clear();
    Push(Part::Mesh, false);
    return true;
}

bool Reader::OpenTriples(Frame& f) {
    tripleFaces_ = f.out == &object_->mesh.faces;
    tripleLimit_ = tripleFaces_ ? nVerts_ : nTVerts_;
    // Below this an index is in range: one test for a negative, a too large and an unknown one.
    tripleBound_ = tripleLimit_ >= 0 ? static_cast<uint64_t>(tripleLimit_) : uint64_t{kUint32Max} + 1;
    (tripleFaces_ ? facesChecked_ : tfacesChecked_) = tripleLimit_ >= 0;
    scratch_.faces.clear();
    scratch_.tfaces.clear();
    Push(Part::Triples, true, f.out);
    return true;
}

bool Reader::RenderableRead(bool renderable) {
    object_->renderable = renderable;
    renderableKnown_ = true;
    if (hold_ != Hold::Renderable) return true;
    std::string held = renderable ? HeldMeshFault() : std::string();
    hold_ = Hold::None;
    held_.clear();
    return !renderable || Settle(std::move(held));
}

bool Reader::ObjectClosed(const Frame& f) {
    SceneObject& o = *object_;
    // `renderable` never came: the default, renderable, lets a held fault stand.
    if (hold_ == Hold::Renderable) {
        std::string held = HeldMeshFault();
        hold_ = Hold::None;
        held_.clear();
        return Settle(std::move(held));
    }
    if (!o.renderable) {
        // A mesh read before `renderable` said no is ignored, and so is what was wrong with it.
        if (f.seen & 2u) warnings_.resize(meshWarnings_);
        o.mesh = host::Mesh();
        return true;
    }
    if (!(f.seen & 2u)) return Fail(Here(), "missing member \"mesh\" (required when renderable)");
    SceneStats& st = scene_.stats;
    ++st.meshes;
    st.vertices += o.mesh.getNumVerts();
    st.faces += o.mesh.getNumFaces();
    return true;
}

// The checks a mesh needs whole: list lengths against the face count, and
// indices read before the count they index was known.
bool Reader::MeshClosed(const Frame& f) {
    host::Mesh& mesh = object_->mesh;
    const size_t nFaces = mesh.faces.size();
    struct PerFaceList {
        unsigned bit;
        size_t size;
        const char* name;
    } lists[] = {{kMaterialIds, scratch_.ids.size(), ".materialIds"},
                 {kSmoothing, scratch_.smoothing.size(), ".smoothing"},
                 {kTFaces, mesh.tvFaces.size(), ".tfaces"}};
    for (const PerFaceList& l : lists) {
        if ((f.seen & (1u << l.bit)) && l.size != nFaces)
            return Fail(Here(l.name), "has " + Count(static_cast<int64_t>(l.size), "entry", "entries") +
                                           " but the mesh has " + Count(static_cast<int64_t>(nFaces), "face", "faces"));
    }
    auto inRange = [&](const uint32_t* corners, size_t k, size_t limit, bool faces) {
        for (int c = 0; c < 3; ++c) {
            if (corners[c] >= limit)
                return IndexOutOfRange(Here((faces ? ".faces[" : ".tfaces[") + std::to_string(k) + "]"), corners[c],
                                       static_cast<int64_t>(limit), faces);
        }
        return true;
    };
    if (!facesChecked_)
        for (size_t k = 0; k < nFaces; ++k)
            if (!inRange(mesh.faces[k].v, k, mesh.verts.size(), true)) return false;
    if (!tfacesChecked_)
        for (size_t k = 0; k < mesh.tvFaces.size(); ++k)
            if (!inRange(mesh.tvFaces[k].t, k, mesh.tVerts.size(), false)) return false;
    for (size_t k = 0; k < scratch_.ids.size(); ++k) mesh.faces[k].flags = scratch_.ids[k] << 16;
    for (size_t k = 0; k < scratch_.smoothing.size(); ++k) mesh.faces[k].smGroup = scratch_.smoothing[k];
    KeepOrFree(scratch_.ids);
    KeepOrFree(scratch_.smoothing);
    meshTentative_ = false;
    return true;
}

namespace {

// Lists written without blanks pay one test per token.
const char* SkipBlanks(const char* p) {
    if (static_cast<unsigned char>(*p) > ' ') [[likely]]
        return p;
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
    return p;
}

// The numbers of one bracketed element at p: at most 3, each read by scan.
// Answers the byte after its closing bracket (nullptr: not such an element).
template <class T, class Scan>
const char* Element(const char* p, T (&v)[3], int& n, Scan scan) {
    if (*p != '[') return nullptr;
    p = SkipBlanks(p + 1);
    for (n = 0; n < 3;) {
        if (!(p = scan(p, v[n++]))) return nullptr;
        p = SkipBlanks(p);
        if (*p == ']') return p + 1;
        if (*p != ',') return nullptr;
        p = SkipBlanks(p + 1);
    }
    return nullptr;  // a fourth value
}

}  // namespace

bool Reader::ListOpen() const {
    const Part p = frames_.back().part;
    return (p == Part::Points || p == Part::Triples || p == Part::PerFace || p == Part::Transform) &&
           frames_.back().count == 0 && !finished_;
}

// The parser is just past the list's opening bracket, and goes on at the
// place answered as if it had only just come there: the elements taken here
// are those it would read without a fault, each taken with the comma after it
// only when the next element starts right after (a comma before the closing
// bracket is for the parser to refuse), the last with the closing bracket
// left to the parser. Whatever else comes, the parser reads from the element
// where it stands, and every outcome is the parser's own.
char* Reader::RunList(char* text) {
    Frame& f = frames_.back();
    const char* p = text;
    const char* const limit = text_.Readable();
    // Where the element after the one that ends at q starts, when it is one to take.
    auto next = [](const char* q, bool bracketed) -> const char* {
        q = SkipBlanks(q);
        if (*q == ']') return q;
        if (*q != ',') return nullptr;
        q = SkipBlanks(q + 1);
        return (bracketed ? *q == '[' : IsDigit(*q)) ? q : nullptr;
    };
    if (f.part == Part::PerFace) {
        auto& out = *static_cast<std::vector<uint32_t>*>(f.target);
        const uint64_t most = static_cast<uint64_t>(perFaceMax_);
        for (;;) {
            uint64_t n;
            const char* q = ScanIndex(SkipBlanks(p), n);
            if (!q || n > most || !(q = next(q, false))) break;
            out.push_back(static_cast<uint32_t>(n));
            ++f.count;
            p = q;
            if (*q == ']') break;
        }
    } else if (depth_ < kHardMaxDepth && f.part == Part::Transform) {
        // Rows past the fourth are the general way's to skip.
        auto scan = [limit](const char* q, float& v) { return ScanFloat(q, v, limit); };
        while (f.count < 4) {
            float v[3];
            int n;
            const char* q = Element(SkipBlanks(p), v, n, scan);
            if (!q || n < 3 || !(q = next(q, true))) break;
            rows_[f.count++] = host::Point3{v[0], v[1], v[2]};
            p = q;
            if (*q == ']') break;
        }
    } else if (depth_ < kHardMaxDepth && f.part == Part::Points) {
        auto& out = scratch_.points;
        auto scan = [limit](const char* q, float& v) { return ScanFloat(q, v, limit); };
        for (;;) {
            float v[3] = {0, 0, 0};  // w of a texture vertex defaults to 0
            int n;
            const char* q = Element(SkipBlanks(p), v, n, scan);
            if (!q || n < f.wantMin || f.count >= kInt32Max || !(q = next(q, true))) break;
            out.push_back(host::Point3{v[0], v[1], v[2]});
            ++f.count;
            p = q;
            if (*q == ']') break;
        }
    } else if (depth_ < kHardMaxDepth) {
        const uint64_t bound = tripleBound_;
        auto scan = [bound](const char* q, uint64_t& v) {
            q = ScanIndex(q, v);
            return q && v < bound ? q : nullptr;
        };
        for (;;) {
            uint64_t v[3];
            int n = 3;
            const char* q = SkipBlanks(p);
            // The faces of small meshes are mostly "[d,d,d]": matched byte by byte
            // (each byte looked at only when those before it matched, so never
            // past the zero byte that ends the text), with no scan per corner.
            if (q[0] == '[' && IsDigit(q[1]) && q[2] == ',' && IsDigit(q[3]) && q[4] == ',' && IsDigit(q[5]) &&
                q[6] == ']' && static_cast<uint64_t>(q[1] - '0') < bound && static_cast<uint64_t>(q[3] - '0') < bound &&
                static_cast<uint64_t>(q[5] - '0') < bound) {
                v[0] = static_cast<uint64_t>(q[1] - '0'), v[1] = static_cast<uint64_t>(q[3] - '0');
                v[2] = static_cast<uint64_t>(q[5] - '0');
                q += 7;
            } else {
                q = Element(q, v, n, scan);
            }
            if (!q || n < 3 || f.count >= kInt32Max || !(q = next(q, true))) break;
            for (int c = 0; c < 3; ++c) corners_[c] = static_cast<uint32_t>(v[c]);
            EmitTriple();
            ++f.count;
            p = q;
            if (*q == ']') break;
        }
    }
    return text + (p - text);
}

bool Reader::MembersOpen() const {
    const Frame& f = frames_.back();
    return (f.part == Part::Node || f.part == Part::EvalObject || f.part == Part::Mesh) && f.seen == 0 &&
           f.slot == Part::None && !finished_;
}

namespace {

// A byte that may stand in a string as itself, needing no check of its encoding.
bool Plain(char c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\'; }

// Where the next member starts (its name's quote) or the object ends, when the
// member ending at p is followed by either; nullptr for anything else.
const char* Follows(const char* p) {
    p = SkipBlanks(p);
    if (*p == '}') return p;
    if (*p != ',') return nullptr;
    p = SkipBlanks(p + 1);
    return *p == '"' ? p : nullptr;
}

// Whether the list at p is to be read here: one that ran on past end would
// be read twice, so near end only a short list closed before it ("]", or
// "]]" when its elements are bracketed; looked for 8 bytes at a time), and
// a long one is as quick the general way. Far from end, any list: one as
// long as that is longer than the lists of any scene in practice.
bool ListHere(const char* p, const char* end, bool flat) {
    constexpr ptrdiff_t kFar = ptrdiff_t{1} << 19, kShort = 4096;
    constexpr uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
    if (end - p > kFar) return true;
    const char* const stop = end - p > kShort ? p + kShort : end;
    auto closes = [flat](const char* q) { return *q == ']' && (flat || q[1] == ']'); };
    for (; stop - p >= 8; p += 7) {
        uint64_t x;
        std::memcpy(&x, p, 8);
        x ^= kOnes * ']';
        // High bits at the bytes that are ']' (and maybe at some after one):
        // a window of 8 overlapping the next by one holds any pair there is.
        const uint64_t z = (x - kOnes) & ~x & kHigh;
        if (z && (flat || (z & (z >> 8))))
            for (int k = 0; k < 7; ++k)
                if (closes(p + k)) return true;
    }
    for (; p < stop - 1; ++p)
        if (closes(p)) return true;
    return false;
}

}  // namespace

// The parser is just past the object's opening brace, and goes on at the place
// answered as if it had only just come there, as after RunList. The members
// taken here are given to the reader as the parser's events would give them,
// one whole member at a time: a plain name, then a value the parser would read
// without a fault and that is followed by the next member or the object's end.
// A list is read as RunList reads it; one it does not read to its end is given
// back (the reader's state as before the member), to be read the general way.
char* Reader::RunMembers(char* text, const char* end) {
    const size_t level = frames_.size();
    const char* p = text;
    auto writable = [text](const char* q) { return text + (q - text); };
    for (;;) {
        const char* const k = SkipBlanks(p);
        if (*k != '"') break;
        const char* q = k + 1;
        while (Plain(*q)) ++q;
        if (*q != '"') break;
        const std::string_view key(k + 1, static_cast<size_t>(q - k - 1));
        const char* const nameEnd = q;
        const char* v = SkipBlanks(q + 1);
        if (*v != ':') break;
        v = SkipBlanks(v + 1);
        Frame& f = frames_.back();
        int bit = -1;
        Part part = Part::None;
        if (f.part == Part::Node) {
            bit = NodeMember(key, part);
        } else if (f.part == Part::Mesh) {
            bit = IndexOf(kMeshMembers, key);
            if (bit >= 0) part = kMeshMembers[bit].part;
        } else if (key == "renderable") {
            bit = kRenderableBit, part = Part::Renderable;
        }
        if (bit < 0 || (f.seen & (1u << bit))) break;
        const char* next = nullptr;
        if (part == Part::Transform || part == Part::Points || part == Part::Triples || part == Part::PerFace) {
            if (*v != '[' || depth_ + 1 >= kHardMaxDepth || !ListHere(v, end, part == Part::PerFace)) break;
            const Frame saved = f;
            const int32_t depth = depth_;
            OnKey(key);
            OnOpenArray();
            const char* r = frames_.size() == level + 1 && ListOpen() ? SkipBlanks(RunList(writable(v + 1))) : v;
            if (*r != ']' || !(next = Follows(r + 1))) {
                frames_.resize(level);
                frames_.back() = saved;
                depth_ = depth;
                break;
            }
            *writable(nameEnd) = '\0';  // as the parser leaves a string it read in place
            OnCloseArray();
        } else if (part == Part::NodeName) {
            const char* e = v + 1;
            if (*v != '"') break;
            while (Plain(*e)) ++e;
            if (*e != '"' || !(next = Follows(e + 1))) break;
            OnKey(key);
            OnScalar(Tok::String, std::string_view(v + 1, static_cast<size_t>(e - v - 1)));
            *writable(nameEnd) = *writable(e) = '\0';
        } else if (part == Part::NodeMaterial) {
            const char* e = v;
            while (IsDigit(*e)) ++e;
            if (e == v || e - v > 10 || (*v == '0' && e - v > 1) || !(next = Follows(e))) break;
            OnKey(key);
            OnNumber(std::string_view(v, static_cast<size_t>(e - v)));
            *writable(nameEnd) = '\0';
        } else if (part == Part::Renderable) {
            if (*v != 't' && *v != 'f') break;  // then the padding after the text holds the rest
            const bool yes = std::string_view(v, 4) == "true";
            const char* const e = v + (yes ? 4 : 5);
            if (!yes && std::string_view(v, 5) != "false") break;
            if (!(next = Follows(e))) break;
            OnKey(key);
            OnScalar(yes ? Tok::True : Tok::False, {});
            *writable(nameEnd) = '\0';
        } else {
            break;
        }
        p = next;
        // A fault met, or anything else the general way would go on from: the parser's.
        if (*p == '}' || finished_ || frames_.size() != level || frames_.back().slot != Part::None) break;
    }
    return writable(p);
}

void Reader::PointsClosed(const Frame& f) {
    auto& out = *static_cast<std::vector<host::Point3>*>(f.target);
    out.assign(scratch_.points.begin(), scratch_.points.end());
    KeepOrFree(scratch_.points);
    (&out == &object_->mesh.verts ? nVerts_ : nTVerts_) = static_cast<int64_t>(out.size());
}

void Reader::TriplesClosed(const Frame& f) {
    if (tripleFaces_) {
        static_cast<std::vector<host::Face>*>(f.target)->assign(scratch_.faces.begin(), scratch_.faces.end());
        KeepOrFree(scratch_.faces);
    } else {
        static_cast<std::vector<host::TVFace>*>(f.target)->assign(scratch_.tfaces.begin(), scratch_.tfaces.end());
        KeepOrFree(scratch_.tfaces);
    }
}

}  // namespace qsxhost::json
