// A document's text as the parser sees it: a window on the file (or on bytes
// in memory) read a chunk at a time, so that a scene of any size is read with
// a buffer of about one chunk.
//
// The parser reads its text in place (strings are unescaped where they stand,
// numbers handed on as the bytes they are), so no value may straddle the
// point where the window moves on. The window ends each piece just after a
// bracket, brace, comma or colon outside any string (its cut): there the
// parser is between two values, holds no pointer into the text, and the
// bytes before it can go. Text the reader holds on to past that point (the
// names of the members open, a recorded object) is copied out first
// (beforeMove).
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace qsxhost::json {

// A read that failed while the document was being parsed: its errno.
struct ReadFailed {
    int err;
};

class TextWindow {
public:
    // Bytes are read from fd, or taken from bytes when fd < 0, about chunk at a time.
    TextWindow(int fd, std::string_view bytes, size_t chunk);
    ~TextWindow();
    TextWindow(const TextWindow&) = delete;
    TextWindow& operator=(const TextWindow&) = delete;

    // Reads the first piece, once. Throws ReadFailed or std::bad_alloc.
    void Start();
    // Reads on once the parser at pos has come to the cut, keeping the byte
    // before pos; answers where pos now stands. Throws as Start.
    char* MoveOn(const char* pos);
    // The same without looking for a cut: for reading the rest as plain bytes.
    char* ReadOn(const char* pos);

    // Zero bytes after the text, at least a word of them: a word may be read
    // wherever a byte of the text may, up to Readable().
    static constexpr size_t kWord = 8;
    const char* Readable() const { return buf_ + len_ + kWord; }

    char* Begin() const { return buf_; }
    char* End() const { return buf_ + len_; }  // followed by zero bytes
    char* Cut() const { return buf_ + cut_; }
    bool AtEnd() const { return eof_; }
    bool Holds(const char* p) const { return p >= buf_ && p <= buf_ + len_; }
    // The offset in the whole text of p, which the window holds.
    size_t Offset(const char* p) const { return base_ + static_cast<size_t>(p - buf_); }

    // Called with the bytes the window holds before they move or go.
    std::function<void(const char*, const char*)> beforeMove;

private:
    void Fill(size_t ahead);
    void Drop(size_t keep);
    void Scan();

    int fd_;
    std::string_view bytes_;  // what is left of them
    size_t chunk_;
    char* buf_ = nullptr;
    size_t cap_ = 0, len_ = 0;
    size_t base_ = 0;  // offset of buf_[0] in the whole text
    size_t cut_ = 0;   // in buf_
    bool eof_ = false;
    bool started_ = false;
    // The scan for cuts, in offsets of the whole text: how far it has come, and
    // where it stands there.
    size_t scanned_ = 0, cutAt_ = 0;
    bool inString_ = false, escaped_ = false;
};

}  // namespace qsxhost::json
