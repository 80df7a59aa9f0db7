// Maps and materials. What such an object's members mean depends on its class,
// which may stand anywhere in it, so the object is recorded whole (its events,
// whose text stays in the document) and read once complete: its class first,
// then its members in order.
#include "qsxhost/sources/json/JsonReader.h"
#include "util/Text.h"

#include <iterator>
#include <span>
#include <utility>

namespace qsxhost::json {
namespace {

constexpr Known kClassMembers[] = {{"class", Part::Skip}, {"classId", Part::Skip}};  // read before the rest
constexpr Known kStandardMembers[] = {
    {"twoSided", Part::MtlBool}, {"wire", Part::MtlBool},       {"shading", Part::Shading},
    {"opacity", Part::Opacity},  {"ambient", Part::Colour},     {"diffuse", Part::Colour},
    {"specular", Part::Colour},  {"diffuseMap", Part::Channel}, {"opacityMap", Part::Channel}};
constexpr unsigned kFileBit = 2, kStandardBit = 2, kSubsBit = kStandardBit + std::size(kStandardMembers);
constexpr Known kChannelMembers[] = {{"enabled", Part::ChannelEnabled}, {"map", Part::ChannelMap}};

using ClassName = std::pair<std::string_view, host::Class_ID>;
constexpr ClassName kMapClasses[] = {{"bitmap", host::BITMAP_TEXTURE_CLASS_ID}};
constexpr ClassName kMtlClasses[] = {{"standard", host::STANDARD_MATERIAL_CLASS_ID},
                                     {"multi", host::MULTI_MATERIAL_CLASS_ID}};

}  // namespace

// A map or material object begins: it is recorded until it ends.
void Reader::StartRecording(bool isMap) {
    Push(Part::Record, false);
    recordDepth_ = 1;
    recordingMap_ = isMap;
    events_.clear();
    Record(Event::Value, Tok::Object, {});
}

// Feeds recorded events [from, to) to the reader as if they came now.
bool Reader::Replay(size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        const Event& e = events_[i];
        bool ok;
        if (e.kind == Event::Key)
            ok = DoKey(e.text);
        else if (e.kind == Event::End)
            ok = DoClose();
        else if (e.tok == Tok::Object || e.tok == Tok::Array)
            ok = DoOpen(e.tok == Tok::Array);
        else
            ok = DoScalar(e.tok, e.text);
        if (!ok) return false;
    }
    return true;
}

// The end of the recorded value that starts at event i.
size_t Reader::ValueEnd(size_t i) const {
    for (int32_t level = 0; i < events_.size(); ++i) {
        const Event& e = events_[i];
        if (e.kind == Event::End)
            --level;
        else if (e.kind == Event::Value && (e.tok == Tok::Object || e.tok == Tok::Array))
            ++level;
        if (level == 0) return i + 1;
    }
    return std::string::npos;
}

// The recorded map or material, read: its class first, then its members in
// order. The list holding it is the top frame.
bool Reader::ReadRecorded() {
    const size_t listFrame = frames_.size() - 1;
    const int32_t listDepth = depth_;
    ++depth_;  // the recorded object, open again while it is read
    Push(recordingMap_ ? Part::Map : Part::Mtl, false);
    bool ok = false;
    host::Class_ID cls;
    if (ClassOfRecorded(cls)) {
        Frame& obj = frames_.back();
        obj.key = {};
        obj.slot = Part::None;
        obj.seen = 0;
        if (recordingMap_) {
            map_ = &scene_.maps.emplace_back();
            map_->cls = cls;
        } else {
            mtl_ = &scene_.mtls.emplace_back();
            mtl_->cls = cls;
            mtlRefs_.emplace_back();
        }
        ok = Replay(1, events_.size() - 1);
    }
    frames_.resize(listFrame + 1);
    depth_ = listDepth;
    return ok;
}

