#include "QsxExp/VertexTable.h"

#include <cstdlib>
#include <cstring>

namespace qsx {

void* VertexTable::Realloc(void* old, size_t bytes) {
    ++allocations_;
    if (failAt_ != 0 && allocations_ == failAt_) return nullptr;
    return std::realloc(old, bytes ? bytes : 1);
}

bool VertexTable::Allocate(size_t nV, size_t nT) {
    Free();
    if (nV > SIZE_MAX / sizeof(VertexSlot)) return false;
    slots_ = static_cast<VertexSlot*>(Realloc(nullptr, nV * sizeof(VertexSlot)));
    if (!slots_) return false;
    nV_ = nV;
    for (size_t i = 0; i < nV; ++i) slots_[i] = VertexSlot{};
    used_ = static_cast<uint8_t*>(Realloc(nullptr, nT));
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

int32_t VertexTable::FindInPool(const VertexSlot& s, int32_t t) const {
    int32_t k = 2;
    for (int32_t i = s.more; i >= 0; i = pool_[i].next, ++k)
        if (pool_[i].texVert == t) return k;
    return -1;
}

bool VertexTable::AppendToPool(VertexSlot& s, int32_t t) {
    if (poolSize_ == poolCap_) {
        if (poolCap_ > (INT32_MAX / 2)) return false;
        const int32_t cap = poolCap_ ? poolCap_ * 2 : 256;
        void* grown = Realloc(pool_, static_cast<size_t>(cap) * sizeof(VertexSlotLink));
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

int32_t VertexTable::PoolEntry(const VertexSlot& s, int32_t k) const {
    int32_t i = s.more;
    for (int32_t j = 2; j < k; ++j) i = pool_[i].next;
    return pool_[i].texVert;
}

}  // namespace qsx
