// The JSON scene reader, inside the JSON scene source: a state machine driven
// by the parser's events (one value at a time, in document order) with an
// explicit stack of the containers open, filling the scene (JsonSource.h).
//
// Where the meaning of a member depends on another that may come after it, the
// reader holds on without reading the text twice:
// - a map or material object is recorded whole and read once its class is
//   known (such objects are small);
// - a mesh met before its object's `renderable` is read as if renderable (the
//   default); a fault in it is held until `renderable` decides whether the
//   mesh counts;
// - a fault met before the `qsxScene` version is held until the version is
//   read, since a document of another version may differ anywhere else.
//
// The reader's own faults pass through Fail, the parser's through SyntaxFault;
// both keep the one fault that stands, with its place in the document.
#pragma once

#include <charconv>
#include <cstddef>
#include <deque>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneParts.h"
#include "qsxhost/sources/json/JsonNumbers.h"
#include "qsxhost/sources/json/JsonSource.h"
#include "qsxhost/sources/json/JsonText.h"

namespace qsxhost::json {

// Nesting allowed in a document: containers inside a member nobody reads, and
// node objects (each node level costs two: the node and its "children" array,
// so hierarchies may be 49,995 levels deep). The members of a node add a few
// levels below it; the hard limit bounds every container, and so the parser's
// own descent.
inline constexpr int32_t kMaxDepth = 99'992;
inline constexpr int32_t kHardMaxDepth = 100'000;

inline constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
inline constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
inline constexpr int64_t kUint32Max = std::numeric_limits<uint32_t>::max();
inline constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
inline constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

// A reference by index that may be absent (null or no member).
struct Ref {
    bool present = false;
    int64_t index = 0;
};

// A value as the parser reports it: a scalar, or the start of a container.
enum class Tok : uint8_t { Null, False, True, Number, String, Object, Array };

// What a container is to the reader; for an object's member, what its value is.
enum class Part : uint8_t {
    None,  // an object between members
    Skip,  // read only as JSON: unknown members, ignored meshes, entries past those wanted
    Record,
    Document,
    Root,
    Version,
    Animation, AnimStart, AnimEnd, AnimTicks,
    MapList, MtlList,
    Map, MapFile, ClassWords,
    Mtl, MtlBool, Shading, Opacity, Channel, ChannelEnabled, ChannelMap, Subs,
    NodeList, Node, NodeName, Transform, NodeMaterial, Keys, Key, KeyTime,
    EvalObject, Renderable, Mesh, Points, Triples, Triple, PerFace,
    // Lists of numbers, kept together (see IsFloats).
    Row, Point, OffsetPos, OffsetRot, Colour,
};

inline bool IsFloats(Part p) { return p >= Part::Row && p <= Part::Colour; }

// A known member of an object: its name and what its value is. An object's
// members are numbered across its tables, one bit of Frame::seen each.
struct Known {
    std::string_view name;
    Part part;
};

template <size_t N>
int IndexOf(const Known (&table)[N], std::string_view key) {
    for (size_t i = 0; i < N; ++i)
        if (table[i].name == key) return static_cast<int>(i);
    return -1;
}

// A node's member: its bit (-1: not one the format defines) and its part.
int NodeMember(std::string_view key, Part& part);

// Where the parser found a fault of its own: in the text as a whole (bytes that
// are not UTF-8 text, found before anything else), at the end of the document
// or of the text, in a value, right after a value, between an object's members,
// or in text that follows a complete document.
enum class SyntaxAt : uint8_t { Text, End, Value, AfterValue, BetweenMembers, AfterDocument };

// A place in the document, spelled out only when a message needs it: the
// current member or element of frames [1, frames), then tail (".end").
struct At {
    size_t frames;
    std::string tail;
};

struct Frame {
    Part part = Part::None;
    Part slot = Part::None;  // objects: the current member
    bool array = false;
    uint8_t wantMin = 0, wantMax = 0;  // arrays of numbers or indices: how many
    uint32_t seen = 0;                 // objects: known members met, one bit each
    int64_t count = 0;                 // arrays: index of the current element
    int32_t depth = 0;                 // containers open, this one included
    std::string_view key;              // objects: the current member's name
    void* target = nullptr;            // what the container fills
    void* out = nullptr;               // objects: what the current member fills
};

class Reader {
public:
    // text: the document's bytes (offsets in messages count from their start);
    // bomBytes: the byte-order mark skipped before the parser's text. The text
    // the reader holds on to is copied out before the window moves on.
    Reader(JsonScene& scene, TextWindow& text, size_t bomBytes);
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Parser events.
    bool OnScalar(Tok t, std::string_view text);
    bool OnOpen(bool array);
    bool OnKey(std::string_view key);
    bool OnClose();
    // The same for the events that make up mesh lists, by far the most frequent:
    // their common case is taken inline (forced into the parser's own loops,
    // which the compiler would not otherwise do), anything else the general way.
    bool OnNumber(std::string_view text);
    bool OnOpenArray();
    bool OnCloseArray();
    // A mesh list has just opened: its elements may be taken straight from the
    // text (RunList, at the text just past its bracket), answering where the
    // parser goes on. The text ends in a zero byte.
    bool ListOpen() const;
    char* RunList(char* text);
    // The same for the members of a node, an evaluated object or a mesh just
    // opened (MembersOpen), at the text just past its brace; the window's
    // bytes end at end.
    bool MembersOpen() const;
    char* RunMembers(char* text, const char* end);