// A class given by words reads the members of the class it names.
bool Reader::MemberOfMtl(Frame& f, std::string_view key) {
    int i = IndexOf(kClassMembers, key);
    if (i >= 0) return Meet(f, key, static_cast<unsigned>(i), Part::Skip);
    SceneMtl& m = *mtl_;
    if (m.cls == host::STANDARD_MATERIAL_CLASS_ID && (i = IndexOf(kStandardMembers, key)) >= 0) {
        if (!Meet(f, key, kStandardBit + static_cast<unsigned>(i), kStandardMembers[i].part)) return false;
        void* const outs[] = {&m.twoSided, &m.wire,     nullptr,       nullptr,      &m.ambient,
                              &m.diffuse,  &m.specular, &m.diffuseMap, &m.opacityMap};
        f.out = outs[i];
        return true;
    }
    if (m.cls == host::MULTI_MATERIAL_CLASS_ID && key == "subs") return Meet(f, key, kSubsBit, Part::Subs);
    return Unknown(key);  // the class has no such member
}

// The class of the recorded map or material: "class" (a name) or "classId"
// (two words), found wherever they stand and checked before any other member.
bool Reader::ClassOfRecorded(host::Class_ID& cls) {
    size_t nameAt = 0, wordsAt = 0;  // where their values start
    for (size_t i = 1; events_[i].kind == Event::Key; i = ValueEnd(i + 1)) {
        if (events_[i].text == "class" && !nameAt) nameAt = i + 1;
        if (events_[i].text == "classId" && !wordsAt) wordsAt = i + 1;
    }
    Frame& obj = frames_.back();
    const char* kind = recordingMap_ ? "map" : "material";
    bool named = false;
    host::Class_ID byName, byWords;
    if (nameAt) {
        obj.key = "class";
        const Event& e = events_[nameAt];
        if (e.tok != Tok::String) return Mismatch(e.tok, "a string");
        const std::span<const ClassName> names = recordingMap_ ? std::span<const ClassName>(kMapClasses)
                                                               : std::span<const ClassName>(kMtlClasses);
        for (const auto& [name, id] : names) {
            if (e.text == name) {
                byName = id;
                named = true;
            }
        }
        if (!named) return Fail(Here(), "unknown " + std::string(kind) + " class " + qsx::util::Quoted(e.text));
    }
    if (wordsAt) {
        obj.key = "classId";
        obj.slot = Part::ClassWords;
        obj.out = &byWords;
        if (!Replay(wordsAt, ValueEnd(wordsAt))) return false;
    }
    if (!named && !wordsAt) return Fail(Owner(), "needs a \"class\" or a \"classId\" member");
    if (named && wordsAt && !(byName == byWords)) return Fail(Here(), "disagrees with \"class\"");
    cls = named ? byName : byWords;
    return true;
}


bool Reader::MemberOfMap(Frame& f, std::string_view key) {
    const int i = IndexOf(kClassMembers, key);
    if (i >= 0) return Meet(f, key, static_cast<unsigned>(i), Part::Skip);
    if (key != "file" || !(map_->cls == host::BITMAP_TEXTURE_CLASS_ID)) return Unknown(key);
    return Meet(f, key, kFileBit, Part::MapFile);
}

// A map channel fills its material's slot; its map index is resolved later.
bool Reader::MemberOfChannel(Frame& f, std::string_view key) {
    const int i = IndexOf(kChannelMembers, key);
    if (i < 0) return Unknown(key);
    if (!Meet(f, key, static_cast<unsigned>(i), kChannelMembers[i].part)) return false;
    MapSlot* slot = static_cast<MapSlot*>(f.target);
    MtlRefs& refs = mtlRefs_.back();
    f.out = i == 0 ? static_cast<void*>(&slot->enabled)
                   : static_cast<void*>(slot == &mtl_->diffuseMap ? &refs.diffuse : &refs.opacity);
    return true;
}

}  // namespace qsxhost::json
