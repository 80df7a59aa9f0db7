// The reader's machinery: the parser's events in, the stack of open containers,
// places in the document, the one failure path, and numbers. What each member
// means is in JsonMembers.cpp, JsonRecorded.cpp and JsonMesh.cpp.
#include "qsxhost/sources/json/JsonReader.h"
#include "util/Text.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace qsxhost::json {
namespace {

const char* TypeName(Tok t) {
    switch (t) {
        case Tok::Null: return "null";
        case Tok::False:
        case Tok::True: return "a boolean";
        case Tok::Number: return "a number";
        case Tok::String: return "a string";
        case Tok::Object: return "an object";
        case Tok::Array: return "an array";
    }
    return "an unknown value";
}

// The power of ten of the first significant digit of a number written in
// JSON's grammar; false when every digit is zero. The exponent is clamped far
// beyond any range that matters here.
bool LeadingPower(std::string_view t, int64_t& power) {
    size_t i = !t.empty() && t[0] == '-' ? 1 : 0;
    int64_t digits = 0, first = -1, point = -1;
    for (; i < t.size() && t[i] != 'e' && t[i] != 'E'; ++i) {
        if (t[i] == '.') {
            point = digits;
            continue;
        }
        if (first < 0 && t[i] != '0') first = digits;
        ++digits;
    }
    if (first < 0) return false;
    if (point < 0) point = digits;
    int64_t exp = 0;
    bool negative = false;
    if (i < t.size()) {
        ++i;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
        for (; i < t.size(); ++i) exp = std::min<int64_t>(exp * 10 + (t[i] - '0'), 1'000'000'000);
    }
    power = point - first - 1 + (negative ? -exp : exp);
    return true;
}

// Below 1 in magnitude: a conversion out of range there is an underflow to zero.
bool Tiny(std::string_view t) {
    int64_t power = 0;
    return LeadingPower(t, power) && power < 0;
}

// Beyond the range of a double: refused wherever it stands, as no JSON number
// this reader could keep.
bool BeyondDouble(std::string_view t) {
    double d;
    return std::from_chars(t.data(), t.data() + t.size(), d).ec == std::errc::result_out_of_range && !Tiny(t);
}

bool IsIntegerToken(std::string_view t) {
    if (!t.empty() && t.front() == '-') t.remove_prefix(1);
    return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string Count(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

Reader::Reader(JsonScene& scene, TextWindow& text, size_t bomBytes)
    : scene_(scene), text_(text), bomBytes_(bomBytes) {
    frames_.reserve(64);
    Frame& doc = frames_.emplace_back();
    doc.part = Part::Document;
    doc.slot = Part::Document;
    text.beforeMove = [this](const char* from, const char* to) { Keep(from, to); };
}

// The names of the members open and a recorded object's text, where they are
// still in the window's bytes [from, to): copied out, as those bytes move.
void Reader::Keep(const char* from, const char* to) {
    auto keep = [&](std::string_view& v) {
        if (v.data() < from || v.data() >= to) return;
        const Kept& k = kept_.emplace_back(Kept{std::string(v), text_.Offset(v.data())});
        v = k.text;
    };
    for (Frame& f : frames_) keep(f.key);
    for (Event& e : events_) keep(e.text);
}

size_t Reader::OffsetOf(const char* p) const {
    if (text_.Holds(p)) return text_.Offset(p);
    for (const Kept& k : kept_)
        if (p >= k.text.data() && p <= k.text.data() + k.text.size()) return k.offset + static_cast<size_t>(p - k.text.data());
    return 0;
}

// ---------------------------------------------------------------------------
// Events

// While an object is recorded, its containers still have frames (Record), so
// that a fault of the text inside it is placed as anywhere else.
bool Reader::OnScalar(Tok t, std::string_view text) {
    if (finished_) return true;
    if (recordDepth_ > 0) {
        Record(Event::Value, t, text);
        ValueDone();
        return true;
    }
    return DoScalar(t, text) || Stop();
}

bool Reader::OnOpen(bool array) {
    if (finished_) return ++depth_ <= kHardMaxDepth;
    if (recordDepth_ > 0) {
        if (++depth_ > kMaxDepth) {
            // Read no deeper; the place is the recorded object's member.
            const At member{frames_.size() - static_cast<size_t>(recordDepth_) + 1, {}};
            recordDepth_ = 0;
            return Fail(member, "nested more than " + std::to_string(kMaxDepth) + " levels deep") || Stop();
        }
        ++recordDepth_;
        Push(Part::Record, array);
        Record(Event::Value, array ? Tok::Array : Tok::Object, {});
        return true;
    }
    return DoOpen(array) || Stop();
}

bool Reader::OnKey(std::string_view key) {
    if (finished_) return true;
    if (recordDepth_ > 0) {
        frames_.back().key = key;
        frames_.back().slot = Part::Skip;  // a member under way
        Record(Event::Key, Tok::Null, key);
        return true;
    }
    return DoKey(key) || Stop();
}

bool Reader::OnClose() {
    if (finished_) {
        --depth_;
        return true;
    }
    if (recordDepth_ > 0) {
        Record(Event::End, Tok::Null, {});
        frames_.pop_back();
        --depth_;
        if (--recordDepth_ == 0 && !ReadRecorded()) return Stop();
        ValueDone();
        return true;
    }
    return DoClose() || Stop();
}

bool Reader::DoScalar(Tok t, std::string_view text) {
    if (!Scalar(frames_.back(), t, text)) return false;
    ValueDone();
    return true;
}

bool Reader::DoOpen(bool array) {
    if (++depth_ > kHardMaxDepth)
        return Fail(Here(), "nested more than " + std::to_string(kHardMaxDepth) + " levels deep");
    return Open(frames_.back(), array);
}

bool Reader::DoKey(std::string_view key) {
    Frame& f = frames_.back();
    return f.part == Part::Skip || Key(f, key);
}

bool Reader::DoClose() {
    const int32_t closing = depth_--;
    if (frames_.back().part == Part::Skip) {
        if (closing > frames_.back().depth) return true;  // a container inside the one skipped
        frames_.pop_back();
        ValueDone();
        return true;
    }
    const Frame f = frames_.back();
    frames_.pop_back();
    if (!Closed(f)) return false;
    ValueDone();
    return true;
}

Frame& Reader::Push(Part part, bool array, void* target) {
    Frame& f = frames_.emplace_back();
    f.part = part;
    f.array = array;
    f.depth = depth_;
    f.target = target;
    return f;
}

// The current member or element is read: on to the next.
void Reader::ValueDone() {
    Frame& f = frames_.back();
    if (f.array)
        ++f.count;
    else if (f.part != Part::Skip)
        f.slot = Part::None;
}

// ---------------------------------------------------------------------------
// Faults

// The path of member names and indices of the current members and elements of
// frames [from, to). A member read only as JSON is the deepest place there is,
// and so is one of a recorded object's members below its own.
std::string Reader::Render(size_t from, size_t to) const {
    std::string s;
    int recorded = 0;
    for (size_t i = from; i < to; ++i) {
        const Frame& f = frames_[i];
        if (f.part == Part::Skip || (f.part == Part::Record && ++recorded > 2)) break;
        if (f.array) {
            s += '[';
            s += std::to_string(f.count);
            s += ']';
        } else if (!f.key.empty()) {
            if (!s.empty()) s += '.';
            s += f.key;
        }
    }
    return s;
}

// "document" for the root itself.
std::string Reader::Place(const At& at) const {
    std::string s = Render(1, at.frames) + at.tail;
    return s.empty() ? std::string("document") : s;
}

// The mesh fault held, placed in full: below the object, whose frame and those
// under it are still as they were.
std::string Reader::HeldMeshFault() const { return Place(At{objectFrame_, "." + held_}); }

// Every refusal passes here: "<place>: <what is wrong>". A fault in a mesh whose
// object's `renderable` is not known yet is held, spelled out from the object
// on: it may never be needed, and the path to a deep node is long.
bool Reader::Fail(const At& at, std::string_view what) {
    if (meshTentative_ && hold_ == Hold::None) {
        meshTentative_ = false;
        held_ = Render(objectFrame_, at.frames) + at.tail + ": " + std::string(what);
        hold_ = Hold::Renderable;
        return false;
    }
    return Fail(Place(at), what);
}

bool Reader::Fail(const std::string& place, std::string_view what) {
    std::string message = place;
    message += ": ";
    message += what;
    return Settle(std::move(message));
}

// Keeps the fault that stands: a held fault comes first in the document, unless
// the member that decides it is itself at fault. Answers false always.
bool Reader::Settle(std::string message) {
    const bool deciding = deciding_;
    deciding_ = false;
    if (hold_ == Hold::Renderable) {
        if (!deciding) message = HeldMeshFault();
        hold_ = Hold::None;
        held_.clear();
    } else if (hold_ == Hold::Version) {
        error_ = deciding ? std::move(message) : std::move(held_);
        return false;
    }
    // Within the root object the version may yet come; outside it, it cannot.
    if (!versionSeen_ && frames_.size() > 1) {
        held_ = std::move(message);
        hold_ = Hold::Version;
        return false;
    }
    error_ = std::move(message);
    return false;
}

// After a step failed: with a fault that stands, the rest is read as text only
// (a fault of the text itself still comes first, as it would for a reader that
// checks the whole text before reading it); with a held one, reading goes on
// past the value that holds it.
bool Reader::Stop() {
    if (!error_.empty()) {
        finished_ = true;
        return true;
    }
    UnwindTo(hold_ == Hold::Version ? 1 : objectFrame_);
    return true;
}

// Drops the frames above frame k; what is still open above it is read as JSON.
void Reader::UnwindTo(size_t k) {
    frames_.resize(k + 1);
    Frame& f = frames_.back();
    if (!f.array) f.slot = Part::Skip;
    if (depth_ > f.depth) Push(Part::Skip, false).depth = f.depth + 1;
}

bool Reader::JsonFault(std::string_view token, std::string_view what) {
    return Fail(Here(), "invalid JSON at byte " + std::to_string(OffsetOf(token.data())) + ": " + std::string(what));
}

bool Reader::Mismatch(Tok t, const char* want) {
    return Fail(Here(), std::string("expected ") + want + ", found " + TypeName(t));
}

bool Reader::Duplicate(std::string_view key) {
    return Fail(Owner(), "member " + qsx::util::Quoted(key) + " appears twice");
}

// Later versions may add members, so one unknown is no fault; but a misspelt
// one ("Keys") would silently drop what it meant, so it is named.
bool Reader::Unknown(std::string_view key) {
    if (!key.empty() && key.front() == '_') return true;
    warnings_.push_back(Place(Owner()) + ": unknown member " + qsx::util::Quoted(key) + " ignored");
    return true;
}

// A fault of the parser's own is placed at the value it was reading: a member
// read as JSON only, or recorded, at that member; between members at the
// object; right after a value at the next element, or at the value itself when
// the text runs on from it. The reading is over: the frames are left as they are.
void Reader::SyntaxFault(size_t offset, SyntaxAt at, bool glued, std::string_view what) {
    At place = Here();
    const Frame& f = frames_.back();
    if (at == SyntaxAt::Text || at == SyntaxAt::End || at == SyntaxAt::AfterDocument) {
        place.frames = 1;  // the document
    } else if (f.part == Part::Skip || frames_.size() == 1) {
        // at the member read as JSON only; at the document
    } else if (recordDepth_ > 0 && at != SyntaxAt::Value) {
        // A recorded object's structure is broken: its class cannot be found, and
        // the object as a whole is at fault.
        place.frames -= static_cast<size_t>(recordDepth_);
    } else if (at == SyntaxAt::BetweenMembers || (at == SyntaxAt::Value && !f.array && f.slot == Part::None)) {
        if (!f.array) place = Owner();  // between members, or in a member's name
    } else if (at != SyntaxAt::Value && f.array) {
        if (glued && f.count > 0) --frames_.back().count;  // the element just read
    } else if (at != SyntaxAt::Value && !glued) {
        place = Owner();
    }
    // A string never closed has no one place to blame.
    std::string message;
    if (at == SyntaxAt::AfterDocument) {
        message = "unexpected text after the document at byte " + std::to_string(offset + bomBytes_);
    } else {
        message = Place(place) + ": invalid JSON";
        if (offset != std::string::npos) message += " at byte " + std::to_string(offset + bomBytes_);
        message += ": ";
        message += what;
    }
    // A held fault comes first in the document; a reader told what decides it
    // would report it (a mesh's object is renderable unless it says otherwise).
    if (at == SyntaxAt::Text)
        error_ = std::move(message);
    else if (finished_)
        return;
    else if (hold_ != Hold::None)
        error_ = hold_ == Hold::Renderable ? HeldMeshFault() : held_;
    else
        error_ = std::move(message);
}

bool Reader::Finish() { return error_.empty() && Resolve(); }

// ---------------------------------------------------------------------------
// Numbers, converted from their text once: a float rounded from the decimal
// text straight to float, an integer taken whole.

// An integer, written as one (3.0 and 1e2 are refused: a count or an index
// written that way is more likely a mistake than an intention), from lo to hi.
bool Reader::Int(std::string_view text, int64_t lo, int64_t hi, int64_t& out) {
    int64_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    const bool whole = r.ptr == text.data() + text.size() && r.ec == std::errc();
    if (whole && n >= lo && n <= hi) [[likely]] {
        out = n;
        return true;
    }
    const std::string range = " out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")";
    if (whole) return Fail(Here(), "integer " + std::to_string(n) + range);
    if (IsIntegerToken(text)) return Fail(Here(), "integer " + std::string(text) + range);
    if (BeyondDouble(text)) return JsonFault(text, "number too big to be stored in double");
    return Fail(Here(), "expected an integer, found " + std::string(text));
}

bool Reader::IntOf(Tok t, std::string_view text, int64_t lo, int64_t hi, int64_t& out) {
    if (t != Tok::Number) return Mismatch(t, "an integer");
    return Int(text, lo, hi, out);
}

bool Reader::Float(std::string_view text, float& out) {
    float f;
    if (QuickFloat(text, out)) return true;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), f, std::chars_format::general);
    if (r.ec == std::errc()) [[likely]] {
        out = f;
        return true;
    }
    // Out of range: below the smallest float it rounds to zero, keeping its sign.
    if (Tiny(text)) {
        out = text.front() == '-' ? -0.0f : 0.0f;
        return true;
    }
    if (BeyondDouble(text)) return JsonFault(text, "number too big to be stored in double");
    return Fail(Here(), "number " + std::string(text) + " out of the range of a 32-bit float");
}

// A scalar nobody reads: only a number beyond any range is refused.
bool Reader::SkipScalar(Tok t, std::string_view text) {
    return t != Tok::Number || !BeyondDouble(text) || JsonFault(text, "number too big to be stored in double");
}

// A container nobody reads, as the current member or element.
bool Reader::OpenSkip() {
    if (depth_ > kMaxDepth) return Fail(Here(), "nested more than " + std::to_string(kMaxDepth) + " levels deep");
    Push(Part::Skip, false);
    return true;
}

}  // namespace qsxhost::json