    // After the parser stopped at offset (in its text; npos: no one byte) with a
    // fault of its own; glued: the byte before offset ends a number or a literal.
    void SyntaxFault(size_t offset, SyntaxAt at, bool glued, std::string_view what);
    // After the whole document was read: the references by index, resolved.
    bool Finish();
    const std::string& Error() const { return error_; }
    // One per member the format does not define, in document order: "<place>: unknown member "<name>" ignored".
    const std::vector<std::string>& Warnings() const { return warnings_; }

private:
    enum class Hold : uint8_t { None, Version, Renderable };
    struct Event {
        enum Kind : uint8_t { Value, Key, End } kind;  // a Value of Tok Object or Array opens a container
        Tok tok;
        std::string_view text;
    };
    struct MtlRefs {
        Ref diffuse, opacity;
        std::vector<Ref> subs;
    };
    // Mesh lists are read into these, kept from mesh to mesh, and copied out at
    // their final size.
    struct Scratch {
        std::vector<host::Point3> points;
        std::vector<host::Face> faces;
        std::vector<host::TVFace> tfaces;
        std::vector<uint32_t> ids;
        std::vector<uint32_t> smoothing;
    };

    // --- machinery (JsonReader.cpp)
    bool DoScalar(Tok t, std::string_view text);
    bool DoOpen(bool array);
    bool DoKey(std::string_view key);
    bool DoClose();
    bool Fail(const At& at, std::string_view what);
    bool Fail(const std::string& place, std::string_view what);
    bool Settle(std::string message);
    bool Stop();
    void UnwindTo(size_t frame);
    bool JsonFault(std::string_view token, std::string_view what);
    void Keep(const char* from, const char* to);
    size_t OffsetOf(const char* p) const;
    std::string Render(size_t from, size_t to) const;
    std::string Place(const At& at) const;
    std::string HeldMeshFault() const;
    At Here(std::string tail = {}) const { return At{frames_.size(), std::move(tail)}; }
    At Owner() const { return At{frames_.size() - 1, {}}; }
    Frame& Push(Part part, bool array, void* target = nullptr);
    void ValueDone();
    bool Mismatch(Tok t, const char* want);
    bool Duplicate(std::string_view key);
    // A member of the current object that nothing reads: warned of unless it is a note ("_..."). Answers true.
    bool Unknown(std::string_view key);
    bool Int(std::string_view text, int64_t lo, int64_t hi, int64_t& out);
    bool IntOf(Tok t, std::string_view text, int64_t lo, int64_t hi, int64_t& out);
    bool Float(std::string_view text, float& out);
    bool SkipScalar(Tok t, std::string_view text);
    bool OpenSkip();

