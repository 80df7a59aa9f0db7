// RapidJSON's reader driving the scene reader: its events handed on, its own
// faults placed in the document, on a thread with room for deep nesting, the
// text read on through a window as the parser comes to it.
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include "qsxhost/sources/json/JsonReader.h"
#include "qsxhost/sources/json/JsonText.h"
#include "util/Files.h"

namespace qsxhost::json {
namespace {

// Strings are unescaped in place, numbers come as their text, and text that is
// not UTF-8 is refused wherever it stands.
constexpr unsigned kParseFlags =
    rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag;

// RapidJSON's fastest reader descends one call per level of nesting, and a
// document may nest 100,000 levels: deeper than a thread's usual stack holds,
// so the reading runs on a thread whose stack does (only the part used is
// ever touched). A small document that nests shallowly, as nearly all do, is
// read where it is: starting a thread costs more than reading it.
constexpr size_t kStackBytes = size_t{256} << 20;
constexpr size_t kInlineBytes = size_t{1} << 20;
constexpr size_t kInlineDepth = 256;

struct Stream;

class Events : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Events> {
public:
    Events(Reader& r, Stream& in) : r_(r), in_(in) {}
    bool Null() { return r_.OnScalar(Tok::Null, {}); }
    bool Bool(bool b) { return r_.OnScalar(b ? Tok::True : Tok::False, {}); }
    // The number's text ends at s (see Stream).
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) { return r_.OnNumber({s - n, n}); }
    bool String(const char* s, rapidjson::SizeType n, bool) { return r_.OnScalar(Tok::String, {s, n}); }
    bool StartObject();
    bool Key(const char* s, rapidjson::SizeType n, bool) { return r_.OnKey({s, n}); }
    bool EndObject(rapidjson::SizeType) { return r_.OnClose(); }
    bool StartArray();
    bool EndArray(rapidjson::SizeType) { return r_.OnCloseArray(); }

private:
    Reader& r_;
    Stream& in_;
};

// The text as RapidJSON's reader takes it in place, read on through the window
// whenever the parser comes to its cut (where it is between two values).
//
// The parser reads this stream itself, never a copy of it: a copy of each
// token's start, kept as the in-place stream is, costs more than the rest of
// reading a short number. The parser then asks where a number begins only once
// it has read it, and hears where it ends (Events::RawNumber).
struct Stream {
    using Ch = char;
    char* src_;
    char* dst_;
    char* cut_;
    const char* buf_;  // the window's bytes, at offset base_ - bom in the parser's text
    size_t bias_;
    TextWindow* window_;

    Ch Peek() {
        if (src_ >= cut_) [[unlikely]]
            MoveOn();
        return *src_;
    }
    Ch Take() { return *src_++; }
    size_t Tell() const { return static_cast<size_t>(src_ - buf_) + bias_; }
    Ch* PutBegin() { return dst_ = src_; }
    void Put(Ch c) { *dst_++ = c; }
    size_t PutEnd(Ch* begin) { return static_cast<size_t>(dst_ - begin); }
    void Flush() {}

    [[gnu::noinline]] void MoveOn() {
        const size_t bom = window_->Offset(buf_) - bias_;
        src_ = dst_ = window_->MoveOn(src_);
        cut_ = window_->Cut();
        buf_ = window_->Begin();
        bias_ = window_->Offset(buf_) - bom;
    }

    // Past a mesh list's opening bracket: the reader takes the elements it can
    // straight from the text, read on whenever it stops short of the end of
    // the piece read (an element may run on into the next). Where it stops,
    // the parser stands between two values.
    [[gnu::noinline]] void RunList(Reader& r) {
        constexpr ptrdiff_t kNearEnd = 256;  // more than the elements it stops at for length
        for (bool moved = false;;) {
            char* const stop = r.RunList(src_);
            const bool progressed = stop != src_;
            src_ = stop;
            if (window_->AtEnd() || window_->End() - stop > kNearEnd || (moved && !progressed)) return;
            MoveOn();
            moved = true;
        }
    }
};

bool Events::StartObject() {
    if (!r_.OnOpen(false)) return false;
    if (r_.MembersOpen()) in_.src_ = r_.RunMembers(in_.src_, in_.window_->End());
    return true;
}

bool Events::StartArray() {
    if (!r_.OnOpenArray()) return false;
    if (r_.ListOpen()) [[unlikely]]
        in_.RunList(r_);
    return true;
}

}  // namespace
}  // namespace qsxhost::json

