// Lines and numbers as the exporter prints them, for the readers of its
// three files: the line walk with its CR LF check, and the number forms
// "% 4.6f", "%4g" and "%d", each accepted only in the exact characters
// printf gives in the C locale.
#pragma once

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string>
#include <string_view>
#include <vector>

#include "qsxhost/sources/qsx/QsxModel.h"
#include "util/Files.h"
#include "util/Text.h"

namespace qsxhost::script {

// "1 tag", "2 tags": a count with its noun.
inline std::string Plural(int64_t n, const char* one, const char* many) { return qsx::util::Count(n, one, many); }

// Walks the lines of a text, whole or read from a file in pieces (a line
// seen stays valid until the next is asked for). A line ending in LF alone,
// or a last line without a line end, is a problem; LF-only lines are reported
// once, at the first. A byte-order mark opening the text is a problem of line
// 1 and is passed over, so that the first line reads as what it holds. A NUL
// or other control byte in a line is a problem of that line: no reader of
// these files expects one, and on a terminal it acts rather than shows.
//
// With `tolerated`, a mark and LF-only line ends (what an editor or a checkout
// without CR LF conversion makes) are no problem: one warning for them both
// is put there instead.
class LineWalk {
public:
    LineWalk(std::string_view text, Problems* problems, std::string* tolerated = nullptr)
        : text_(text), problems_(problems), tolerated_(tolerated) {
        Start();
    }
    // The rest of the open file fd; a read that fails ends the walk with *readError set.
    LineWalk(int fd, Problems* problems, std::string* readError, std::string* tolerated = nullptr)
        : problems_(problems), tolerated_(tolerated), fd_(fd), readError_(readError), buffer_(kPiece) {
        Refill();
        Start();
    }
    // Reports the LF-only line ends, once the walk is over.
    void Finish() {
        if (tolerated_) {
            std::string what = mark_ ? "a UTF-8 byte-order mark" : "";
            if (lfOnly_ > 0) what += (what.empty() ? "" : " and ") + Plural(lfOnly_, "line", "lines") + " ending in LF alone";
            if (!what.empty())
                *tolerated_ = "the script has " + what +
                              ", which the exporter does not write (qsxexport --check names them); read all the same";
            return;
        }
        if (lfOnly_ > 0)
            problems_->Add(firstLfOnly_, lfOnly_ == 1 ? std::string("the line ends in LF alone, not CR LF")
                                                      : "the line ends in LF alone, not CR LF (" +
                                                            std::to_string(lfOnly_) + " such lines from here)");
    }
    bool Next(std::string_view* line) {
        if (pos_ >= text_.size() && !Refill()) return false;
        ++number_;
        // Nearly every line holds no control byte before its CR LF: one scan
        // finds both its end and that it is clean. Anything else (a control
        // byte, an end past the text read so far) takes the careful walk.
        for (;;) {
            const char* start = text_.data() + pos_;
            const size_t rest = text_.size() - pos_;
            const size_t at = FirstControl(start, rest);
            if (at + 1 < rest && start[at] == '\r' && start[at + 1] == '\n') {
                *line = std::string_view(start, at);
                pos_ += at + 2;
                control_ = false;
                return true;
            }
            if (at < rest && start[at] == '\n') {
                *line = std::string_view(start, at);
                pos_ += at + 1;
                if (lfOnly_++ == 0) firstLfOnly_ = number_;
                control_ = false;
                return true;
            }
            if (at + 1 < rest || !Refill()) break;
        }
        const void* nl;
        while (!(nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_)) && Refill()) {
        }
        const char* start = text_.data() + pos_;
        const size_t rest = text_.size() - pos_;
        if (!nl) {
            *line = std::string_view(start, rest);
            if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
            ControlBytes(*line);
            problems_->Add(number_, "the last line has no line end (CR LF)");
            pos_ = text_.size();
            return true;
        }
        const size_t len = static_cast<size_t>(static_cast<const char*>(nl) - start);
        pos_ += len + 1;
        if (len > 0 && start[len - 1] == '\r') {
            *line = std::string_view(start, len - 1);
        } else {
            *line = std::string_view(start, len);
            if (lfOnly_++ == 0) firstLfOnly_ = number_;
        }
        ControlBytes(*line);
        return true;
    }
    // Whether the line last walked holds a control byte (reported already).
    bool HasControlByte() const { return control_; }
    int64_t Number() const { return number_; }

private:
    // A file is read a piece at a time; the buffer grows only for a line longer than that.
    static constexpr size_t kPiece = size_t{1} << 20;
    std::string_view text_;
    Problems* problems_;
    std::string* tolerated_;
    size_t pos_ = 0;
    bool mark_ = false;  // the text opened with a byte-order mark
    int fd_ = -1;
    std::string* readError_ = nullptr;
    std::vector<char> buffer_;
    int64_t number_ = 0;
    int64_t lfOnly_ = 0, firstLfOnly_ = 0;
    bool control_ = false;