    // --- members (JsonMembers.cpp)
    bool Scalar(Frame& f, Tok t, std::string_view text);
    bool Open(Frame& f, bool array);
    bool Key(Frame& f, std::string_view key);
    bool Closed(const Frame& f);
    bool ArrayScalar(Frame& f, Tok t, std::string_view text);
    bool OpenElement(Frame& f, bool array);
    bool OpenMember(Frame& f, bool array);
    bool Meet(Frame& f, std::string_view key, unsigned bit, Part part);
    bool IndexOrNull(Tok t, std::string_view text, Ref& out);
    bool Version(Tok t, std::string_view text);
    bool OpenNode(const Frame& list, bool array);
    bool NodeTooDeep();
    void OpenFloats(Part part, int minN, int maxN, void* target);
    bool FloatsClosed(const Frame& f);
    void EmitPoint() { scratch_.points.push_back(host::Point3{floats_[0], floats_[1], floats_[2]}); }
    void EmitTriple() {
        if (tripleFaces_) {
            host::Face& face = scratch_.faces.emplace_back();
            face.v[0] = corners_[0], face.v[1] = corners_[1], face.v[2] = corners_[2];
        } else {
            scratch_.tfaces.push_back(host::TVFace{{corners_[0], corners_[1], corners_[2]}});
        }
    }
    bool MatrixClosed(const Frame& f);
    bool KeyClosed(const Frame& f);

    // --- maps and materials (JsonRecorded.cpp)
    void StartRecording(bool isMap);
    void Record(Event::Kind kind, Tok t, std::string_view text) { events_.push_back(Event{kind, t, text}); }
    bool Replay(size_t from, size_t to);
    size_t ValueEnd(size_t i) const;
    bool ReadRecorded();
    bool ClassOfRecorded(host::Class_ID& cls);
    bool MemberOfMap(Frame& f, std::string_view key);
    bool MemberOfMtl(Frame& f, std::string_view key);
    bool MemberOfChannel(Frame& f, std::string_view key);

    // --- evaluated objects and their meshes (JsonMesh.cpp)
    bool MemberOfObject(Frame& f, std::string_view key);
    bool MemberOfMesh(Frame& f, std::string_view key);
    bool OpenObject();
    bool OpenMesh();
    bool OpenTriples(Frame& f);
    bool Corner(Frame& f, Tok t, std::string_view text);
    bool IndexOutOfRange(const At& at, int64_t index, int64_t limit, bool faces);
    void PointsClosed(const Frame& f);
    void TriplesClosed(const Frame& f);
    bool RenderableRead(bool renderable);
    bool ObjectClosed(const Frame& f);
    bool MeshClosed(const Frame& f);

    // --- references (JsonResolve.cpp)
    bool Resolve();

    JsonScene& scene_;
    const TextWindow& text_;
    size_t bomBytes_;
    // Text held on to after its bytes moved on: member names and recorded
    // values, each with its offset in the document.
    struct Kept {
        std::string text;
        size_t offset;
    };
    std::deque<Kept> kept_;
    std::vector<Frame> frames_;
    int32_t depth_ = 0;  // containers open in the document

    std::string error_;  // the fault that stands
    std::vector<std::string> warnings_;
    size_t meshWarnings_ = 0;  // warnings_ before the current mesh: those after go if it is ignored
    std::string held_;   // a fault waiting for a member to decide it (a mesh's: from the object on)
    Hold hold_ = Hold::None;
    bool deciding_ = false;  // the fault being raised is the deciding member's own
    bool versionSeen_ = false;
    bool finished_ = false;  // a fault stands: the rest is only checked as text

    // Recording of a map or material object.
    std::vector<Event> events_;
    int32_t recordDepth_ = 0;  // containers of it open
    bool recordingMap_ = false;

