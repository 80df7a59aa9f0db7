// Storage for the preview's geometry, which may run to many millions of values.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace qsxhost::preview {

// Values kept in blocks of a fixed size: growing never copies what is held
// nor asks for twice the room, which for millions of vertices and triangles
// is the difference between holding the geometry once and up to three times.
template <class T>
class Blocks {
public:
    void push_back(const T& v) {
        if (size_ == blocks_.size() * kBlock) blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlock));
        blocks_[size_ / kBlock][size_ % kBlock] = v;
        ++size_;
    }
    // Drops the values from n on, and the blocks left empty.
    void truncate(size_t n) {
        if (n >= size_) return;
        size_ = n;
        blocks_.resize((n + kBlock - 1) / kBlock);
    }
    const T& operator[](size_t i) const { return blocks_[i / kBlock][i % kBlock]; }
    size_t size() const { return size_; }

private:
    static constexpr size_t kBlock = size_t{1} << 16;
    std::vector<std::unique_ptr<T[]>> blocks_;
    size_t size_ = 0;
};

}  // namespace qsxhost::preview
