// The command's operator new and delete: the C library's allocator, with the
// bytes the importing thread holds counted while an import's memory bound is
// up (qsxhost/sources/assimp/ImportMemory.h). Outside an import the cost is
// one thread-local test. Aligned forms are left to the library: they neither
// count nor are counted, so every block is given back as it was taken.
#include <malloc.h>

#include <cstdlib>
#include <new>

#include "qsxhost/sources/assimp/ImportMemory.h"

namespace {

using qsxhost::ImportMemoryAccount;
using qsxhost::tImportMemory;

void* Take(std::size_t n) {
    ImportMemoryAccount& a = tImportMemory;
    const bool counting = a.counting;
    // Refused before malloc: a huge request is never touched, let alone zeroed.
    if (counting && !qsxhost::ImportMemoryMayTake(a, n)) throw std::bad_alloc();
    void* p;
    while (!(p = std::malloc(n ? n : 1))) {
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
    if (counting) a.held += static_cast<int64_t>(malloc_usable_size(p));
    return p;
}

void* TakeOrNull(std::size_t n) noexcept {
    try {
        return Take(n);
    } catch (...) {
        return nullptr;
    }
}

void Give(void* p) noexcept {
    if (!p) return;
    ImportMemoryAccount& a = tImportMemory;
    if (a.counting) a.held -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return Take(n); }
void* operator new[](std::size_t n) { return Take(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return TakeOrNull(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return TakeOrNull(n); }
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, std::size_t) noexcept { Give(p); }
void operator delete[](void* p, std::size_t) noexcept { Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Give(p); }
