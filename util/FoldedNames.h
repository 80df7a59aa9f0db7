// Names compared without regard to letter case, found in constant time. A
// settings key may hold millions of names; a node-based hash map of folded
// copies spent most of a run in allocation and cache misses, so the set keeps
// views of the names (the caller keeps them alive and unmoved) and a table of
// eight bytes a slot.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "Text.h"

namespace qsx::util {

class FoldedNameSet {
public:
    explicit FoldedNameSet(size_t expected = 0) {
        names_.reserve(expected);
        Grow(expected);
    }

    // Names are numbered from 0 in the order they first came. Gives the
    // number of the name of this spelling (any letter case), and whether it
    // is new.
    std::pair<uint32_t, bool> Insert(std::string_view name) { return Insert(name, Hash(name)); }
    // The same, with the name's Hash already known.
    std::pair<uint32_t, bool> Insert(std::string_view name, uint64_t h) {
        if ((names_.size() + 1) * 2 > slots_.size()) Grow(slots_.size());
        const auto tag = uint32_t(h >> 32);
        for (size_t i = h & mask_;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.number == 0) {
                names_.push_back(name);
                s = {tag, uint32_t(names_.size())};
                return {s.number - 1, true};
            }
            if (s.tag == tag && EqualsNoCase(names_[s.number - 1], name)) return {s.number - 1, false};
        }
    }
    // The number of the name of this spelling, if the set holds one.
    std::optional<uint32_t> Find(std::string_view name) const {
        const uint64_t h = Hash(name);
        const auto tag = uint32_t(h >> 32);
        for (size_t i = h & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.number == 0) return std::nullopt;
            if (s.tag == tag && EqualsNoCase(names_[s.number - 1], name)) return s.number - 1;
        }
    }
    size_t size() const { return names_.size(); }

    static uint64_t Hash(std::string_view name) {
        uint64_t h = 14695981039346656037ull;  // FNV-1a over the folded bytes
        for (char c : name) h = (h ^ uint8_t(AsciiLower(c))) * 1099511628211ull;
        return h ^ (h >> 29);
    }
    // Asks for the slot that an Insert of a name of this Hash starts at.
    // Past the caches, each Insert waits on memory for its slot; asked some
    // names ahead, the waits overlap and the time per name stays as small
    // as a set that fits in the cache.
    void Prefetch(uint64_t h) const {
#if defined(__GNUC__)
        __builtin_prefetch(slots_.data() + (h & mask_), 1);
#else
        (void)h;
#endif
    }

private:
    struct Slot {
        uint32_t tag = 0;     // the hash's high half, to pass most other names by
        uint32_t number = 0;  // the name's number + 1; 0: free
    };

    void Grow(size_t atLeast) {
        size_t n = 16;
        while (n < atLeast * 2) n *= 2;
        slots_.assign(n, Slot{});
        mask_ = n - 1;
        for (size_t k = 0; k < names_.size(); ++k) {
            const uint64_t h = Hash(names_[k]);
            size_t i = h & mask_;
            while (slots_[i].number != 0) i = (i + 1) & mask_;
            slots_[i] = {uint32_t(h >> 32), uint32_t(k + 1)};
        }
    }

    std::vector<std::string_view> names_;
    std::vector<Slot> slots_;
    size_t mask_ = 0;
};

}  // namespace qsx::util
