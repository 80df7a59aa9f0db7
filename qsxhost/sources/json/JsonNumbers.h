// Quick conversions for the numbers that fill mesh lists: short plain decimals
// and small indices, converted without the generality of std::from_chars. Each
// answers false for any text it does not take, which then goes the general way
// (to the same value).
#pragma once

#include <cstdint>
#include <string_view>

namespace qsxhost::json {

// An unsigned integer of at most 10 digits (JSON's grammar: no sign, no leading zeros).
inline bool QuickIndex(std::string_view t, uint64_t& out) {
    if (t.empty() || t.size() > 10) return false;
    uint64_t v = 0;
    for (char c : t) {
        const unsigned d = static_cast<unsigned>(c - '0');
        if (d > 9) return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

// A decimal without an exponent whose digits, as an integer m, fit a float's
// significand exactly (m <= 2^24), with at most 10 of them after the point: m
// and 10^k are then exact floats, and their quotient is the decimal rounded
// once, to nearest, to float.
inline bool QuickFloat(std::string_view t, float& out) {
    static constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const char* p = t.data();
    const char* end = p + t.size();
    const bool negative = p < end && *p == '-';
    p += negative;
    const char* digits = p;
    uint64_t m = 0;
    for (; p < end && static_cast<unsigned>(*p - '0') <= 9; ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
    size_t n = static_cast<size_t>(p - digits), k = 0;
    if (p < end && *p == '.') {
        const char* fraction = ++p;
        for (; p < end && static_cast<unsigned>(*p - '0') <= 9; ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
        k = static_cast<size_t>(p - fraction);
        n += k;
    }
    if (p != end || n == 0 || n > 19 || k > 10 || m > (uint64_t{1} << 24)) return false;
    float v = static_cast<float>(m);
    if (k) v /= kPow10[k];
    out = negative ? -v : v;
    return true;
}

}  // namespace qsxhost::json
