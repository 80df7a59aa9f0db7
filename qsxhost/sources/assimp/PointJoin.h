// The join of a node's vertices on exact values: each distinct point once,
// numbered in the order first seen. An open-addressing table sized for the
// most points the caller will add keeps the join linear in the vertices.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/Geometry.h"

namespace qsxhost {

class PointJoin {
public:
    // Points go to *points (appended); at most `most` of them are added.
    PointJoin(std::vector<host::Point3>* points, size_t most) : points_(*points) {
        size_t cap = 16;
        int bits = 4;
        while (cap < most + most / 2) {
            cap <<= 1;
            ++bits;
        }
        shift_ = 64 - bits;
        slots_.assign(cap, Slot{0, kEmpty});
        points_.reserve(points_.size() + most);
    }

    // The number of the point (x, y, z); -0 is the same value as 0.
    uint32_t Add(float x, float y, float z) {
        // Adding +0 turns -0 into +0 and leaves every other value as it is.
        x += 0.0f;
        y += 0.0f;
        z += 0.0f;
        uint32_t b[3];
        std::memcpy(&b[0], &x, 4);
        std::memcpy(&b[1], &y, 4);
        std::memcpy(&b[2], &z, 4);
        uint64_t h = (uint64_t{b[0]} << 32 | b[1]) * 0x9E3779B97F4A7C15ull;
        h = (h ^ b[2]) * 0xC2B2AE3D27D4EB4Full;
        const uint32_t tag = static_cast<uint32_t>(h);
        const size_t mask = slots_.size() - 1;
        for (size_t i = static_cast<size_t>(h >> shift_);; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.index == kEmpty) {
                s = {tag, static_cast<uint32_t>(points_.size())};
                points_.push_back({x, y, z});
                return s.index;
            }
            if (s.tag == tag) {
                const host::Point3& p = points_[s.index];
                if (std::memcmp(&p.x, &b[0], 4) == 0 && std::memcmp(&p.y, &b[1], 4) == 0 &&
                    std::memcmp(&p.z, &b[2], 4) == 0)
                    return s.index;
            }
        }
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        uint32_t tag;
        uint32_t index;
    };
    std::vector<host::Point3>& points_;
    std::vector<Slot> slots_;
    int shift_;
};

}  // namespace qsxhost
