// How much memory a 3D file's import may hold. The command's allocator counts
// what the importing thread holds while a bound is up and refuses, before any
// of it is touched, a request that would pass the bound: a count in a damaged
// header that no file of its size could fill then fails at once, instead of
// after the machine's memory has been filled. A program without that
// allocator (the reader's own tests) counts nothing and is never refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qsxhost {

// The importing thread's account, kept by the allocator.
struct ImportMemoryAccount {
    bool counting = false;
    bool exceeded = false;
    // Taken minus given back while counting; below 0 when memory taken
    // before the bound went up is given back.
    int64_t held = 0;
    int64_t limit = 0;
};
extern constinit thread_local ImportMemoryAccount tImportMemory;

// For the allocator: whether `bytes` more may be taken; when not, the bound
// is marked as exceeded.
inline bool ImportMemoryMayTake(ImportMemoryAccount& a, size_t bytes) {
    if (bytes <= static_cast<uint64_t>(INT64_MAX) && static_cast<int64_t>(bytes) <= a.limit - a.held) return true;
    a.exceeded = true;
    return false;
}

// The bound of one import on the calling thread; one at a time.
class ImportMemoryBound {
public:
    ImportMemoryBound();
    ~ImportMemoryBound();
    ImportMemoryBound(const ImportMemoryBound&) = delete;
    ImportMemoryBound& operator=(const ImportMemoryBound&) = delete;

    // The import reads a file (or bytes) of this size: the bound grows with it.
    void Reads(uint64_t bytes);
    bool Exceeded() const { return tImportMemory.exceeded; }
    // Why the file is refused, once the bound was exceeded.
    std::string Refusal() const;

private:
    uint64_t read_ = 0;
    uint64_t most_;  // half of the machine's memory
};

}  // namespace qsxhost
