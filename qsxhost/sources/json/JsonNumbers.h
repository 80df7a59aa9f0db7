// Quick conversions for the numbers that fill mesh lists: short plain decimals
// and small indices, converted without the generality of std::from_chars. Each
// answers false for any text it does not take, which then goes the general way
// (to the same value).
#pragma once

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

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

inline bool IsDigit(char c) { return static_cast<unsigned>(c - '0') <= 9; }

// The run of digits at p taken into m as m = m * 10 + digit each, answering
// the byte after it. When bytes up to limit may be read (limit: null when
// none past the text's zero byte may), 8 are looked at at once: the length of
// a run costs no branch per digit, which is what short decimals of varying
// length cost most.
inline const char* DigitRun(const char* p, uint64_t& m, const char* limit) {
    static constexpr uint64_t kPow10[] = {1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000, 100'000'000};
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101;
        while (limit && limit - p >= 8) {
            uint64_t x;
            std::memcpy(&x, p, 8);
            // Byte values less '0', each 0 to 9 up to the first byte that is no
            // digit, which has its high bit set here or once 0x76 is added (the
            // bytes after it may take a borrow or a carry from it: unused).
            const uint64_t t = x - kOnes * '0';
            const uint64_t other = (t | (t + kOnes * 0x76)) & (kOnes * 0x80);
            const int len = other ? std::countr_zero(other) / 8 : 8;
            if (len == 0) return p;
            // The digits moved to the top bytes, zeros before them; pairs, then
            // fours, then all eight combined.
            uint64_t v = t << (64 - 8 * len);
            v = v * 10 + (v >> 8);
            v = (((v & 0x000000FF000000FF) * (100 + (1'000'000ULL << 32))) +
                 (((v >> 16) & 0x000000FF000000FF) * (1 + (10'000ULL << 32)))) >>
                32;
            m = m * kPow10[len] + (v & 0xFFFFFFFF);
            p += len;
            if (len < 8) return p;
        }
    }
    for (; IsDigit(*p); ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
    return p;
}

// Bytes that may follow a number inside a list.
inline bool EndsListNumber(char c) { return c == ',' || c == ']' || c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// A JSON number at p, followed by a byte that may follow it in a list, read as
// the general way reads one (QuickFloat, else std::from_chars) to the same
// value: answers the byte after it, or nullptr when the text is no such number
// or its value is not a float (left for the general way to refuse).
//
// Most of the rest are rounded once through double: a significand below 2^53
// and a power of ten up to 22 are exact doubles, so their product or quotient
// is the decimal rounded once to double; rounding that to float is the decimal
// rounded to float unless the double lies exactly halfway between two floats
// (the decimal may then lie off it either way): those go to std::from_chars.
inline const char* ScanFloat(const char* p, float& out, const char* limit = nullptr) {
    static constexpr float kPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* const start = p;
    const bool negative = *p == '-';
    p += negative;
    const char* const digits = p;
    uint64_t m = 0;
    if (*p == '0') {
        ++p;
    } else {
        p = DigitRun(p, m, limit);
        if (p == digits) return nullptr;
    }
    size_t n = static_cast<size_t>(p - digits), k = 0;
    if (*p == '.') {
        const char* const fraction = ++p;
        p = DigitRun(p, m, limit);
        k = static_cast<size_t>(p - fraction);
        if (k == 0) return nullptr;
        n += k;
    }
    int64_t exp = 0;
    const bool hasExp = *p == 'e' || *p == 'E';
    if (hasExp) {
        ++p;
        const bool expNegative = *p == '-';
        p += *p == '-' || *p == '+';
        const char* const expDigits = p;
        for (; IsDigit(*p); ++p) exp = exp < 100'000 ? exp * 10 + (*p - '0') : exp;
        if (p == expDigits) return nullptr;
        if (expNegative) exp = -exp;
    }
    if (!EndsListNumber(*p)) return nullptr;
    // Past 19 digits m may have wrapped.
    if (n <= 19) {
        if (!hasExp && k <= 10 && m <= (uint64_t{1} << 24)) {
            const float v = static_cast<float>(m) / kPow10f[k];
            out = negative ? -v : v;
            return p;
        }
        const int64_t power = exp - static_cast<int64_t>(k);
        if (m < (uint64_t{1} << 53) && power >= -22 && power <= 22) {
            const double d = power < 0 ? static_cast<double>(m) / kPow10[-power] : static_cast<double>(m) * kPow10[power];
            if ((std::bit_cast<uint64_t>(d) & 0x1FFF'FFFF) != 0x1000'0000) {
                const float v = static_cast<float>(d);
                out = negative ? -v : v;
                return p;
            }
        }
    }
    float v;
    if (std::from_chars(start, p, v).ec != std::errc()) return nullptr;
    out = v;
    return p;
}

// An index as QuickIndex takes one, in JSON's grammar, followed by a byte that
// may follow it in a list: answers the byte after it, or nullptr.
inline const char* ScanIndex(const char* p, uint64_t& out) {
    if (*p == '0') {
        out = 0;
        ++p;
    } else {
        const char* const digits = p;
        uint64_t v = 0;
        for (; IsDigit(*p); ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
        if (p == digits || p - digits > 10) return nullptr;
        out = v;
    }
    return EndsListNumber(*p) ? p : nullptr;
}

}  // namespace qsxhost::json
