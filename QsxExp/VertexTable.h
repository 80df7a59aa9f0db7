// Which texture vertices each mesh vertex is used with, and the output vertex
// numbers that follow from that. A slot keeps its first two texture vertices
// inline and chains any further ones through a shared pool, so a table costs
// a few words per vertex however many texture vertices a vertex carries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qsx {

struct VertexSlot {
    int32_t first = 0;  // output vertices of this mesh before this vertex's first one
    int32_t count = 0;  // distinct texture vertices used with this vertex
    int32_t texVerts[2] = {0, 0};
    int32_t more = -1;  // pool index of the third entry, or -1
};

// Entry of the overflow pool: one texture vertex and the next entry of its slot.
struct VertexSlotLink {
    int32_t texVert;
    int32_t next;
};

class VertexTable {
public:
    VertexTable() = default;
    VertexTable(const VertexTable&) = delete;
    VertexTable& operator=(const VertexTable&) = delete;
    ~VertexTable() { Free(); }

    // Allocates nV slots and nT used-flags, all cleared. False on lack of memory
    // (whatever was allocated is released again).
    bool Allocate(size_t nV, size_t nT);
    void Free();
    bool Empty() const { return slots_ == nullptr; }

    VertexSlot& Slot(size_t v) { return slots_[v]; }
    const VertexSlot& Slot(size_t v) const { return slots_[v]; }
    size_t SlotCount() const { return nV_; }

    // Position of t among slot v's entries, from the first, or -1. The two
    // inline entries are searched here, at the call; the chain out of line.
    int32_t Find(size_t v, int32_t t) const {
        const VertexSlot& s = slots_[v];
        if (s.count > 0 && s.texVerts[0] == t) return 0;
        if (s.count > 1 && s.texVerts[1] == t) return 1;
        return s.count > 2 ? FindInPool(s, t) : -1;
    }
    // Appends t to slot v; false on lack of memory. The inline entries are
    // filled here, at the call; the chain out of line.
    bool Append(size_t v, int32_t t) {
        VertexSlot& s = slots_[v];
        if (s.count >= 2) return AppendToPool(s, t);
        s.texVerts[s.count++] = t;
        return true;
    }
    // Entry k of slot v, k < count.
    int32_t Entry(size_t v, int32_t k) const {
        const VertexSlot& s = slots_[v];
        return k < 2 ? s.texVerts[k] : PoolEntry(s, k);
    }

    uint8_t* texVertUsed() { return used_; }
    size_t TexVertCount() const { return nT_; }
    void FreeTexVertUsed();

    // Fault injection for tests: this table's allocation number k (1-based,
    // counted from this call) fails; 0 disables. AllocationCount answers how
    // many allocations the table has made since.
    void FailAllocationAt(long k) {
        failAt_ = k;
        allocations_ = 0;
    }
    long AllocationCount() const { return allocations_; }

private:
    int32_t FindInPool(const VertexSlot& s, int32_t t) const;
    bool AppendToPool(VertexSlot& s, int32_t t);
    int32_t PoolEntry(const VertexSlot& s, int32_t k) const;
    // Every block of the table comes through here, so that any one of them can be made to fail.
    void* Realloc(void* old, size_t bytes);

    VertexSlot* slots_ = nullptr;
    size_t nV_ = 0;
    uint8_t* used_ = nullptr;
    size_t nT_ = 0;
    VertexSlotLink* pool_ = nullptr;
    int32_t poolSize_ = 0;
    int32_t poolCap_ = 0;
    long failAt_ = 0;
    long allocations_ = 0;
};

}  // namespace qsx
