#include "QsxExp/VertexTable.h"

#include <cstdlib>
#include <cstring>

namespace qsx {
namespace {

long gFailAt = 0;
long gAllocations = 0;

// Every block of a vertex table comes through here, so a test can make any
// one of them fail.
void* TableRealloc(void* old, size_t bytes) {
    ++gAllocations;
    if (gFailAt != 0 && gAllocations == gFailAt) return nullptr;
    return std::realloc(old, bytes ? bytes : 1);
}

}  // namespace

void FailTableAllocationAt(long k) {
    gFailAt = k;
    gAllocations = 0;
}

long TableAllocationCount() { return gAllocations; }

bool VertexTable::Allocate(size_t nV, size_t nT) {
    Free();
    if (nV > SIZE_MAX / sizeof(VertexSlot)) return false;
    slots_ = static_cast<VertexSlot*>(TableRealloc(nullptr, nV * sizeof(VertexSlot)));
    if (!slots_) return false;
    nV_ = nV;
    for (size_t i = 0; i < nV; ++i) slots_[i] = VertexSlot{};
    used_ = static_cast<uint8_t*>(TableRealloc(nullptr, nT));
    if (!used_) {
        Free();
        return false;
    }
    std::memset(used_, 0, nT);
    nT_ = nT;
    return true;
}

void VertexTable::FreeTexVertUsed() {
    std::free(used_);
    used_ = nullptr;
    nT_ = 0;
}

void VertexTable::Free() {
    std::free(slots_);
    slots_ = nullptr;
    nV_ = 0;
    FreeTexVertUsed();
    std::free(pool_);
    pool_ = nullptr;
    poolSize_ = poolCap_ = 0;
}

int32_t VertexTable::Find(size_t v, int32_t t) const {
    const VertexSlot& s = slots_[v];
    const int32_t inlineCount = s.count < 2 ? s.count : 2;
    for (int32_t k = 0; k < inlineCount; ++k)
        if (s.texVerts[k] == t) return k;
    int32_t k = 2;
    for (int32_t i = s.more; i >= 0; i = pool_[i].next, ++k)
        if (pool_[i].texVert == t) return k;
    return -1;
}

bool VertexTable::Append(size_t v, int32_t t) {
    VertexSlot& s = slots_[v];
    if (s.count < 2) {
        s.texVerts[s.count++] = t;
        return true;
    }
    if (poolSize_ == poolCap_) {
        if (poolCap_ > (INT32_MAX / 2)) return false;
        const int32_t cap = poolCap_ ? poolCap_ * 2 : 256;
        void* grown = TableRealloc(pool_, static_cast<size_t>(cap) * sizeof(VertexSlotLink));
        if (!grown) return false;
        pool_ = static_cast<VertexSlotLink*>(grown);
        poolCap_ = cap;
    }
    const int32_t idx = poolSize_++;
    pool_[idx] = {t, -1};
    if (s.more < 0) {
        s.more = idx;
    } else {
        int32_t i = s.more;
        while (pool_[i].next >= 0) i = pool_[i].next;
        pool_[i].next = idx;
    }
    ++s.count;
    return true;
}

int32_t VertexTable::Entry(size_t v, int32_t k) const {
    const VertexSlot& s = slots_[v];
    if (k < 2) return s.texVerts[k];
    int32_t i = s.more;
    for (int32_t j = 2; j < k; ++j) i = pool_[i].next;
    return pool_[i].texVert;
}

}  // namespace qsx