    // The container being read where such containers do not nest.
    float floats_[4] = {0, 0, 0, 0};
    host::Point3 rows_[4];
    TransformKey key_;
    uint32_t words_[2] = {0, 0};
    SceneTexmap* map_ = nullptr;
    SceneMtl* mtl_ = nullptr;
    SceneObject* object_ = nullptr;
    size_t objectFrame_ = 0;
    bool renderableKnown_ = false;
    bool meshTentative_ = false;  // a mesh read before `renderable` is known
    int64_t nVerts_ = -1, nTVerts_ = -1;
    bool facesChecked_ = false, tfacesChecked_ = false;  // against a vertex count known while reading
    bool tripleFaces_ = false;  // reading faces (else texture faces)
    int64_t tripleLimit_ = -1;  // the vertex count they index, -1 while unknown
    uint64_t tripleBound_ = 0;  // indices below it are in range
    uint32_t corners_[3] = {0, 0, 0};
    int64_t perFaceMax_ = 0;
    Scratch scratch_;

    std::vector<MtlRefs> mtlRefs_;                         // by material index
    std::vector<std::pair<JsonNode*, int64_t>> nodeMtls_;  // nodes naming a material, in document order
};

[[gnu::always_inline]] inline bool Reader::OnNumber(std::string_view text) {
    Frame& f = frames_.back();
    const char* end = text.data() + text.size();
    if (IsFloats(f.part) && f.count < f.wantMax && !finished_) {
        float v;
        if (QuickFloat(text, v) || std::from_chars(text.data(), end, v).ec == std::errc()) [[likely]] {
            floats_[f.count++] = v;
            return true;
        }
    } else if (f.part == Part::Triple && f.count < 3 && !finished_) {
        uint64_t n;
        if (QuickIndex(text, n) && n < tripleBound_) [[likely]] {
            corners_[f.count++] = static_cast<uint32_t>(n);
            return true;
        }
    } else if (f.part == Part::PerFace && !finished_) {
        uint64_t n;
        if (QuickIndex(text, n) && n <= static_cast<uint64_t>(perFaceMax_)) [[likely]] {
            static_cast<std::vector<uint32_t>*>(f.target)->push_back(static_cast<uint32_t>(n));
            ++f.count;
            return true;
        }
    }
    return OnScalar(Tok::Number, text);
}

[[gnu::always_inline]] inline bool Reader::OnOpenArray() {
    const Frame& f = frames_.back();
    if ((f.part == Part::Points || f.part == Part::Triples) && f.count < std::numeric_limits<int32_t>::max() &&
        !finished_ && depth_ < kHardMaxDepth) [[likely]] {
        const bool points = f.part == Part::Points;
        const uint8_t wantMin = points ? f.wantMin : 3;
        Frame& e = frames_.emplace_back();
        e.part = points ? Part::Point : Part::Triple;
        e.array = true;
        e.wantMin = wantMin;
        e.wantMax = 3;
        e.depth = ++depth_;
        floats_[2] = 0;  // w of a texture vertex defaults to 0
        return true;
    }
    return OnOpen(true);
}

[[gnu::always_inline]] inline bool Reader::OnCloseArray() {
    const Frame& f = frames_.back();
    if ((f.part == Part::Point || f.part == Part::Triple) && f.count >= f.wantMin && f.count <= f.wantMax &&
        !finished_) [[likely]] {
        if (f.part == Part::Point)
            EmitPoint();
        else
            EmitTriple();
        frames_.pop_back();
        --depth_;
        ++frames_.back().count;
        return true;
    }
    return OnClose();
}

// "1 vertex", "2 vertices".
std::string Count(int64_t n, const char* one, const char* many);

// Reads the document the window reads into scene. False with *error set when
// the document is refused; otherwise *warnings (when given) gets the reader's
// warnings. Throws std::bad_alloc, or ReadFailed when the text cannot be read.
bool ReadDocument(JsonScene& scene, TextWindow& text, std::string* error,
                  std::vector<std::string>* warnings = nullptr);

}  // namespace qsxhost::json