// Blanks skipped by pointer, as the parser skips them in its own in-place
// stream: they may run on past the cut (still between two values) to the end
// of the piece read.
template <>
[[gnu::always_inline]] inline void rapidjson::SkipWhitespace(qsxhost::json::Stream& is) {
    for (;;) {
        char* p = is.src_;
        while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
        is.src_ = p;
        if (p < is.cut_) [[likely]]
            return;
        is.MoveOn();  // the blanks may go on in the next piece
    }
}

namespace qsxhost::json {
namespace {

// The length of the UTF-8 sequence at s[0, n), 0 when it is not one.
size_t Utf8Length(const unsigned char* s, size_t n) {
    const unsigned char c = s[0];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) len = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) len = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (n < len || s[1] < lo || s[1] > hi) return 0;
    for (size_t i = 2; i < len; ++i)
        if ((s[i] & 0xC0) != 0x80) return 0;
    return len;
}

// What is wrong with the text as a whole, as a reader that checks all of it
// before reading finds it: a string never closed, a control character in a
// string, bytes that are not UTF-8 (in that order). Only the text from offset
// from to its end is looked at, read on through the window: before from, the
// parser has read it, strings included, and left it changed. inString: from is
// inside a string. *total: the length of the whole text.
bool TextFault(Reader& reader, TextWindow& w, size_t bom, size_t from, bool inString, size_t* total) {
    constexpr size_t kNone = std::string::npos;
    size_t control = kNone, notUtf8 = kNone;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(w.Begin() + (from + bom - w.Offset(w.Begin())));
    for (;;) {
        const auto* end = reinterpret_cast<const unsigned char*>(w.End());
        // Short of the end, a sequence or an escape that may run on is left for the next piece.
        const auto* stop = w.AtEnd() ? end : end - t > 4 ? end - 4 : t;
        while (t < stop) {
            const unsigned char c = *t;
            if (c >= 0x80) {
                const size_t n = Utf8Length(t, static_cast<size_t>(end - t));
                if (n == 0 && notUtf8 == kNone) notUtf8 = w.Offset(reinterpret_cast<const char*>(t)) - bom;
                t += n ? n : 1;
                continue;
            }
            if (inString && c == '\\' && t + 1 < end && t[1] < 0x80) {
                t += 2;
                continue;
            }
            if (c == '"') inString = !inString;
            else if (inString && c < 0x20 && control == kNone) control = w.Offset(reinterpret_cast<const char*>(t)) - bom;
            ++t;
        }
        if (w.AtEnd() && t >= end) break;
        t = reinterpret_cast<const unsigned char*>(w.ReadOn(reinterpret_cast<const char*>(t)));
    }
    *total = w.Offset(w.End()) - bom;
    if (inString)
        reader.SyntaxFault(std::string::npos, SyntaxAt::Text, false, "a string is opened but never closed");
    else if (control != kNone)
        reader.SyntaxFault(control, SyntaxAt::Text, false, "unescaped control character in string");
    else if (notUtf8 != kNone)
        reader.SyntaxFault(notUtf8, SyntaxAt::Text, false, "not UTF-8 text");
    else
        return false;
    return true;
}

// The parser's own fault, passed on with where it stands.
void SyntaxFault(Reader& reader, TextWindow& w, size_t bom, const rapidjson::ParseResult& r) {
    const size_t offset = r.Offset();
    std::string what = rapidjson::GetParseError_En(r.Code());
    if (!what.empty()) what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    if (!what.empty() && what.back() == '.') what.pop_back();
    SyntaxAt at = SyntaxAt::Value;
    bool inString = false;
    switch (r.Code()) {
        case rapidjson::kParseErrorDocumentEmpty: at = SyntaxAt::End; break;
        case rapidjson::kParseErrorDocumentRootNotSingular: at = SyntaxAt::AfterDocument; break;
        case rapidjson::kParseErrorStringEscapeInvalid:
        case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
        case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
        case rapidjson::kParseErrorStringMissQuotationMark:
        case rapidjson::kParseErrorStringInvalidEncoding: inString = true; break;
        case rapidjson::kParseErrorObjectMissName:
        case rapidjson::kParseErrorObjectMissColon: at = SyntaxAt::BetweenMembers; break;
        case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
        case rapidjson::kParseErrorArrayMissCommaOrSquareBracket: at = SyntaxAt::AfterValue; break;
        default: break;
    }
    // The bytes on either side of the fault, before the window reads on past them.
    const char* p = w.Begin() + (offset + bom - w.Offset(w.Begin()));
    const char here = *p;
    const char before = offset > 0 ? p[-1] : ' ';
    size_t len = 0;
    if (TextFault(reader, w, bom, offset, inString, &len)) return;
    if (offset >= len && r.Code() != rapidjson::kParseErrorDocumentEmpty) {
        at = SyntaxAt::End;
        what = "the document ends early";
    }
    // A byte run on from a number or a literal ("01", "truex", "3\"") belongs to that value.
    auto separates = [](char c) { return std::strchr(" \t\r\n,:[]{}", c) != nullptr; };
    const bool glued = offset < len && !separates(here) && !separates(before) && before != '"' && before != '\0';
    reader.SyntaxFault(offset, at, glued, what);
}

