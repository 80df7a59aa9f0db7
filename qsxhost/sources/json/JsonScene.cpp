#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/sources/TreeNode.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include <simdjson.h>

namespace qsxhost {
namespace {

namespace od = simdjson::ondemand;
using simdjson::error_code;

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUint32Max = std::numeric_limits<uint32_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr double kHalfAboveFloatMax = 0x1.ffffffp127;  // FLT_MAX plus half its last place

// A double exactly halfway between two floats has a one and then only zeros
// below float precision (29 bits of it for normal floats, more for subnormal
// ones): its low 28 bits are zero, which is rare otherwise.
bool MayBeHalfway(double d) { return (std::bit_cast<uint64_t>(d) & 0x0FFFFFFFu) == 0; }

// Rounded once from the decimal text to float. Going through double rounds
// twice, which differs only when the double lands exactly halfway between two
// floats; that case (rare, and cheap to spot) is left, with everything else
// that is not plainly a float (e, d), to be read again from the text.
[[gnu::always_inline]] inline bool FloatFast(od::value& v, error_code& e, double& d, float& out) {
    d = 0;
    e = v.get_double().get(d);
    if (e || !(std::fabs(d) < kHalfAboveFloatMax)) [[unlikely]]
        return false;
    const float f = static_cast<float>(d);
    if (static_cast<double>(f) != d && MayBeHalfway(d)) [[unlikely]]
        return false;
    out = f;
    return true;
}

// An integer from lo to hi; otherwise leaves what get_int64 answered (e, n).
[[gnu::always_inline]] inline bool IntFast(od::value& v, int64_t lo, int64_t hi, error_code& e, int64_t& n) {
    n = 0;
    e = v.get_int64().get(n);
    return !e && n >= lo && n <= hi;
}

// Nesting allowed in a document. Each node level costs two (the node object and
// its "children" array), so node hierarchies may be about 50,000 deep. Nothing
// here walks the document or the node tree recursively; the limit bounds the
// parser's bookkeeping, which checked builds of the parser assert on.
constexpr int32_t kMaxJsonDepth = 100'000;
// Levels a node's own members may add below it (object.mesh.faces[i][j]).
constexpr int32_t kNodeMemberDepth = 8;

// ---------------------------------------------------------------------------
// Scene objects

class JsonTexmap final : public host::Texmap {
public:
    host::Class_ID cls;
    std::string file;

    host::Class_ID ClassID() const override { return cls; }
    std::string_view GetMapName() const override { return file; }
};

// A reference by index that may be absent (null or no member).
struct Ref {
    bool present = false;
    int64_t index = 0;
};

struct MapSlot {
    bool enabled = false;
    Ref ref;
    host::Texmap* map = nullptr;
};

// One class answers for every material class: the members a class does not have
// keep their neutral values, which are what the interface answers for them.
class JsonMtl final : public host::Mtl {
public:
    host::Class_ID cls;
    bool twoSided = false;
    bool wire = false;
    int shading = 1;
    float opacity = 1.0f;
    host::Point3 ambient, diffuse, specular;
    MapSlot diffuseMap, opacityMap;
    std::vector<Ref> subRefs;
    std::vector<host::Mtl*> subs;

    host::Class_ID ClassID() const override { return cls; }
    int NumSubMtls() const override { return static_cast<int>(subs.size()); }
    host::Mtl* GetSubMtl(int i) const override {
        return i >= 0 && i < NumSubMtls() ? subs[static_cast<size_t>(i)] : nullptr;
    }
    bool MapEnabled(int channel) const override {
        const MapSlot* s = Slot(channel);
        return s && s->enabled;
    }
    host::Texmap* GetSubTexmap(int channel) const override {
        const MapSlot* s = Slot(channel);
        return s ? s->map : nullptr;
    }
    bool GetTwoSided() const override { return twoSided; }
    bool GetWire() const override { return wire; }
    int GetShading() const override { return shading; }
    float GetOpacity(host::TimeValue) const override { return opacity; }
    host::Point3 GetAmbient(host::TimeValue) const override { return ambient; }
    host::Point3 GetDiffuse(host::TimeValue) const override { return diffuse; }
    host::Point3 GetSpecular(host::TimeValue) const override { return specular; }

private:
    const MapSlot* Slot(int channel) const {
        if (channel == host::ID_DI) return &diffuseMap;
        if (channel == host::ID_OP) return &opacityMap;
        return nullptr;
    }
};

class JsonObject final : public host::TriObject {
public:
    bool renderable = true;
    host::Mesh mesh;

    bool IsRenderable() const override { return renderable; }
    void GetDeformBBox(host::TimeValue, host::Box3& box, const host::Matrix3* tm, int) const override {
        if (tm) {
            for (const host::Point3& p : mesh.verts) box += p * *tm;
        } else {
            for (const host::Point3& p : mesh.verts) box += p;
        }
    }
    // The object is already a triangle object.
    host::TriObject* ConvertToType(host::TimeValue, host::Class_ID) override { return this; }
    // The scene owns its objects; a caller disposing of one must not free it.
    void DeleteThis() override {}
    const host::Mesh& GetMesh() const override { return mesh; }
};

struct Key {
    host::TimeValue time = 0;
    host::Matrix3 tm;
};

class JsonNode final : public TreeNode<JsonNode, JsonObject> {
public:
    int64_t indexInParent = 0;
    host::Matrix3 tm;
    std::vector<Key> keys;
    host::Point3 offsetPos;
    host::Quat offsetRot;
    Ref mtlRef;

    host::Matrix3 GetNodeTM(host::TimeValue t) const override {
        if (keys.empty()) return tm;
        // Keys are held: the last key at or before t, the first key before them all.
        auto it = std::upper_bound(keys.begin(), keys.end(), t,
                                   [](host::TimeValue v, const Key& k) { return v < k.time; });
        return it == keys.begin() ? keys.front().tm : std::prev(it)->tm;
    }
    host::Point3 GetObjOffsetPos() const override { return offsetPos; }
    host::Quat GetObjOffsetRot() const override { return offsetRot; }
};

class JsonScene final : public SceneSource {
public:
    JsonScene() { root.root = true; }

    host::INode* GetRootNode() override { return &root; }
    host::Interval GetAnimRange() const override { return range; }
    int GetTicksPerFrame() const override { return ticksPerFrame; }
    SceneStats Stats() const override { return stats; }

    JsonNode root;
    std::deque<JsonNode> nodes;
    std::deque<JsonObject> objects;
    std::deque<JsonMtl> mtls;
    std::deque<JsonTexmap> maps;
    host::Interval range;
    int ticksPerFrame = 160;
    SceneStats stats;
};

// ---------------------------------------------------------------------------
// Places in the document, kept as a chain on the stack and spelled out only
// when something is wrong.

struct Where {
    const Where* up = nullptr;
    const JsonNode* node = nullptr;  // this link stands for the node's own place
    const char* key = nullptr;       // ".key"
    int64_t index = -1;              // "[index]"
};

Where Member(const Where& up, const char* key) { return Where{&up, nullptr, key, -1}; }
Where Element(const Where& up, int64_t i) { return Where{&up, nullptr, nullptr, i}; }

void AppendIndex(std::string& s, int64_t i) {
    s += '[';
    s += std::to_string(i);
    s += ']';
}

std::string NodePlace(const JsonNode* n) {
    std::vector<const JsonNode*> chain;
    for (; n && !n->root; n = n->parent) chain.push_back(n);
    std::string s;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        s += ((*it)->parent && !(*it)->parent->root) ? ".children" : "nodes";
        AppendIndex(s, (*it)->indexInParent);
    }
    return s;
}

std::string Render(const Where& w) {
    std::vector<const Where*> chain;
    for (const Where* p = &w; p; p = p->up) chain.push_back(p);
    std::string s;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Where& l = **it;
        if (l.node) s += NodePlace(l.node);
        if (l.key) {
            if (!s.empty()) s += '.';
            s += l.key;
        }
        if (l.index >= 0) AppendIndex(s, l.index);
    }
    return s.empty() ? std::string("document") : s;
}

