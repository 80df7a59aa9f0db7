// The JSON scene source's parts, shared by the reader that fills a scene from
// a document, the scene itself and its description: the source class and its
// nodes, as the document gives them.
#pragma once

#include <bit>
#include <cstddef>
#include <deque>
#include <memory>
#include <new>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneParts.h"
#include "qsxhost/sources/SceneSource.h"
#include "qsxhost/sources/TreeNode.h"

namespace qsxhost::json {

struct TransformKey {
    host::TimeValue time = 0;
    host::Matrix3 tm;
};

class JsonNode final : public TreeNode<JsonNode> {
public:
    host::Matrix3 tm;
    std::vector<TransformKey> keys;
    host::Point3 offsetPos;
    host::Quat offsetRot;

    host::Matrix3 GetNodeTM(host::TimeValue t) const override;  // JsonScene.cpp
    host::Point3 GetObjOffsetPos() const override { return offsetPos; }
    host::Quat GetObjOffsetRot() const override { return offsetRot; }
};

// Elements that never move once made, in blocks that grow with the count: a
// scene of many small nodes makes one allocation per block rather than the
// one per two or three nodes a deque of elements this large makes.
template <class T>
class Pile {
public:
    Pile() = default;
    Pile(const Pile&) = delete;
    Pile& operator=(const Pile&) = delete;
    ~Pile() {
        for (size_t i = size_; i-- > 0;) Slot(i)->~T();
    }

    T& emplace_back() {
        if (size_ == capacity_) Grow();
        T* slot = new (Slot(size_)) T();
        ++size_;
        return *slot;
    }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return *Slot(i); }
    const T& operator[](size_t i) const { return *Slot(i); }

    template <class P, class Ref>
    class Iter {
    public:
        Iter(P* pile, size_t i) : pile_(pile), i_(i) {}
        Ref operator*() const { return (*pile_)[i_]; }
        Iter& operator++() {
            ++i_;
            return *this;
        }
        bool operator!=(const Iter& o) const { return i_ != o.i_; }

    private:
        P* pile_;
        size_t i_;
    };
    Iter<Pile, T&> begin() { return {this, 0}; }
    Iter<Pile, T&> end() { return {this, size_}; }
    Iter<const Pile, const T&> begin() const { return {this, 0}; }
    Iter<const Pile, const T&> end() const { return {this, size_}; }

private:
    // Block b holds kFirst << b elements, from element (kFirst << b) - kFirst on.
    static constexpr size_t kFirst = 16;
    static size_t BlockOf(size_t i) { return static_cast<size_t>(std::bit_width(i / kFirst + 1)) - 1; }
    T* Slot(size_t i) const {
        const size_t b = BlockOf(i);
        return std::launder(reinterpret_cast<T*>(blocks_[b].get() + (i - ((kFirst << b) - kFirst))));
    }
    void Grow() {
        const size_t n = kFirst << blocks_.size();
        blocks_.emplace_back(new Storage[n]);
        capacity_ += n;
    }
    struct Storage {
        alignas(T) unsigned char bytes[sizeof(T)];
    };
    std::vector<std::unique_ptr<Storage[]>> blocks_;
    size_t size_ = 0, capacity_ = 0;
};

class JsonScene final : public SceneSource {
public:
    JsonScene() { root.root = true; }

    host::INode* GetRootNode() override { return &root; }
    host::Interval GetAnimRange() const override { return range; }
    int GetTicksPerFrame() const override { return ticksPerFrame; }
    SceneStats Stats() const override { return stats; }
    SceneInfo Describe() const override;  // JsonInfo.cpp

    JsonNode root;
    Pile<JsonNode> nodes;
    Pile<SceneObject> objects;
    std::deque<SceneMtl> mtls;
    std::deque<SceneTexmap> maps;
    host::Interval range;
    int ticksPerFrame = 160;
    SceneStats stats;
};

}  // namespace qsxhost::json
