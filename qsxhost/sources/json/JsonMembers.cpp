// What each value of a JSON scene document means, by where it stands: the
// root, the animation, nodes and their keys and transforms, and the lists of
// numbers and indices (maps and materials: JsonRecorded.cpp; objects and
// meshes: JsonMesh.cpp). Values arrive one at a time in document order (see
// JsonReader.h); each step answers false after a fault.
#include "qsxhost/sources/json/JsonReader.h"

#include <string>

namespace qsxhost::json {
namespace {

constexpr Known kRootMembers[] = {{"qsxScene", Part::Version},
                                  {"animation", Part::Animation},
                                  {"maps", Part::MapList},
                                  {"materials", Part::MtlList},
                                  {"nodes", Part::NodeList}};
constexpr Known kAnimationMembers[] = {
    {"start", Part::AnimStart}, {"end", Part::AnimEnd}, {"ticksPerFrame", Part::AnimTicks}};
constexpr Known kNodeMembers[] = {{"name", Part::NodeName},
                                  {"transform", Part::Transform},
                                  {"keys", Part::Keys},
                                  {"offsetPosition", Part::OffsetPos},
                                  {"offsetRotation", Part::OffsetRot},
                                  {"object", Part::EvalObject},
                                  {"material", Part::NodeMaterial},
                                  {"children", Part::NodeList}};
constexpr Known kKeyMembers[] = {{"time", Part::KeyTime}, {"transform", Part::Transform}};

}  // namespace

// ---------------------------------------------------------------------------
// Member names

int NodeMember(std::string_view key, Part& part) {
    const int i = IndexOf(kNodeMembers, key);
    if (i >= 0) part = kNodeMembers[i].part;
    return i;
}

// Member `bit` of f met, and refused when met before; it is the current member.
bool Reader::Meet(Frame& f, std::string_view key, unsigned bit, Part part) {
    if (f.seen & (1u << bit)) return Duplicate(key);
    f.seen |= 1u << bit;
    f.slot = part;
    return true;
}

bool Reader::Key(Frame& f, std::string_view key) {
    f.key = key;
    f.slot = Part::Skip;  // unless known
    f.out = nullptr;
    int i;
    switch (f.part) {
        case Part::Root:
            if (hold_ == Hold::Version) {
                // Only the version is read until it is known.
                if (key == "qsxScene") f.slot = Part::Version;
                return true;
            }
            i = IndexOf(kRootMembers, key);
            return i < 0 ? Unknown(key) : Meet(f, key, static_cast<unsigned>(i), kRootMembers[i].part);
        case Part::Animation:
            i = IndexOf(kAnimationMembers, key);
            return i < 0 ? Unknown(key) : Meet(f, key, static_cast<unsigned>(i), kAnimationMembers[i].part);
        case Part::Map: return MemberOfMap(f, key);
        case Part::Mtl: return MemberOfMtl(f, key);
        case Part::Channel: return MemberOfChannel(f, key);
        case Part::Node:
            i = IndexOf(kNodeMembers, key);
            if (i < 0) return Unknown(key);
            f.out = &static_cast<JsonNode*>(f.target)->tm;  // for `transform`
            return Meet(f, key, static_cast<unsigned>(i), kNodeMembers[i].part);
        case Part::Key:
            i = IndexOf(kKeyMembers, key);
            f.out = &key_.tm;
            return i < 0 ? Unknown(key) : Meet(f, key, static_cast<unsigned>(i), kKeyMembers[i].part);
        case Part::EvalObject: return MemberOfObject(f, key);
        case Part::Mesh: return MemberOfMesh(f, key);
        default: return true;
    }
}

// ---------------------------------------------------------------------------
// Scalars

bool Reader::Scalar(Frame& f, Tok t, std::string_view text) {
    if (f.part == Part::Skip) return SkipScalar(t, text);
    if (f.array) return ArrayScalar(f, t, text);
    int64_t n = 0;
    switch (f.slot) {
        case Part::Skip: return SkipScalar(t, text);
        case Part::Document: return Mismatch(t, "an object");
        case Part::Version: return Version(t, text);
        case Part::AnimStart:
        case Part::AnimEnd:
            if (!IntOf(t, text, kInt32Min, kInt32Max, n)) return false;
            (f.slot == Part::AnimStart ? scene_.range.start : scene_.range.end) = static_cast<host::TimeValue>(n);
            return true;
        case Part::AnimTicks:
            if (!IntOf(t, text, kInt32Min, kInt32Max, n)) return false;
            if (n <= 0) return Fail(Here(), "must be above 0, found " + std::to_string(n));
            scene_.ticksPerFrame = static_cast<int>(n);
            return true;
        case Part::MapFile:
            if (t != Tok::String) return Mismatch(t, "a string");
            // Refused as in a node name: a NUL in the script's texture line
            // ends the name early for any reader that stops at one.
            if (text.find('\0') != std::string_view::npos) return Fail(Here(), "contains a NUL character");
            map_->file.assign(text);
            return true;
        case Part::MtlBool:
        case Part::ChannelEnabled:
        case Part::Renderable:
            if (t != Tok::True && t != Tok::False) {
                deciding_ = f.slot == Part::Renderable;
                return Mismatch(t, "a boolean");
            }
            if (f.slot == Part::Renderable) return RenderableRead(t == Tok::True);
            *static_cast<bool*>(f.out) = t == Tok::True;
            return true;
        case Part::Shading:
            if (!IntOf(t, text, kInt32Min, kInt32Max, n)) return false;
            mtl_->shading = static_cast<int>(n);
            return true;
        case Part::Opacity:
            if (t != Tok::Number) return Mismatch(t, "a number");
            return Float(text, mtl_->opacity);
        case Part::ChannelMap: return IndexOrNull(t, text, *static_cast<Ref*>(f.out));
        case Part::NodeName:
            if (t != Tok::String) return Mismatch(t, "a string");
            if (text.find('\0') != std::string_view::npos) return Fail(Here(), "contains a NUL character");
            static_cast<JsonNode*>(f.target)->name.assign(text);
            return true;
        case Part::NodeMaterial: {
            Ref r;
            if (!IndexOrNull(t, text, r)) return false;
            if (r.present) nodeMtls_.emplace_back(static_cast<JsonNode*>(f.target), r.index);
            return true;
        }
        case Part::KeyTime:
            if (!IntOf(t, text, kInt32Min, kInt32Max, n)) return false;
            key_.time = static_cast<host::TimeValue>(n);
            return true;
        case Part::EvalObject:
            return t == Tok::Null || Mismatch(t, "an object");  // null: no evaluated object
        case Part::Animation:
        case Part::Channel:
        case Part::Mesh: return Mismatch(t, "an object");
        default: return Mismatch(t, "an array");  // the lists
    }
}

bool Reader::ArrayScalar(Frame& f, Tok t, std::string_view text) {
    int64_t n = 0;
    switch (f.part) {
        case Part::Row:
        case Part::Point:
        case Part::OffsetPos:
        case Part::OffsetRot:
        case Part::Colour:
            // Numbers past those wanted are only counted.
            if (f.count >= f.wantMax) return SkipScalar(t, text);
            if (t != Tok::Number) return Mismatch(t, "a number");
            return Float(text, floats_[f.count]);
        case Part::Triple: return Corner(f, t, text);
        case Part::PerFace:
            if (!IntOf(t, text, 0, perFaceMax_, n)) return false;
            static_cast<std::vector<uint32_t>*>(f.target)->push_back(static_cast<uint32_t>(n));
            return true;
        case Part::Subs: return IndexOrNull(t, text, mtlRefs_.back().subs.emplace_back());
        case Part::ClassWords:
            if (f.count >= 2) return SkipScalar(t, text);
            if (!IntOf(t, text, 0, kUint32Max, n)) return false;
            words_[f.count] = static_cast<uint32_t>(n);
            return true;
        case Part::Transform:
            if (f.count >= 4) return SkipScalar(t, text);
            return Mismatch(t, "an array");
        case Part::Points:
        case Part::Triples:
            if (f.count == kInt32Max) return Fail(Here(), "too many entries (at most " + std::to_string(kInt32Max) + ")");
            return Mismatch(t, "an array");
        case Part::NodeList:
            if (depth_ + 1 > kMaxDepth) return NodeTooDeep();
            return Mismatch(t, "an object");
        default: return Mismatch(t, "an object");  // map, material and key lists
    }
}

// An index that may be absent: null, or an integer (checked against its list
// once every list is read).
bool Reader::IndexOrNull(Tok t, std::string_view text, Ref& out) {
    if (t == Tok::Null) {
        out = Ref{};
        return true;
    }
    out.present = true;
    return IntOf(t, text, kInt64Min, kInt64Max, out.index);
}

// The version is read first in effect: a fault met before it is held until it
// is known, and a fault of its own comes before any.
bool Reader::Version(Tok t, std::string_view text) {
    versionSeen_ = true;
    deciding_ = true;
    int64_t v = 0;
    if (!IntOf(t, text, kInt64Min, kInt64Max, v)) return false;
    if (v != 1) return Fail(Here(), "unsupported version " + std::to_string(v) + " (this reader reads 1)");
    deciding_ = false;
    if (hold_ == Hold::Version) {
        hold_ = Hold::None;
        error_ = std::move(held_);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Containers opening

bool Reader::Open(Frame& f, bool array) {
    if (f.part == Part::Skip) {
        if (depth_ > kMaxDepth) return Fail(Here(), "nested more than " + std::to_string(kMaxDepth) + " levels deep");
        return true;
    }
    return f.array ? OpenElement(f, array) : OpenMember(f, array);
}

bool Reader::OpenMember(Frame& f, bool array) {
    const Tok t = array ? Tok::Array : Tok::Object;
    switch (f.slot) {
        case Part::Skip: return OpenSkip();
        case Part::Document:
            if (array) return Mismatch(t, "an object");
            Push(Part::Root, false);
            return true;
        case Part::Version: return Version(t, {});
        case Part::Animation:
        case Part::Channel:
            if (array) return Mismatch(t, "an object");
            Push(f.slot, false, f.out);
            return true;
        case Part::EvalObject: return array ? Mismatch(t, "an object") : OpenObject();
        case Part::Mesh: return array ? Mismatch(t, "an object") : OpenMesh();
        case Part::MapList:
        case Part::MtlList:
        case Part::Subs:
        case Part::Keys:
        case Part::Transform:
        case Part::ClassWords: {
            if (!array) return Mismatch(t, "an array");
            // Keys go to the node; a transform and class words to what the member fills.
            const Part part = f.slot;
            void* const target = part == Part::Keys ? f.target : f.out;
            words_[0] = words_[1] = 0;
            Push(part, true, target);
            return true;
        }
        case Part::NodeList:
            if (!array) return Mismatch(t, "an array");
            Push(Part::NodeList, true, f.part == Part::Root ? &scene_.root : f.target);
            return true;
        case Part::Colour:
        case Part::OffsetPos:
        case Part::OffsetRot:
            if (!array) return Mismatch(t, "an array");
            OpenFloats(f.slot, f.slot == Part::OffsetRot ? 4 : 3, f.slot == Part::OffsetRot ? 4 : 3,
                       f.slot == Part::Colour ? f.out : f.target);
            return true;
        case Part::Points: {
            if (!array) return Mismatch(t, "an array");
            void* const target = f.out;
            scratch_.points.clear();
            Push(Part::Points, true, target).wantMin = target == &object_->mesh.verts ? 3 : 2;
            return true;
        }
        case Part::Triples: return array ? OpenTriples(f) : Mismatch(t, "an array");
        case Part::PerFace:
            if (!array) return Mismatch(t, "an array");
            static_cast<std::vector<uint32_t>*>(f.out)->clear();
            perFaceMax_ = f.out == &scratch_.ids ? 65535 : kUint32Max;
            Push(Part::PerFace, true, f.out);
            return true;
        case Part::MtlBool:
        case Part::ChannelEnabled: return Mismatch(t, "a boolean");
        case Part::Renderable:
            deciding_ = true;
            return Mismatch(t, "a boolean");
        case Part::Opacity: return Mismatch(t, "a number");
        case Part::MapFile:
        case Part::NodeName: return Mismatch(t, "a string");
        default: return Mismatch(t, "an integer");  // times, indices, shading and the like
    }
}

bool Reader::OpenElement(Frame& f, bool array) {
    const Tok t = array ? Tok::Array : Tok::Object;
    switch (f.part) {
        case Part::MapList:
        case Part::MtlList:
            if (array) return Mismatch(t, "an object");
            StartRecording(f.part == Part::MapList);
            return true;
        case Part::NodeList: return OpenNode(f, array);
        case Part::Keys:
            if (array) return Mismatch(t, "an object");
            key_ = TransformKey{};
            Push(Part::Key, false);
            return true;
        case Part::Transform:
            if (f.count >= 4) return OpenSkip();
            if (!array) return Mismatch(t, "an array");
            OpenFloats(Part::Row, 3, 3, nullptr);
            return true;
        case Part::Points:
            if (f.count == kInt32Max) return Fail(Here(), "too many entries (at most " + std::to_string(kInt32Max) + ")");
            if (!array) return Mismatch(t, "an array");
            OpenFloats(Part::Point, f.wantMin, 3, nullptr);
            return true;
        case Part::Triples: {
            if (f.count == kInt32Max) return Fail(Here(), "too many entries (at most " + std::to_string(kInt32Max) + ")");
            if (!array) return Mismatch(t, "an array");
            Frame& e = Push(Part::Triple, true);
            e.wantMin = e.wantMax = 3;
            return true;
        }
        case Part::Triple:
            if (f.count >= 3) return OpenSkip();
            return Mismatch(t, "an integer");
        case Part::ClassWords:
            if (f.count >= 2) return OpenSkip();
            return Mismatch(t, "an integer");
        case Part::PerFace:
        case Part::Subs: return Mismatch(t, "an integer");
        default:  // numbers
            if (IsFloats(f.part) && f.count >= f.wantMax) return OpenSkip();
            return Mismatch(t, "a number");
    }
}

// A node of the list `list` (the top-level nodes or a node's children), or
// what stands in its place. Nodes nest far deeper than anything else.
bool Reader::OpenNode(const Frame& list, bool array) {
    if (depth_ > kMaxDepth) return NodeTooDeep();
    if (array) return Mismatch(Tok::Array, "an object");
    JsonNode* parent = static_cast<JsonNode*>(list.target);
    JsonNode& node = scene_.nodes.emplace_back();
    node.parent = parent;
    parent->children.push_back(&node);
    Push(Part::Node, false, &node);
    return true;
}

// Named by its top-level ancestor: the full place would be longer than any reader wants.
bool Reader::NodeTooDeep() {
    return Fail(At{3, {}}, "node hierarchy nested more than " + std::to_string(kMaxDepth / 2 - 1) + " levels deep");
}

void Reader::OpenFloats(Part part, int minN, int maxN, void* target) {
    Frame& f = Push(part, true, target);
    f.wantMin = static_cast<uint8_t>(minN);
    f.wantMax = static_cast<uint8_t>(maxN);
    floats_[0] = floats_[1] = floats_[2] = floats_[3] = 0;  // w of a texture vertex defaults to 0
}

// ---------------------------------------------------------------------------
// Containers closing. The frame is off the stack: Here() is its place.

bool Reader::Closed(const Frame& f) {
    switch (f.part) {
        case Part::Root:
            if (versionSeen_) return true;
            versionSeen_ = true;
            deciding_ = true;
            return Fail("qsxScene", "member missing: this is not a JSON scene document");
        case Part::Animation:
            if (scene_.range.end >= scene_.range.start) return true;
            return Fail(Here(".end"), std::to_string(scene_.range.end) + " is before the start " +
                                             std::to_string(scene_.range.start));
        case Part::ClassWords:
            if (f.count != 2) return Fail(Here(), "expected 2 class words, found " + std::to_string(f.count));
            *static_cast<host::Class_ID*>(f.target) = host::Class_ID(words_[0], words_[1]);
            return true;
        case Part::Node:
            if (f.seen & 1u) return true;
            return Fail(Here(), "missing member \"name\"");
        case Part::Key: return KeyClosed(f);
        case Part::Transform: return MatrixClosed(f);
        case Part::Row:
        case Part::Point:
        case Part::OffsetPos:
        case Part::OffsetRot:
        case Part::Colour: return FloatsClosed(f);
        case Part::Points: PointsClosed(f); return true;
        case Part::Triple:
            if (f.count != 3) return Fail(Here(), "expected 3 indices, found " + std::to_string(f.count));
            EmitTriple();
            return true;
        case Part::Triples: TriplesClosed(f); return true;
        case Part::EvalObject: return ObjectClosed(f);
        case Part::Mesh: return MeshClosed(f);
        default: return true;
    }
}

bool Reader::FloatsClosed(const Frame& f) {
    if (f.count < f.wantMin || f.count > f.wantMax) {
        const std::string want = f.wantMin == f.wantMax ? std::to_string(f.wantMin)
                                                        : std::to_string(f.wantMin) + " or " + std::to_string(f.wantMax);
        return Fail(Here(), "expected " + want + " numbers, found " + std::to_string(f.count));
    }
    const host::Point3 p{floats_[0], floats_[1], floats_[2]};
    switch (f.part) {
        case Part::Point: EmitPoint(); return true;
        case Part::Row: rows_[frames_.back().count] = p; return true;
        case Part::Colour: *static_cast<host::Point3*>(f.target) = p; return true;
        case Part::OffsetPos: static_cast<JsonNode*>(f.target)->offsetPos = p; return true;
        default:
            if (floats_[0] == 0 && floats_[1] == 0 && floats_[2] == 0 && floats_[3] == 0)
                return Fail(Here(), "the zero quaternion is no rotation");
            static_cast<JsonNode*>(f.target)->offsetRot = host::Quat{floats_[0], floats_[1], floats_[2], floats_[3]};
            return true;
    }
}

bool Reader::MatrixClosed(const Frame& f) {
    if (f.count != 4) return Fail(Here(), "expected 4 rows, found " + std::to_string(f.count));
    host::Matrix3 m;
    for (int i = 0; i < 4; ++i) m.SetRow(i, rows_[i]);
    m.SetFlags(rows_[3] == host::Point3{0, 0, 0} ? host::POS_IDENT : 0);
    *static_cast<host::Matrix3*>(f.target) = m;
    return true;
}

// An empty list of keys gives no transform to replace `transform` with, so it counts as absent.
bool Reader::KeyClosed(const Frame& f) {
    if (!(f.seen & 1u)) return Fail(Here(), "missing member \"time\"");
    JsonNode& node = *static_cast<JsonNode*>(frames_.back().target);
    if (!node.keys.empty() && key_.time <= node.keys.back().time)
        return Fail(Here(".time"), "keys out of time order: time " + std::to_string(key_.time) + " follows time " +
                                          std::to_string(node.keys.back().time));
    node.keys.push_back(key_);
    return true;
}

}  // namespace qsxhost::json