const char* TypeName(od::json_type t) {
    switch (t) {
        case od::json_type::array: return "an array";
        case od::json_type::object: return "an object";
        case od::json_type::number: return "a number";
        case od::json_type::string: return "a string";
        case od::json_type::boolean: return "a boolean";
        case od::json_type::null: return "null";
    }
    return "an unknown value";
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool IsIntegerToken(std::string_view t) {
    if (!t.empty() && t.front() == '-') t.remove_prefix(1);
    if (t.empty()) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string Count(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

// The length of the text at p before its first '"' or '\\', which the caller
// knows to come before the end of the padded document; eight bytes at a time.
size_t QuoteOrBackslash(const char* p) {
    if constexpr (std::endian::native != std::endian::little) {
        size_t n = 0;
        while (p[n] != '"' && p[n] != '\\') ++n;
        return n;
    }
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    for (size_t n = 0;; n += 8) {
        uint64_t x;
        std::memcpy(&x, p + n, 8);
        const uint64_t q = x ^ (kOnes * '"'), b = x ^ (kOnes * '\\');
        // The lowest byte flagged is the first of either (higher flags may be spurious).
        const uint64_t hit = (((q - kOnes) & ~q) | ((b - kOnes) & ~b)) & kHighs;
        if (hit) return n + static_cast<size_t>(std::countr_zero(hit)) / 8;
    }
}

uint32_t* Corners(host::Face& f) { return f.v; }
uint32_t* Corners(host::TVFace& f) { return f.t; }

// The document text, followed by the zeroed padding the parser may read past
// its end. A large text has pages of its own: the part already read is given
// back to the system while the rest is read, so the text does not stay whole
// beside the scene that grows from it. A small one (nothing to give back) is
// on the heap, which costs less to take and to give up.
class Text {
public:
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() {
        if (mapped_)
            ::munmap(base_, size_);
        else
            std::free(base_);
    }
    // Room for n bytes of text, keeping those already there; false with errno set when there is none.
    bool Reserve(size_t n) {
        const size_t want = n + simdjson::SIMDJSON_PADDING;
        if (want <= size_) return true;
        if (want < kGiveBackStep) {
            void* p = std::realloc(base_, want);
            if (!p) {
                errno = ENOMEM;
                return false;
            }
            base_ = static_cast<char*>(p);
            size_ = want;
            return true;
        }
        const size_t bytes = (want + kPage - 1) / kPage * kPage;
        void* p = mapped_ ? ::mremap(base_, size_, bytes, MREMAP_MAYMOVE)
                          : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        if (!mapped_ && base_) {
            std::memcpy(p, base_, size_);
            std::free(base_);
        }
        base_ = static_cast<char*>(p);
        size_ = bytes;
        mapped_ = true;
        // Taken in fewer, larger pages where the system offers them: cheaper to
        // fill (only a hint; refused or ignored is fine).
        ::madvise(base_, size_, MADV_HUGEPAGE);
        return true;
    }
    char* Data() const { return base_; }
    // Bytes of text there is room for; the padding comes after them.
    size_t Capacity() const { return size_ ? size_ - simdjson::SIMDJSON_PADDING : 0; }
    // The text is the first len bytes: zeroes the padding after them.
    void EndAt(size_t len) { std::memset(base_ + len, 0, simdjson::SIMDJSON_PADDING); }
    // Gives back the pages well before p, a few megabytes at a time. Read again,
    // they would be zeros: after this the text must be put back before it is
    // read from its start again.
    void GiveBackBefore(const char* p) {
        if (!mapped_) return;
        const uintptr_t base = reinterpret_cast<uintptr_t>(base_);
        const uintptr_t at = reinterpret_cast<uintptr_t>(p);
        if (at < base + kGiveBackMargin) return;
        const uintptr_t end = (at - kGiveBackMargin) & ~(kGiveBackStep - 1);
        const uintptr_t from = base + given_;
        if (end <= from) return;
        if (::madvise(reinterpret_cast<void*>(from), end - from, MADV_DONTNEED) == 0) given_ = end - base;
    }
    bool GivenBack() const { return given_ > 0; }
    // The text was put back whole.
    void Restored() { given_ = 0; }

private:
    static constexpr size_t kPage = 4096;
    static constexpr size_t kGiveBackStep = size_t{2} << 20;  // a power of two
    // Kept behind the reading position, so that the token being read is never touched.
    static constexpr size_t kGiveBackMargin = size_t{64} << 10;

    char* base_ = nullptr;
    size_t size_ = 0;  // with the padding
    bool mapped_ = false;
    size_t given_ = 0;  // bytes from the start given back
};

// Known members seen in one object, so that a repeated one is refused rather than
// silently choosing one of the two.
class Seen {
public:
    bool First(unsigned bit) {
        const uint32_t m = 1u << bit;
        if (bits_ & m) return false;
        bits_ |= m;
        return true;
    }
    bool Has(unsigned bit) const { return bits_ & (1u << bit); }

private:
    uint32_t bits_ = 0;
};

// ---------------------------------------------------------------------------
// The reader. Every step answers false after recording the one message.

class Loader {
public:
    // With `text`, parts of it already read are given back as reading goes on.
    Loader(JsonScene& scene, const char* base, od::document& doc, Text* text)
        : scene_(scene), base_(base), doc_(doc), text_(text) {}

    // When set, every evaluated object is searched for `renderable` before its mesh is read.
    void LookAhead() { lookAhead_ = true; }
    bool Load();
    // After a refusal: true when reading again with LookAhead() may answer otherwise.
    bool RetryLookingAhead() const { return retryLookingAhead_; }
    const std::string& Error() const { return error_; }

private:
    struct NodeFrame {
        JsonNode* node = nullptr;
        od::object obj;
        od::object_iterator it, end;
        bool inChildren = false;
        od::array_iterator cit, cend;
        int64_t childCount = 0;
        Seen seen;
    };

    [[gnu::noinline, gnu::cold]] bool Fail(const Where& w, const std::string& what) {
        error_ = Render(w) + ": " + what;
        return false;
    }
    std::string Offset(error_code e = simdjson::SUCCESS) {
        // A document cut short is found before reading starts; no place in it is to blame.
        if (e == simdjson::INCOMPLETE_ARRAY_OR_OBJECT) return {};
        const char* p = nullptr;
        if (doc_.current_location().get(p) != simdjson::SUCCESS || !p) return {};
        return " at byte " + std::to_string(p - base_);
    }
    [[gnu::noinline, gnu::cold]] bool JsonFail(error_code e, const Where& w) {
        jsonFault_ = true;
        return Fail(w, "invalid JSON" + Offset(e) + ": " + simdjson::error_message(e));
    }
    // After a typed read failed with `e`: says what was found instead.
    [[gnu::noinline, gnu::cold]] bool Mismatch(error_code e, od::value& v, const Where& w, od::json_type want,
                                               const char* wantName) {
        if (e != simdjson::INCORRECT_TYPE) return JsonFail(e, w);
        od::json_type t;
        if (error_code te = v.type().get(t)) return JsonFail(te, w);
        if (t == want) {
            // The first byte promised the type but the token is malformed ("tru", "nul").
            jsonFault_ = true;
            return Fail(w, "invalid JSON" + Offset() + ": malformed value '" + std::string(Trim(v.raw_json_token())) +
                               "'");
        }
        return Fail(w, std::string("expected ") + wantName + ", found " + TypeName(t));
    }

    bool Object(od::value& v, const Where& w, od::object& out) {
        error_code e = v.get_object().get(out);
        return !e || Mismatch(e, v, w, od::json_type::object, "an object");
    }
    bool Array(od::value& v, const Where& w, od::array& out) {
        error_code e = v.get_array().get(out);
        return !e || Mismatch(e, v, w, od::json_type::array, "an array");
    }
    bool Bool(od::value& v, const Where& w, bool& out) {
        error_code e = v.get_bool().get(out);
        return !e || Mismatch(e, v, w, od::json_type::boolean, "a boolean");
    }
    bool String(od::value& v, const Where& w, std::string_view& out) {
        error_code e = v.get_string().get(out);
        return !e || Mismatch(e, v, w, od::json_type::string, "a string");
    }
    bool IsNull(od::value& v) {
        od::json_type t;
        return v.type().get(t) == simdjson::SUCCESS && t == od::json_type::null;
    }
    bool Null(od::value& v, const Where& w) {
        bool isNull = false;
        error_code e = v.is_null().get(isNull);
        if (!e && !isNull) e = simdjson::INCORRECT_TYPE;
        return !e || Mismatch(e, v, w, od::json_type::null, "null");
    }

    // Integers must be written as integers: a number with a fraction or an
    // exponent is refused even when its value is whole (3.0, 1e2), since a count
    // or an index written that way is more likely a mistake than an intention.
    bool Int(od::value& v, const Where& w, int64_t lo, int64_t hi, int64_t& out) {
        error_code e;
        if (IntFast(v, lo, hi, e, out)) [[likely]]
            return true;
        IntFault(v, w, lo, hi, e, out);
        return false;
    }
    // The same for entry i of a list (its place is spelled only for a message).
    [[gnu::always_inline]] bool IntAt(od::value& v, const Where& list, int64_t i, int64_t lo, int64_t hi,
                                      int64_t& out) {
        error_code e;
        if (IntFast(v, lo, hi, e, out)) [[likely]]
            return true;
        IntFault(v, Element(list, i), lo, hi, e, out);
        return false;
    }
    // After get_int64 answered `e` and `n`, not an integer from lo to hi: records why.
    [[gnu::noinline]] void IntFault(od::value& v, const Where& w, int64_t lo, int64_t hi, error_code e, int64_t n);
    bool Float(od::value& v, const Where& w, float& out) {
        error_code e;
        double d;
        return FloatFast(v, e, d, out) || FloatRare(v, w, e, d, out);
    }
    [[gnu::always_inline]] bool FloatAt(od::value& v, const Where& list, int64_t i, float& out) {
        error_code e;
        double d;
        return FloatFast(v, e, d, out) || FloatRare(v, Element(list, i), e, d, out);
    }
    // After get_double answered `e` (and `d`): a halfway case, a number beyond the
    // float range, or not a number at all.
    [[gnu::noinline]] bool FloatRare(od::value& v, const Where& w, error_code e, double d, float& out);
    // An array of minN..maxN numbers into out[0..n).
    [[gnu::always_inline]] bool Floats(od::value& v, const Where& w, float* out, int minN, int maxN);
    bool Point(od::value& v, const Where& w, host::Point3& out) {
        float f[3];
        if (!Floats(v, w, f, 3, 3)) return false;
        out = {f[0], f[1], f[2]};
        return true;
    }
    bool Matrix(od::value& v, const Where& w, host::Matrix3& out);
    bool IndexOrNull(od::value& v, const Where& w, Ref& out);
    bool ClassWords(od::value& v, const Where& w, host::Class_ID& out);
    // Class of a map or material: "class" (a name from `names`) or "classId".
    template <size_t N>
    bool ClassOf(od::object& obj, const Where& w, const std::pair<const char*, host::Class_ID> (&names)[N],
                 const char* kind, host::Class_ID& out);
    template <class F>
    bool ForEach(od::value& v, const Where& w, F&& f);
    // The member's name, unescaped. A name without a backslash is its own text
    // and is used in place; only one with escapes is unescaped (into the parser's
    // string buffer).
    bool MemberName(od::field& fld, const Where& w, std::string_view& out) {
        const char* p = fld.key().raw();
        const size_t n = QuoteOrBackslash(p);
        if (p[n] == '"') [[likely]] {
            out = std::string_view(p, n);
            return true;
        }
        if (error_code e = fld.unescaped_key().get(out)) return JsonFail(e, w);
        return true;
    }
    // Runs f(key, value) for each member; keys are unescaped.
    template <class F>
    bool Members(od::object& obj, const Where& w, F&& f);
    // Reads a member nobody asked for, only so that a malformed document is
    // refused whatever member the fault hides in.
    bool Skip(od::value& v, const Where& w);
    bool DepthOk(od::value& v, const Where& w) {
        if (v.current_depth() <= kMaxJsonDepth - kNodeMemberDepth) return true;
        return Fail(w, "nested more than " + std::to_string(kMaxJsonDepth - kNodeMemberDepth) + " levels deep");
    }
    bool Duplicate(const Where& w, std::string_view key) {
        return Fail(w, "member \"" + std::string(key) + "\" appears twice");
    }

    bool Animation(od::value& v, const Where& w);
    bool Map(od::value& v, const Where& w);
    bool Material(od::value& v, const Where& w);
    bool MapChannel(od::value& v, const Where& w, MapSlot& slot);
    bool Nodes(od::value& v, const Where& w);
    bool OpenNode(od::value& v, JsonNode* node, NodeFrame& frame);
    bool NodeMember(NodeFrame& f, std::string_view key, od::value& v);
    bool Keys(od::value& v, const Where& w, JsonNode& node);
    bool EvalObject(od::value& v, const Where& w, JsonNode& node);
    bool MeshOf(od::value& v, const Where& w, host::Mesh& mesh);
    bool Points(od::value& v, const Where& w, int minN, std::vector<host::Point3>& out);
    template <class T>
    bool Triples(od::value& v, const Where& w, std::vector<T>& list, std::vector<T>& out, int64_t limit,
                 const char* what, const char* whats);
    template <class T>
    bool PerFace(od::value& v, const Where& w, int64_t hi, std::vector<T>& list);
    // Empties a list kept for the next mesh, or gives its memory back when large.
    template <class T>
    static void KeepOrFree(std::vector<T>& list);
    bool Resolve();

    JsonNode* NewNode(JsonNode* parent, int64_t index) {
        JsonNode& n = scene_.nodes.emplace_back();
        n.parent = parent;
        n.indexInParent = index;
        return &n;
    }

    // Mesh lists are read into these, kept from mesh to mesh, and copied out at
    // their final size: counting first would cost a second pass over the text.
    struct Scratch {
        std::vector<host::Point3> points;
        std::vector<host::Face> faces;
        std::vector<host::TVFace> tfaces;
        std::vector<uint16_t> ids;
        std::vector<uint32_t> smoothing;
    };
    static constexpr size_t kScratchKeepBytes = 1 << 20;

    // Nothing before the value being read is read again (no object in reach is
    // searched from its start any more), so what lies well before it can go.
    void GiveBackRead() {
        const char* p = nullptr;
        if (text_ && doc_.current_location().get(p) == simdjson::SUCCESS) text_->GiveBackBefore(p);
    }
    static constexpr int64_t kGiveBackEvery = 1 << 14;  // list entries

    JsonScene& scene_;
    std::vector<JsonNode*> withMtl_;  // nodes naming a material, in document order
    Scratch scratch_;
    std::string error_;
    const char* base_;
    od::document& doc_;
    Text* text_;
    bool lookAhead_ = false;
    bool jsonFault_ = false;
    bool retryLookingAhead_ = false;
};

void Loader::IntFault(od::value& v, const Where& w, int64_t lo, int64_t hi, error_code e, int64_t n) {
    if (!e) {
        Fail(w, "integer " + std::to_string(n) + " out of range (" + std::to_string(lo) + " to " + std::to_string(hi) +
                    ")");
        return;
    }
    if (e != simdjson::INCORRECT_TYPE && e != simdjson::NUMBER_OUT_OF_RANGE && e != simdjson::NUMBER_ERROR) {
        JsonFail(e, w);
        return;
    }
    od::json_type t;
    if (error_code te = v.type().get(t)) {
        JsonFail(te, w);
    } else if (t != od::json_type::number) {
        Fail(w, std::string("expected an integer, found ") + TypeName(t));
    } else if (double d; error_code de = v.get_double().get(d)) {
        // Not a valid number at all ("01", "-") is a JSON fault, not a range fault.
        Mismatch(de, v, w, od::json_type::number, "a number");
    } else {
        const std::string token(Trim(v.raw_json_token()));
        if (IsIntegerToken(token))
            Fail(w, "integer " + token + " out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
        else
            Fail(w, "expected an integer, found " + token);
    }
}

bool Loader::FloatRare(od::value& v, const Where& w, error_code e, double d, float& out) {
    if (e) return Mismatch(e, v, w, od::json_type::number, "a number");
    // (The value's text stays reachable after it is read.)
    auto fromText = [&v](float& f) {
        const std::string_view t = Trim(v.raw_json_token());
        float g;
        auto r = std::from_chars(t.data(), t.data() + t.size(), g, std::chars_format::general);
        if (r.ec == std::errc() && r.ptr == t.data() + t.size()) f = g;
    };
    float f;
    if (std::fabs(d) < kHalfAboveFloatMax) {
        f = static_cast<float>(d);
        if (static_cast<double>(f) != d && MayBeHalfway(d)) fromText(f);
    } else {
        f = std::numeric_limits<float>::infinity();
        if (std::fabs(d) == kHalfAboveFloatMax) fromText(f);
    }
    if (std::isinf(f))
        return Fail(w, "number " + std::string(Trim(v.raw_json_token())) + " out of the range of a 32-bit float");
    out = f;
    return true;
}

inline bool Loader::Floats(od::value& v, const Where& w, float* out, int minN, int maxN) {
    od::array a;
    if (!Array(v, w, a)) return false;
    int n = 0;
    for (auto r : a) {
        od::value x;
        if (error_code e = std::move(r).get(x)) return JsonFail(e, Element(w, n));
        if (n < maxN && !FloatAt(x, w, n, out[n])) return false;
        ++n;
    }
    if (n < minN || n > maxN) [[unlikely]] {
        std::string want = minN == maxN ? std::to_string(minN) : std::to_string(minN) + " or " + std::to_string(maxN);
        return Fail(w, "expected " + want + " numbers, found " + std::to_string(n));
    }
    return true;
}

bool Loader::Matrix(od::value& v, const Where& w, host::Matrix3& out) {
    od::array a;
    if (!Array(v, w, a)) return false;
    host::Point3 rows[4];
    int n = 0;
    for (auto r : a) {
        od::value x;
        if (error_code e = std::move(r).get(x)) return JsonFail(e, Element(w, n));
        if (n < 4 && !Point(x, Element(w, n), rows[n])) return false;
        ++n;
    }
    if (n != 4) return Fail(w, "expected 4 rows, found " + std::to_string(n));
    out = host::Matrix3();
    for (int i = 0; i < 4; ++i) out.SetRow(i, rows[i]);
    out.SetFlags(rows[3] == host::Point3{0, 0, 0} ? host::POS_IDENT : 0);
    return true;
}

bool Loader::IndexOrNull(od::value& v, const Where& w, Ref& out) {
    if (IsNull(v)) {
        out = Ref{};
        return Null(v, w);
    }
    out.present = true;
    return Int(v, w, kInt64Min, kInt64Max, out.index);
}

bool Loader::ClassWords(od::value& v, const Where& w, host::Class_ID& out) {
    od::array a;
    if (!Array(v, w, a)) return false;
    int64_t words[2] = {0, 0};
    int n = 0;
    for (auto r : a) {
        od::value x;
        if (error_code e = std::move(r).get(x)) return JsonFail(e, Element(w, n));
        if (n < 2 && !Int(x, Element(w, n), 0, kUint32Max, words[n])) return false;
        ++n;
    }
    if (n != 2) return Fail(w, "expected 2 class words, found " + std::to_string(n));
    out = host::Class_ID(static_cast<uint32_t>(words[0]), static_cast<uint32_t>(words[1]));
    return true;
}

template <size_t N>
bool Loader::ClassOf(od::object& obj, const Where& w, const std::pair<const char*, host::Class_ID> (&names)[N],
                     const char* kind, host::Class_ID& out) {
    bool named = false, numbered = false;
    host::Class_ID byName, byWords;
    od::value v;
    error_code e = obj.find_field_unordered("class").get(v);
    if (e && e != simdjson::NO_SUCH_FIELD) return JsonFail(e, w);
    if (!e) {
        const Where cw = Member(w, "class");
        std::string_view s;
        if (!String(v, cw, s)) return false;
        for (const auto& [name, id] : names) {
            if (s == name) {
                byName = id;
                named = true;
            }
        }
        if (!named) return Fail(cw, "unknown " + std::string(kind) + " class \"" + std::string(s) + "\"");
    }
    e = obj.find_field_unordered("classId").get(v);
    if (e && e != simdjson::NO_SUCH_FIELD) return JsonFail(e, w);
    if (!e) {
        if (!ClassWords(v, Member(w, "classId"), byWords)) return false;
        numbered = true;
    }
    if (!named && !numbered) return Fail(w, "needs a \"class\" or a \"classId\" member");
    if (named && numbered && !(byName == byWords)) return Fail(Member(w, "classId"), "disagrees with \"class\"");
    out = named ? byName : byWords;
    bool dummy;
    if ((e = obj.reset().get(dummy))) return JsonFail(e, w);
    return true;
}

template <class F>
bool Loader::ForEach(od::value& v, const Where& w, F&& f) {
    od::array a;
    if (!Array(v, w, a)) return false;
    int64_t i = 0;
    for (auto r : a) {
        const Where ew = Element(w, i);
        od::value x;
        if (error_code e = std::move(r).get(x)) return JsonFail(e, ew);
        if (!f(x, ew, i)) return false;
        ++i;
    }
    return true;
}

template <class F>
bool Loader::Members(od::object& obj, const Where& w, F&& f) {
    for (auto r : obj) {
        od::field fld;
        if (error_code e = std::move(r).get(fld)) return JsonFail(e, w);
        std::string_view key;
        if (!MemberName(fld, w, key)) return false;
        if (!f(key, fld.value())) return false;
    }
    return true;
}

bool Loader::Skip(od::value& v, const Where& w) {
    // Iterative, so that deep nesting in an unknown member cannot exhaust the stack.
    struct Frame {
        bool isArray;
        od::array_iterator ai, ae;
        od::object_iterator oi, oe;
    };
    std::vector<Frame> stack;
    // Consumes a scalar, or opens a container onto the stack.
    auto visit = [&](od::value& x) -> bool {
        od::json_type t;
        if (error_code e = x.type().get(t)) return JsonFail(e, w);
        switch (t) {
            case od::json_type::array: {
                od::array a;
                if (!DepthOk(x, w) || !Array(x, w, a)) return false;
                Frame fr{true, {}, {}, {}, {}};
                if (error_code e = a.begin().get(fr.ai)) return JsonFail(e, w);
                if (error_code e = a.end().get(fr.ae)) return JsonFail(e, w);
                stack.push_back(fr);
                return true;
            }
            case od::json_type::object: {
                od::object o;
                if (!DepthOk(x, w) || !Object(x, w, o)) return false;
                Frame fr{false, {}, {}, {}, {}};
                if (error_code e = o.begin().get(fr.oi)) return JsonFail(e, w);
                if (error_code e = o.end().get(fr.oe)) return JsonFail(e, w);
                stack.push_back(fr);
                return true;
            }
            case od::json_type::number: {
                double d;
                error_code e = x.get_double().get(d);
                return !e || Mismatch(e, x, w, od::json_type::number, "a number");
            }
            case od::json_type::string: {
                std::string_view s;
                return String(x, w, s);
            }
            case od::json_type::boolean: {
                bool b;
                return Bool(x, w, b);
            }
            case od::json_type::null: return Null(x, w);
        }
        return JsonFail(simdjson::TAPE_ERROR, w);
    };
    if (!visit(v)) return false;
    while (!stack.empty()) {
        Frame& f = stack.back();
        const size_t depth = stack.size();
        bool more;
        od::value x;
        if (f.isArray) {
            more = f.ai != f.ae;
            if (more) {
                if (error_code e = (*f.ai).get(x)) return JsonFail(e, w);
            }
        } else {
            more = f.oi != f.oe;
            if (more) {
                od::field fld;
                if (error_code e = (*f.oi).get(fld)) return JsonFail(e, w);
                std::string_view key;
                if (!MemberName(fld, w, key)) return false;
                x = fld.value();
            }
        }
        if (!more) {
            stack.pop_back();
        } else {
            if (!visit(x)) return false;
            if (stack.size() > depth) continue;  // descend first; advance when it is done
        }
        if (!stack.empty()) {
            Frame& p = stack.back();
            if (p.isArray)
                ++p.ai;
            else
                ++p.oi;
        }
    }
    return true;
}

bool Loader::Load() {
    const Where top;
    od::object root;
    {
        error_code e = doc_.get_object().get(root);
        if (e == simdjson::INCORRECT_TYPE) {
            od::json_type t;
            if (error_code te = doc_.type().get(t)) return JsonFail(te, top);
            return Fail(top, std::string("expected an object, found ") + TypeName(t));
        }
        if (e) return JsonFail(e, top);
    }
    // The version first: a document of another version may differ anywhere else.
    {
        const Where vw = Member(top, "qsxScene");
        od::value v;
        error_code e = root.find_field_unordered("qsxScene").get(v);
        if (e == simdjson::NO_SUCH_FIELD) return Fail(vw, "member missing: this is not a JSON scene document");
        if (e) return JsonFail(e, top);
        int64_t version;
        if (!Int(v, vw, kInt64Min, kInt64Max, version)) return false;
        if (version != 1) return Fail(vw, "unsupported version " + std::to_string(version) + " (this reader reads 1)");
        bool dummy;
        if ((e = root.reset().get(dummy))) return JsonFail(e, top);
    }
    Seen seen;
    const bool ok = Members(root, top, [&](std::string_view key, od::value& v) {
        if (key == "qsxScene") return seen.First(0) || Duplicate(top, key);
        if (key == "animation") return (seen.First(1) || Duplicate(top, key)) && Animation(v, Member(top, "animation"));
        if (key == "maps") {
            const Where mw = Member(top, "maps");
            return (seen.First(2) || Duplicate(top, key)) &&
                   ForEach(v, mw, [&](od::value& x, const Where& ew, int64_t) { return Map(x, ew); });
        }
        if (key == "materials") {
            const Where mw = Member(top, "materials");
            return (seen.First(3) || Duplicate(top, key)) &&
                   ForEach(v, mw, [&](od::value& x, const Where& ew, int64_t) { return Material(x, ew); });
        }
        if (key == "nodes") return (seen.First(4) || Duplicate(top, key)) && Nodes(v, Member(top, "nodes"));
        return Skip(v, Member(top, std::string(key).c_str()));
    });
    if (!ok) return false;
    {
        const char* p = nullptr;
        if (doc_.current_location().get(p) == simdjson::SUCCESS && p)
            return Fail(top, "invalid JSON at byte " + std::to_string(p - base_) + ": content after the document");
    }
    return Resolve();
}

bool Loader::Animation(od::value& v, const Where& w) {
    od::object obj;
    if (!Object(v, w, obj)) return false;
    Seen seen;
    return Members(obj, w, [&](std::string_view key, od::value& x) {
        int64_t n;
        if (key == "start" || key == "end") {
            const bool isStart = key == "start";
            const Where mw = Member(w, isStart ? "start" : "end");
            if (!seen.First(isStart ? 0 : 1)) return Duplicate(w, key);
            if (!Int(x, mw, kInt32Min, kInt32Max, n)) return false;
            (isStart ? scene_.range.start : scene_.range.end) = static_cast<host::TimeValue>(n);
            return true;
        }
        if (key == "ticksPerFrame") {
            const Where mw = Member(w, "ticksPerFrame");
            if (!seen.First(2)) return Duplicate(w, key);
            if (!Int(x, mw, kInt32Min, kInt32Max, n)) return false;
            if (n <= 0) return Fail(mw, "must be above 0, found " + std::to_string(n));
            scene_.ticksPerFrame = static_cast<int>(n);
            return true;
        }
        return Skip(x, Member(w, std::string(key).c_str()));
    });
}

bool Loader::Map(od::value& v, const Where& w) {
    static const std::pair<const char*, host::Class_ID> kNames[] = {{"bitmap", host::BITMAP_TEXTURE_CLASS_ID}};
    od::object obj;
    if (!Object(v, w, obj)) return false;
    JsonTexmap& map = scene_.maps.emplace_back();
    if (!ClassOf(obj, w, kNames, "map", map.cls)) return false;
    const bool bitmap = map.cls == host::BITMAP_TEXTURE_CLASS_ID;
    Seen seen;
    return Members(obj, w, [&](std::string_view key, od::value& x) {
        if (key == "class" || key == "classId") return seen.First(key == "class" ? 0 : 1) || Duplicate(w, key);
        if (key == "file" && bitmap) {
            std::string_view s;
            if (!seen.First(2)) return Duplicate(w, key);
            if (!String(x, Member(w, "file"), s)) return false;
            map.file.assign(s);
            return true;
        }
        return Skip(x, Member(w, std::string(key).c_str()));
    });
}

bool Loader::MapChannel(od::value& v, const Where& w, MapSlot& slot) {
    od::object obj;
    if (!Object(v, w, obj)) return false;
    Seen seen;
    return Members(obj, w, [&](std::string_view key, od::value& x) {
        if (key == "enabled")
            return (seen.First(0) || Duplicate(w, key)) && Bool(x, Member(w, "enabled"), slot.enabled);
        if (key == "map") return (seen.First(1) || Duplicate(w, key)) && IndexOrNull(x, Member(w, "map"), slot.ref);
        return Skip(x, Member(w, std::string(key).c_str()));
    });
}

bool Loader::Material(od::value& v, const Where& w) {
    static const std::pair<const char*, host::Class_ID> kNames[] = {{"standard", host::STANDARD_MATERIAL_CLASS_ID},
                                                                    {"multi", host::MULTI_MATERIAL_CLASS_ID}};
    od::object obj;
    if (!Object(v, w, obj)) return false;
    JsonMtl& m = scene_.mtls.emplace_back();
    if (!ClassOf(obj, w, kNames, "material", m.cls)) return false;
    // A class given by words reads the members of the class it names.
    const bool standard = m.cls == host::STANDARD_MATERIAL_CLASS_ID;
    const bool multi = m.cls == host::MULTI_MATERIAL_CLASS_ID;
    Seen seen;
    return Members(obj, w, [&](std::string_view key, od::value& x) {
        if (key == "class" || key == "classId") return seen.First(key == "class" ? 0 : 1) || Duplicate(w, key);
        if (standard) {
            static constexpr std::string_view kMembers[] = {"twoSided", "wire",     "shading",
                                                            "opacity",  "ambient",  "diffuse",
                                                            "specular", "diffuseMap", "opacityMap"};
            for (unsigned i = 0; i < std::size(kMembers); ++i) {
                if (key != kMembers[i]) continue;
                if (!seen.First(2 + i)) return Duplicate(w, key);
                const Where mw = Member(w, kMembers[i].data());
                int64_t n;
                switch (i) {
                    case 0: return Bool(x, mw, m.twoSided);
                    case 1: return Bool(x, mw, m.wire);
                    case 2:
                        if (!Int(x, mw, kInt32Min, kInt32Max, n)) return false;
                        m.shading = static_cast<int>(n);
                        return true;
                    case 3: return Float(x, mw, m.opacity);
                    case 4: return Point(x, mw, m.ambient);
                    case 5: return Point(x, mw, m.diffuse);
                    case 6: return Point(x, mw, m.specular);
                    case 7: return MapChannel(x, mw, m.diffuseMap);
                    default: return MapChannel(x, mw, m.opacityMap);
                }
            }
        }
        if (multi && key == "subs") {
            if (!seen.First(20)) return Duplicate(w, key);
            return ForEach(x, Member(w, "subs"), [&](od::value& e, const Where& ew, int64_t) {
                return IndexOrNull(e, ew, m.subRefs.emplace_back());
            });
        }
        return Skip(x, Member(w, std::string(key).c_str()));
    });
}

bool Loader::OpenNode(od::value& v, JsonNode* node, NodeFrame& frame) {
    const Where w{nullptr, node, nullptr, -1};
    frame.node = node;
    GiveBackRead();
    if (v.current_depth() > kMaxJsonDepth - kNodeMemberDepth) {
        // Named by its top-level ancestor: the full place would be longer than any reader wants.
        const JsonNode* top = node;
        while (top->parent && !top->parent->root) top = top->parent;
        return Fail(Where{nullptr, top, nullptr, -1},
                    "node hierarchy nested more than " + std::to_string((kMaxJsonDepth - kNodeMemberDepth) / 2 - 1) +
                        " levels deep");
    }
    if (!Object(v, w, frame.obj)) return false;
    if (error_code e = frame.obj.begin().get(frame.it)) return JsonFail(e, w);
    if (error_code e = frame.obj.end().get(frame.end)) return JsonFail(e, w);
    return true;
}

bool Loader::Nodes(od::value& v, const Where& w) {
    // Depth-first with an explicit stack: hierarchies may be far deeper than the
    // call stack would allow.
    od::array top;
    if (!Array(v, w, top)) return false;
    std::vector<NodeFrame> stack;
    int64_t topIndex = 0;
    for (auto r : top) {
        od::value x;
        if (error_code e = std::move(r).get(x)) return JsonFail(e, Element(w, topIndex));
        JsonNode* node = NewNode(&scene_.root, topIndex++);
        scene_.root.children.push_back(node);
        stack.emplace_back();
        if (!OpenNode(x, node, stack.back())) return false;
        while (!stack.empty()) {
            NodeFrame& f = stack.back();
            const Where nw{nullptr, f.node, nullptr, -1};
            if (f.inChildren) {
                if (f.cit != f.cend) {
                    const Where chw = Member(nw, "children");
                    const Where cw = Element(chw, f.childCount);
                    od::value cv;
                    if (error_code e = (*f.cit).get(cv)) return JsonFail(e, cw);
                    JsonNode* child = NewNode(f.node, f.childCount++);
                    f.node->children.push_back(child);
                    NodeFrame cf;
                    if (!OpenNode(cv, child, cf)) return false;
                    stack.push_back(std::move(cf));
                    continue;
                }
                f.inChildren = false;
                ++f.it;
                continue;
            }
            if (f.it != f.end) {
                od::field fld;
                if (error_code e = (*f.it).get(fld)) return JsonFail(e, nw);
                std::string_view key;
                if (!MemberName(fld, nw, key)) return false;
                if (key == "children") {
                    if (!f.seen.First(31)) return Duplicate(nw, key);
                    od::array a;
                    if (!Array(fld.value(), Member(nw, "children"), a)) return false;
                    if (error_code e = a.begin().get(f.cit)) return JsonFail(e, nw);
                    if (error_code e = a.end().get(f.cend)) return JsonFail(e, nw);
                    f.inChildren = true;
                    continue;
                }
                if (!NodeMember(f, key, fld.value())) return false;
                ++f.it;
                continue;
            }
            if (!f.seen.Has(0)) return Fail(nw, "missing member \"name\"");
            stack.pop_back();
            if (!stack.empty()) ++stack.back().cit;
        }
    }
    return true;
}

bool Loader::NodeMember(NodeFrame& f, std::string_view key, od::value& v) {
    JsonNode& node = *f.node;
    const Where nw{nullptr, f.node, nullptr, -1};
    static constexpr std::string_view kMembers[] = {"name",           "transform", "keys",    "offsetPosition",
                                                    "offsetRotation", "object",    "material"};
    for (unsigned i = 0; i < std::size(kMembers); ++i) {
        if (key != kMembers[i]) continue;
        if (!f.seen.First(i)) return Duplicate(nw, key);
        const Where mw = Member(nw, kMembers[i].data());
        switch (i) {
            case 0: {
                std::string_view s;
                if (!String(v, mw, s)) return false;
                if (s.find('\0') != std::string_view::npos) return Fail(mw, "contains a NUL character");
                node.name.assign(s);
                return true;
            }
            case 1: return Matrix(v, mw, node.tm);
            case 2: return Keys(v, mw, node);
            case 3: return Point(v, mw, node.offsetPos);
            case 4: {
                float q[4];
                if (!Floats(v, mw, q, 4, 4)) return false;
                if (q[0] == 0 && q[1] == 0 && q[2] == 0 && q[3] == 0)
                    return Fail(mw, "the zero quaternion is no rotation");
                node.offsetRot = host::Quat{q[0], q[1], q[2], q[3]};
                return true;
            }
            case 5: return EvalObject(v, mw, node);
            default:
                if (!IndexOrNull(v, mw, node.mtlRef)) return false;
                if (node.mtlRef.present) withMtl_.push_back(&node);
                return true;
        }
    }
    return Skip(v, Member(nw, std::string(key).c_str()));
}

bool Loader::Keys(od::value& v, const Where& w, JsonNode& node) {
    // An empty list gives no transform to replace `transform` with, so it counts as absent.
    return ForEach(v, w, [&](od::value& x, const Where& kw, int64_t) {
        od::object obj;
        if (!Object(x, kw, obj)) return false;
        Key k;
        Seen seen;
        const Where tw = Member(kw, "time");
        if (!Members(obj, kw, [&](std::string_view key, od::value& m) {
                int64_t t;
                if (key == "time") {
                    if (!seen.First(0)) return Duplicate(kw, key);
                    if (!Int(m, tw, kInt32Min, kInt32Max, t)) return false;
                    k.time = static_cast<host::TimeValue>(t);
                    return true;
                }
                if (key == "transform")
                    return (seen.First(1) || Duplicate(kw, key)) && Matrix(m, Member(kw, "transform"), k.tm);
                return Skip(m, Member(kw, std::string(key).c_str()));
            }))
            return false;
        if (!seen.Has(0)) return Fail(kw, "missing member \"time\"");
        if (!node.keys.empty() && k.time <= node.keys.back().time)
            return Fail(tw, "keys out of time order: time " + std::to_string(k.time) + " follows time " +
                                std::to_string(node.keys.back().time));
        node.keys.push_back(k);
        return true;
    });
}

bool Loader::EvalObject(od::value& v, const Where& w, JsonNode& node) {
    if (IsNull(v)) return Null(v, w);
    od::object obj;
    if (!Object(v, w, obj)) return false;
    JsonObject& o = scene_.objects.emplace_back();
    node.object = &o;
    // `renderable` decides whether `mesh` is read at all, wherever it stands.
    // Looking for it first would cost a pass over the mesh text, so a mesh met
    // before it is read as if renderable (the default) and dropped if it turns
    // out not to be. Only when such a mesh is faulty must the answer be known
    // first: then the whole document is read again, looking ahead.
    bool known = false;
    if (lookAhead_) {
        od::value r;
        error_code e = obj.find_field_unordered("renderable").get(r);
        if (e && e != simdjson::NO_SUCH_FIELD) return JsonFail(e, w);
        if (!e && !Bool(r, Member(w, "renderable"), o.renderable)) return false;
        bool dummy;
        if ((e = obj.reset().get(dummy))) return JsonFail(e, w);
        known = true;
    }
    Seen seen;
    if (!Members(obj, w, [&](std::string_view key, od::value& x) {
            if (key == "renderable") {
                if (!seen.First(0)) return Duplicate(w, key);
                if (known) return true;
                known = true;
                return Bool(x, Member(w, "renderable"), o.renderable);
            }
            if (key == "mesh" && o.renderable) {
                if (!seen.First(1)) return Duplicate(w, key);
                if (MeshOf(x, Member(w, "mesh"), o.mesh)) return true;
                if (!known && !jsonFault_) retryLookingAhead_ = true;
                return false;
            }
            return Skip(x, Member(w, std::string(key).c_str()));
        }))
        return false;
    if (!o.renderable) {
        o.mesh = host::Mesh();
        return true;
    }
    if (!seen.Has(1)) return Fail(w, "missing member \"mesh\" (required when renderable)");
    SceneStats& st = scene_.stats;
    ++st.meshes;
    st.vertices += o.mesh.getNumVerts();
    st.faces += o.mesh.getNumFaces();
    return true;
}

template <class T>
void Loader::KeepOrFree(std::vector<T>& list) {
    list.clear();
    if (list.capacity() * sizeof(T) > kScratchKeepBytes) std::vector<T>().swap(list);
}

bool Loader::Points(od::value& v, const Where& w, int minN, std::vector<host::Point3>& out) {
    od::array a;
    if (!Array(v, w, a)) return false;
    std::vector<host::Point3>& list = scratch_.points;
    int64_t i = 0;
    for (auto r : a) {
        const Where ew = Element(w, i);
        if (i == kInt32Max) return Fail(ew, "too many entries (at most " + std::to_string(kInt32Max) + ")");
        od::value y;
        if (error_code e = std::move(r).get(y)) return JsonFail(e, ew);
        float f[3] = {0, 0, 0};  // w of a texture vertex defaults to 0
        if (!Floats(y, ew, f, minN, 3)) return false;
        list.push_back({f[0], f[1], f[2]});
        if (++i % kGiveBackEvery == 0) GiveBackRead();
    }
    out.assign(list.begin(), list.end());
    KeepOrFree(list);
    return true;
}

// Lists of three indices (faces, texture faces). A limit already known is
// checked as read; otherwise the caller checks once it is.
template <class T>
bool Loader::Triples(od::value& v, const Where& w, std::vector<T>& list, std::vector<T>& out, int64_t limit,
                     const char* what, const char* whats) {
    od::array a;
    if (!Array(v, w, a)) return false;
    // Below this an index is in range: one test for a negative, a too large and an unknown one.
    const uint64_t bound = limit >= 0 ? static_cast<uint64_t>(limit) : static_cast<uint64_t>(kUint32Max) + 1;
    int64_t i = 0;
    for (auto r : a) {
        const Where ew = Element(w, i);
        if (i == kInt32Max) return Fail(ew, "too many entries (at most " + std::to_string(kInt32Max) + ")");
        od::value x;
        if (error_code e = std::move(r).get(x)) return JsonFail(e, ew);
        od::array t;
        if (!Array(x, ew, t)) return false;
        uint32_t* idx = Corners(list.emplace_back());
        int c = 0;
        for (auto rr : t) {
            od::value y;
            if (error_code e = std::move(rr).get(y)) return JsonFail(e, Element(ew, c));
            if (c < 3) {
                int64_t n = 0;
                if (error_code e = y.get_int64().get(n)) [[unlikely]] {
                    IntFault(y, Element(ew, c), 0, kUint32Max, e, n);
                    return false;
                }
                if (static_cast<uint64_t>(n) >= bound) [[unlikely]] {
                    std::string msg = std::string(what) + " index " + std::to_string(n) + " out of range";
                    if (limit >= 0) msg += " (mesh has " + Count(limit, what, whats) + ")";
                    return Fail(ew, msg);
                }
                idx[c] = static_cast<uint32_t>(n);
            }
            ++c;
        }
        if (c != 3) return Fail(ew, "expected 3 indices, found " + std::to_string(c));
        if (++i % kGiveBackEvery == 0) GiveBackRead();
    }
    out.assign(list.begin(), list.end());
    KeepOrFree(list);
    return true;
}

// Integers in a range, one per face.
template <class T>
bool Loader::PerFace(od::value& v, const Where& w, int64_t hi, std::vector<T>& list) {
    od::array a;
    if (!Array(v, w, a)) return false;
    int64_t i = 0;
    for (auto r : a) {
        od::value y;
        if (error_code e = std::move(r).get(y)) return JsonFail(e, Element(w, i));
        int64_t n;
        if (!IntAt(y, w, i, 0, hi, n)) return false;
        list.push_back(static_cast<T>(n));
        if (++i % kGiveBackEvery == 0) GiveBackRead();
    }
    return true;
}

bool Loader::MeshOf(od::value& v, const Where& w, host::Mesh& mesh) {
    od::object obj;
    if (!Object(v, w, obj)) return false;
    std::vector<uint16_t>& ids = scratch_.ids;
    std::vector<uint32_t>& smoothing = scratch_.smoothing;
    Seen seen;
    int64_t nVerts = -1, nTVerts = -1;
    bool facesChecked = false, tfacesChecked = false;  // against a vertex count known while reading
    const Where facesW = Member(w, "faces"), tfacesW = Member(w, "tfaces");
    const Where idsW = Member(w, "materialIds"), smW = Member(w, "smoothing");
    if (!Members(obj, w, [&](std::string_view key, od::value& x) {
            if (key == "vertices") {
                if (!seen.First(0)) return Duplicate(w, key);
                if (!Points(x, Member(w, "vertices"), 3, mesh.verts)) return false;
                nVerts = static_cast<int64_t>(mesh.verts.size());
                return true;
            }
            if (key == "faces") {
                facesChecked = nVerts >= 0;
                return (seen.First(1) || Duplicate(w, key)) &&
                       Triples(x, facesW, scratch_.faces, mesh.faces, nVerts, "vertex", "vertices");
            }
            if (key == "materialIds") {
                if (!seen.First(2)) return Duplicate(w, key);
                return PerFace(x, idsW, 65535, ids);
            }
            if (key == "smoothing") {
                if (!seen.First(3)) return Duplicate(w, key);
                return PerFace(x, smW, kUint32Max, smoothing);
            }
            if (key == "tverts") {
                if (!seen.First(4)) return Duplicate(w, key);
                if (!Points(x, Member(w, "tverts"), 2, mesh.tVerts)) return false;
                nTVerts = static_cast<int64_t>(mesh.tVerts.size());
                return true;
            }
            if (key == "tfaces") {
                tfacesChecked = nTVerts >= 0;
                return (seen.First(5) || Duplicate(w, key)) &&
                       Triples(x, tfacesW, scratch_.tfaces, mesh.tvFaces, nTVerts, "texture vertex",
                               "texture vertices");
            }
            return Skip(x, Member(w, std::string(key).c_str()));
        }))
        return false;

    const size_t nFaces = mesh.faces.size();
    auto sameLength = [&](size_t n, bool present, const Where& lw) {
        if (!present || n == nFaces) return true;
        return Fail(lw, "has " + Count(static_cast<int64_t>(n), "entry", "entries") + " but the mesh has " +
                            Count(static_cast<int64_t>(nFaces), "face", "faces"));
    };
    if (!sameLength(ids.size(), seen.Has(2), idsW) || !sameLength(smoothing.size(), seen.Has(3), smW) ||
        !sameLength(mesh.tvFaces.size(), seen.Has(5), tfacesW))
        return false;
    // Indices read before their lists were known are checked now.
    auto inRange = [&](auto& list, size_t limit, const Where& lw, const char* what, const char* whats) {
        for (size_t k = 0; k < list.size(); ++k) {
            const uint32_t* idx = Corners(list[k]);
            for (int c = 0; c < 3; ++c) {
                if (idx[c] >= limit)
                    return Fail(Element(lw, static_cast<int64_t>(k)),
                                std::string(what) + " index " + std::to_string(idx[c]) + " out of range (mesh has " +
                                    Count(static_cast<int64_t>(limit), what, whats) + ")");
            }
        }
        return true;
    };
    if ((!facesChecked && !inRange(mesh.faces, mesh.verts.size(), facesW, "vertex", "vertices")) ||
        (!tfacesChecked &&
         !inRange(mesh.tvFaces, mesh.tVerts.size(), tfacesW, "texture vertex", "texture vertices")))
        return false;
    for (size_t k = 0; k < ids.size(); ++k) mesh.faces[k].flags = static_cast<uint32_t>(ids[k]) << 16;
    for (size_t k = 0; k < smoothing.size(); ++k) mesh.faces[k].smGroup = smoothing[k];
    KeepOrFree(ids);
    KeepOrFree(smoothing);
    return true;
}

bool Loader::Resolve() {
    const Where top;
    const Where mtlsW = Member(top, "materials");
    const int64_t nMaps = static_cast<int64_t>(scene_.maps.size());
    const int64_t nMtls = static_cast<int64_t>(scene_.mtls.size());
    auto mtlAt = [&](const Ref& r, const Where& w, host::Mtl*& out) {
        if (!r.present) return true;
        if (r.index < 0 || r.index >= nMtls)
            return Fail(w, "material index " + std::to_string(r.index) + " out of range (the scene has " +
                               Count(nMtls, "material", "materials") + ")");
        out = &scene_.mtls[static_cast<size_t>(r.index)];
        return true;
    };
    auto mapAt = [&](MapSlot& s, const Where& w) {
        if (!s.ref.present) return true;
        if (s.ref.index < 0 || s.ref.index >= nMaps)
            return Fail(Member(w, "map"), "map index " + std::to_string(s.ref.index) + " out of range (the scene has " +
                                              Count(nMaps, "map", "maps") + ")");
        s.map = &scene_.maps[static_cast<size_t>(s.ref.index)];
        return true;
    };
    for (int64_t i = 0; i < nMtls; ++i) {
        JsonMtl& m = scene_.mtls[static_cast<size_t>(i)];
        const Where mw = Element(mtlsW, i);
        if (!mapAt(m.diffuseMap, Member(mw, "diffuseMap")) || !mapAt(m.opacityMap, Member(mw, "opacityMap")))
            return false;
        m.subs.assign(m.subRefs.size(), nullptr);
        const Where sw = Member(mw, "subs");
        for (size_t j = 0; j < m.subRefs.size(); ++j)
            if (!mtlAt(m.subRefs[j], Element(sw, static_cast<int64_t>(j)), m.subs[j])) return false;
        std::vector<Ref>().swap(m.subRefs);
    }
    for (JsonNode* n : withMtl_) {
        const Where nw{nullptr, n, nullptr, -1};
        if (!mtlAt(n->mtlRef, Member(nw, "material"), n->mtl)) return false;
    }
    scene_.stats.nodes = static_cast<int64_t>(scene_.nodes.size());
    scene_.stats.materials = nMtls;
    return true;
}

// ---------------------------------------------------------------------------

// Reads the first len bytes of `text`. `refill`, when given, writes them there
// again (answering false with *error set when it cannot), which lets the text be
// given back as it is read.
std::unique_ptr<SceneSource> ParseText(Text& text, size_t len, const std::function<bool(std::string*)>& refill,
                                       std::string* error) {
    auto scene = std::make_unique<JsonScene>();
    od::parser parser;
    if (error_code e = parser.allocate(len, kMaxJsonDepth + 2 * kNodeMemberDepth)) {
        if (error) *error = std::string("document: ") + simdjson::error_message(e);
        return nullptr;
    }
    text.EndAt(len);
    const char* data = text.Data();
    od::document doc;
    auto iterate = [&] {
        if (error_code e = parser.iterate(data, len, text.Capacity() + simdjson::SIMDJSON_PADDING).get(doc)) {
            if (error) *error = std::string("document: invalid JSON: ") + simdjson::error_message(e);
            return false;
        }
        return true;
    };
    if (!iterate()) return nullptr;
    Text* giveBack = refill ? &text : nullptr;
    Loader loader(*scene, data, doc, giveBack);
    if (loader.Load()) return scene;
    if (loader.RetryLookingAhead()) {
        scene = std::make_unique<JsonScene>();
        if (text.GivenBack()) {
            // Read afresh from text put back whole: the index and the text must agree.
            if (!refill(error)) return nullptr;
            text.Restored();
            if (!iterate()) return nullptr;
        } else {
            doc.rewind();
        }
        Loader careful(*scene, data, doc, giveBack);
        careful.LookAhead();
        if (careful.Load()) return scene;
        if (error) *error = careful.Error();
        return nullptr;
    }
    if (error) *error = loader.Error();
    return nullptr;
}

std::string ErrnoText(int err) {
    char buf[256];
    // GNU strerror_r answers a pointer that may or may not be buf.
    return std::string(strerror_r(err, buf, sizeof buf));
}

}  // namespace

std::unique_ptr<SceneSource> ParseJsonScene(std::string_view json, std::string* error) {
    try {
        Text text;
        if (!text.Reserve(json.size())) {
            if (error) *error = ErrnoText(errno);
            return nullptr;
        }
        auto copy = [&](std::string*) {
            if (!json.empty()) std::memcpy(text.Data(), json.data(), json.size());
            return true;
        };
        copy(nullptr);
        return ParseText(text, json.size(), copy, error);
    } catch (const std::bad_alloc&) {
        if (error) *error = ErrnoText(ENOMEM);
        return nullptr;
    }
}

std::unique_ptr<SceneSource> LoadJsonScene(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& what) -> std::unique_ptr<SceneSource> {
        if (error) *error = what;
        return nullptr;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(ErrnoText(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) return fail(ErrnoText(errno));
    if (S_ISDIR(st.st_mode)) return fail(ErrnoText(EISDIR));
    try {
        // A regular file is read at the size it has now, straight into the
        // parser's buffer; anything else (a pipe) grows as it comes.
        const bool sized = S_ISREG(st.st_mode) && st.st_size > 0;
        size_t cap = sized ? static_cast<size_t>(st.st_size) : 65536;
        Text text;
        if (!text.Reserve(cap)) return fail(ErrnoText(errno));
        size_t len = 0;
        for (;;) {
            if (len == cap) {
                if (sized) break;
                cap *= 2;
                if (!text.Reserve(cap)) return fail(ErrnoText(errno));
            }
            const ssize_t k = ::read(fd, text.Data() + len, cap - len);
            if (k < 0) {
                if (errno == EINTR) continue;
                return fail(ErrnoText(errno));
            }
            if (k == 0) break;
            len += static_cast<size_t>(k);
        }
        if (len == 0) return fail("the file is empty");
        // A file can be read again from its start; what came through a pipe cannot.
        std::function<bool(std::string*)> refill;
        if (sized) {
            refill = [&](std::string* err) {
                for (size_t got = 0; got < len;) {
                    const ssize_t k = ::pread(fd, text.Data() + got, len - got, static_cast<off_t>(got));
                    if (k < 0 && errno == EINTR) continue;
                    if (k <= 0) {
                        if (err) *err = k < 0 ? ErrnoText(errno) : "the file became shorter while it was read";
                        return false;
                    }
                    got += static_cast<size_t>(k);
                }
                return true;
            };
        }
        return ParseText(text, len, refill, error);
    } catch (const std::bad_alloc&) {
        return fail(ErrnoText(ENOMEM));
    }
}

bool LooksLikeJsonScene(std::string_view firstBytes) {
    for (char c : firstBytes) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == '{';
    }
    return false;
}

}  // namespace qsxhost
