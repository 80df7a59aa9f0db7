#include "qsxhost/sources/json/JsonText.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qsxhost::json {
namespace {

// Zero bytes after the text: the NUL the parser stops at, and a few more for
// its check of UTF-8, which takes the whole of a sequence before it looks at
// the bytes (a lead byte at the end reads up to 3 past it), and for the mesh
// lists' numbers, read 8 bytes at a time (TextWindow::Readable).
constexpr size_t kPadding = TextWindow::kWord;
// Most a system read is asked for at once (a 32-bit count on some systems).
constexpr size_t kMostRead = size_t{1} << 30;

bool Separates(char c) { return c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}'; }

}  // namespace

TextWindow::TextWindow(int fd, std::string_view bytes, size_t chunk)
    : fd_(fd), bytes_(bytes), chunk_(std::max<size_t>(chunk, 1)) {}

TextWindow::~TextWindow() { std::free(buf_); }

// Reads until the window holds want bytes, or the text ends.
void TextWindow::Fill(size_t want) {
    if (want > cap_) {
        char* p = static_cast<char*>(std::realloc(buf_, want + kPadding));
        if (!p) throw std::bad_alloc();
        buf_ = p;
        cap_ = want;
    }
    while (len_ < want && !eof_) {
        size_t n;
        if (fd_ < 0) {
            n = std::min(want - len_, bytes_.size());
            if (n) std::memcpy(buf_ + len_, bytes_.data(), n);
            bytes_.remove_prefix(n);
        } else {
            const auto k = ::read(fd_, buf_ + len_, std::min(want - len_, kMostRead));
            if (k < 0) {
                if (errno == EINTR) continue;
                throw ReadFailed{errno};
            }
            n = static_cast<size_t>(k);
        }
        eof_ = n == 0;
        len_ += n;
    }
    std::memset(buf_ + len_, 0, kPadding);
}

// Lets the bytes before buf_[keep] go.
void TextWindow::Drop(size_t keep) {
    if (beforeMove && len_) beforeMove(buf_, buf_ + len_);
    std::memmove(buf_, buf_ + keep, len_ - keep);
    base_ += keep;
    len_ -= keep;
}

// Carries the search for cuts on over the bytes read since: quotes found as
// fast as the library finds a byte, and in each run of text outside strings,
// its last separator, found from the run's end.
void TextWindow::Scan() {
    const char* p = buf_ + (scanned_ - base_);
    const char* const end = buf_ + len_;
    while (p < end) {
        if (!inString_) {
            const char* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
            const char* runEnd = quote ? quote : end;
            for (const char* c = runEnd; c > p;) {
                if (Separates(*--c)) {
                    cutAt_ = Offset(c) + 1;
                    break;
                }
            }
            if (!quote) break;
            inString_ = true;
            p = quote + 1;
            continue;
        }
        for (; p < end; ++p) {
            if (escaped_) {
                escaped_ = false;
            } else if (*p == '\\') {
                escaped_ = true;
            } else if (*p == '"') {
                inString_ = false;
                ++p;
                break;
            }
        }
    }
    scanned_ = Offset(end);
}

void TextWindow::Start() {
    if (started_) return;
    started_ = true;
    Fill(std::max<size_t>(chunk_, kPadding));
    MoveOn(buf_);
}

char* TextWindow::MoveOn(const char* pos) {
    size_t at = static_cast<size_t>(pos - buf_);
    if (eof_ && at < len_ + kPadding) {
        cut_ = len_ + kPadding;
        return buf_ + at;
    }
    const size_t keep = at > 0 ? at - 1 : 0;
    Drop(keep);
    at -= keep;
    for (size_t want = at + chunk_;; want = len_ + std::max(chunk_, len_)) {
        Fill(want);
        Scan();
        if (eof_) {
            cut_ = len_ + kPadding;  // never reached: the parser stops at the end
            break;
        }
        if (cutAt_ > base_ + at) {
            cut_ = cutAt_ - base_;
            break;
        }
        // A value longer than the window: it grows to hold it.
    }
    return buf_ + at;
}

char* TextWindow::ReadOn(const char* pos) {
    Drop(static_cast<size_t>(pos - buf_));
    Fill(len_ + chunk_);
    scanned_ = Offset(End());
    return buf_;
}

}  // namespace qsxhost::json