    void Start() {
        if (text_.substr(pos_, 3) == "\xEF\xBB\xBF") {
            mark_ = true;
            if (!tolerated_)
                problems_->Add(1, "the file starts with a UTF-8 byte-order mark (bytes EF BB BF); the exporter writes none");
            pos_ += 3;
        }
    }

    // The text not walked yet moved to the buffer's start and more read after
    // it; false when the file has no more (or a read failed).
    bool Refill() {
        if (fd_ < 0) return false;
        const size_t kept = text_.size() - pos_;
        if (kept > 0 && text_.data() + pos_ != buffer_.data()) std::memmove(buffer_.data(), text_.data() + pos_, kept);
        if (buffer_.size() - kept < kPiece / 2) buffer_.resize(buffer_.size() * 2);
        pos_ = 0;
        text_ = std::string_view(buffer_.data(), kept);
        const long long got = qsx::util::ReadSome(fd_, buffer_.data() + kept, buffer_.size() - kept, readError_);
        if (got <= 0) {
            fd_ = -1;
            return false;
        }
        text_ = std::string_view(buffer_.data(), kept + static_cast<size_t>(got));
        return true;
    }

    // Where the first byte below 0x20 or equal to 0x7F is, or n.
    static size_t FirstControl(const char* s, size_t n) {
        size_t i = 0;
#if defined(__SSE2__)
        const __m128i high = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F);
        for (; i + 16 <= n; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(x, high), x), _mm_cmpeq_epi8(x, del));
            if (const int mask = _mm_movemask_epi8(hit)) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
#endif
        for (; i + 8 <= n && !MayHoldControl(std::string_view(s + i, 8)); i += 8) {
        }
        for (; i < n; ++i)
            if (IsControl(s[i])) return i;
        return n;
    }

    static bool IsControl(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    }

    // Whether the line may hold a control byte, eight bytes at a time (a
    // word with a byte below 0x20 or equal to 0x7F says yes): every line
    // is asked, and nearly all answer no.
    static bool MayHoldControl(std::string_view line) {
        constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
        size_t i = 0;
        for (; i + 8 <= line.size(); i += 8) {
            uint64_t x;
            std::memcpy(&x, line.data() + i, 8);
            const uint64_t y = x ^ (kOnes * 0x7F);
            if (((x - kOnes * 0x20) & ~x & kHigh) | ((y - kOnes) & ~y & kHigh)) return true;
        }
        for (; i < line.size(); ++i)
            if (IsControl(line[i])) return true;
        return false;
    }

    // One problem per line: the first control byte and its column, and how many more.
    void ControlBytes(std::string_view line) {
        control_ = false;
        if (!MayHoldControl(line)) return;
        size_t first = 0, count = 0;
        for (size_t i = 0; i < line.size(); ++i)
            if (IsControl(line[i]) && count++ == 0) first = i;
        control_ = count > 0;
        if (!control_) return;
        static const char kHex[] = "0123456789ABCDEF";
        const auto u = static_cast<unsigned char>(line[first]);
        std::string what = u == 0 ? std::string("the line holds a NUL byte")
                                   : std::string("the line holds control byte 0x") + kHex[u >> 4] + kHex[u & 15];
        what += " at column " + std::to_string(first + 1);
        if (count > 1) what += " (" + std::to_string(count) + " control bytes in the line)";
        problems_->Add(number_, std::move(what));
    }
};

// The file at path opened and walked by body(LineWalk&), a piece at a time:
// Absent or Failed (with *error) as util::ReadWholeFile answers, and Failed
// when a read fails part way.
template <class Body>
qsx::util::ReadState WalkFile(const std::string& path, Problems* problems, std::string* error, Body body,
                              std::string* tolerated = nullptr) {
    qsx::util::Fd fd;
    const qsx::util::ReadState state = qsx::util::OpenRegularFile(path, &fd, error);
    if (state != qsx::util::ReadState::Read) return state;
    std::string readError;
    LineWalk walk(fd.Get(), problems, &readError, tolerated);
    body(walk);
    problems->Sort();
    if (readError.empty()) return state;
    if (error) *error = readError;
    return qsx::util::ReadState::Failed;
}

// A number as "% 4.6f" prints it after one separating blank: " " then a blank
// or '-', the integer digits (no leading zero), '.', six decimals. On success p
// moves past it. Without `out` the number's form alone is read: the value is
// not worked out, though a number too large for a float is still refused.
bool ReadFixed(const char*& p, const char* end, float* out);
// A number as " %4g" prints it: a blank, then the %g text right-aligned in
// four columns.
bool ReadG4(const char*& p, const char* end, float* out);
// An integer as "%d" prints it, without the separating blank.
bool ReadInt(const char*& p, const char* end, int32_t* out);

// The number-like word at p, for a message: up to the next blank after it.
std::string WordAt(const char* p, const char* end);

}  // namespace qsxhost::script