bool Parse(Reader& reader, TextWindow& w, size_t bom) {
    Stream in{w.Begin() + bom, w.Begin() + bom, w.Cut(), w.Begin(), w.Offset(w.Begin()) - bom, &w};
    rapidjson::Reader parser;
    Events events(reader, in);
    const rapidjson::ParseResult r = parser.Parse<kParseFlags>(in, events);
    if (r.IsError()) {
        if (r.Code() != rapidjson::kParseErrorTermination) SyntaxFault(reader, w, bom, r);
        return false;
    }
    // The parser ends at a NUL byte: one before the end is more after the document.
    if (in.src_ < w.End() || !w.AtEnd()) {
        const size_t at = in.Tell();
        size_t len = 0;
        if (!TextFault(reader, w, bom, at, false, &len) && at < len)
            reader.SyntaxFault(at, SyntaxAt::AfterDocument, false, {});
        if (at < len) return false;
    }
    return reader.Finish();
}

struct Job {
    Reader* reader;
    TextWindow* window;
    size_t bom;
    bool ok = false;
    bool noMemory = false;
    int readError = 0;
};

void* RunJob(void* p) {
    Job& job = *static_cast<Job*>(p);
    try {
        job.ok = Parse(*job.reader, *job.window, job.bom);
    } catch (const std::bad_alloc&) {
        job.noMemory = true;
    } catch (const ReadFailed& e) {
        job.readError = e.err;
    }
    return nullptr;
}

// Parse on a thread of its own; false with *error set when none can be started.
bool ParseOnThread(Job& job, std::string* error) {
    pthread_attr_t attr;
    pthread_t thread;
    int rc = pthread_attr_init(&attr);
    if (rc == 0) {
        rc = pthread_attr_setstacksize(&attr, kStackBytes);
        if (rc == 0) rc = pthread_create(&thread, &attr, RunJob, &job);
        pthread_attr_destroy(&attr);
    }
    if (rc != 0) {
        if (error) *error = qsx::util::ErrnoText(rc);
        return false;
    }
    pthread_join(thread, nullptr);
    return true;
}

// True when text[0, len) (text[len] being 0) is small and nests at most
// kInlineDepth levels deep. Strings are skipped as the parser skips them;
// wherever the two could differ the parser stops, so it never descends deeper
// than counted here.
bool Shallow(const char* text, size_t len) {
    if (len > kInlineBytes) return false;
    size_t depth = 0;
    bool inString = false;
    for (const char* p = text; p < text + len; ++p) {
        p += std::strcspn(p, inString ? "\\\"" : "\"[]{}");  // stops at a NUL byte too
        if (p >= text + len) break;
        if (*p == '\\')
            ++p;
        else if (*p == '"')
            inString = !inString;
        else if (*p == '[' || *p == '{') {
            if (++depth > kInlineDepth) return false;
        } else if (*p != '\0' && depth > 0) {
            --depth;
        }
    }
    return true;
}

}  // namespace

bool ReadDocument(JsonScene& scene, TextWindow& window, std::string* error, std::vector<std::string>* warnings) {
    window.Start();
    const char* text = window.Begin();
    const size_t len = static_cast<size_t>(window.End() - text);
    const size_t bom = len >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    Reader reader(scene, window, bom);
    Job job{&reader, &window, bom};
    // A document read whole in the first piece may be small and shallow enough to read here.
    if (window.AtEnd() && Shallow(text + bom, len - bom)) {
        job.ok = Parse(reader, window, bom);
    } else {
        if (!ParseOnThread(job, error)) return false;
        if (job.noMemory) throw std::bad_alloc();
        if (job.readError) throw ReadFailed{job.readError};
    }
    if (!job.ok && error) *error = reader.Error();
    if (job.ok && warnings) *warnings = reader.Warnings();
    return job.ok;
}

}  // namespace qsxhost::json
