// The exporter's number forms, read back strictly: a number is accepted only
// in the characters printf would have printed for the value it reads as, so
// that a number edited into another form, or one that is not finite, is found.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "qsxhost/sources/qsx/QsxLines.h"

namespace qsxhost::script {

namespace {

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Eight digit values, one a byte, the first in the lowest byte, as a number.
uint32_t EightDigits(uint64_t d) {
    d = d * 10 + (d >> 8);
    return static_cast<uint32_t>(((d & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32)) +
                                  ((d >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32))) >>
                                 32);
}

// The six digits after the '.' at dot, as a number: read as one word (with
// the '.' and the digit before it, which is there) where bytes lie in the
// word's order.
bool SixDecimals(const char* dot, uint32_t* out) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t x;
        std::memcpy(&x, dot - 1, 8);
        // "00" and the six digits, the first the most significant.
        uint64_t d = (x & 0xFFFFFFFFFFFF0000ULL) | 0x3030ULL;
        constexpr uint64_t kTop = 0xF0F0F0F0F0F0F0F0ULL;
        if (((d & kTop) | (((d + 0x0606060606060606ULL) & kTop) >> 4)) != 0x3333333333333333ULL) return false;
        *out = EightDigits(d - 0x3030303030303030ULL);
        return true;
    } else {
        uint32_t fraction = 0;
        for (int i = 1; i <= 6; ++i) {
            if (!IsDigit(dot[i])) return false;
            fraction = fraction * 10 + static_cast<uint32_t>(dot[i] - '0');
        }
        *out = fraction;
        return true;
    }
}

// The fixed-form digits from..to as a float; false when they do not read as a finite one.
bool FixedFloat(const char* from, const char* to, float* out) {
    const auto r = std::from_chars(from, to, *out, std::chars_format::fixed);
    return r.ec == std::errc() && r.ptr == to && !std::isinf(*out);
}

}  // namespace

bool ReadFixed(const char*& p, const char* end, float* out) {
    // The shortest form is "  0.000000".
    if (end - p < 10 || p[0] != ' ') return false;
    const bool negative = p[1] == '-';
    if (!negative && p[1] != ' ') return false;
    const char* digits = p + 2;
    const char* q = digits;
    uint64_t whole = 0;
    while (q < end && IsDigit(*q)) {
        if (q - digits < 18) whole = whole * 10 + static_cast<uint64_t>(*q - '0');
        ++q;
    }
    const ptrdiff_t nDigits = q - digits;
    if (nDigits == 0 || (nDigits > 1 && *digits == '0')) return false;
    if (end - q < 7 || *q != '.') return false;
    uint32_t fraction = 0;
    if (!SixDecimals(q, &fraction)) return false;
    const char* after = q + 7;
    if (after < end && IsDigit(*after)) return false;
    if (nDigits > 9) {
        float f = 0.0f;
        if (!FixedFloat(digits, after, &f)) return false;
        if (out) *out = negative ? -f : f;
    } else if (out) {
        // Below 2^53 the quotient is the correctly rounded double of the text.
        const double d = static_cast<double>(whole * 1000000 + fraction) / 1e6;
        *out = static_cast<float>(negative ? -d : d);
    }
    p = after;
    return true;
}

bool ReadG4(const char*& p, const char* end, float* out) {
    if (p >= end || *p != ' ') return false;
    const char* q = p + 1;
    const char* text = q;
    while (text < end && *text == ' ') ++text;
    const char* textEnd = text;
    while (textEnd < end && *textEnd != ' ') ++textEnd;
    const ptrdiff_t len = textEnd - text;
    const ptrdiff_t pad = text - q;
    if (len == 0 || pad != (len < 4 ? 4 - len : 0)) return false;
    double d = 0.0;
    const auto r = std::from_chars(text, textEnd, d, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != textEnd || !std::isfinite(d)) return false;
    // The text must be what %g prints for the value it reads as.
    char again[32];
    const auto w = std::to_chars(again, again + sizeof again, d, std::chars_format::general, 6);
    if (w.ec != std::errc() || std::string_view(again, static_cast<size_t>(w.ptr - again)) !=
                                   std::string_view(text, static_cast<size_t>(len)))
        return false;
    const float f = static_cast<float>(d);
    if (std::isinf(f)) return false;
    *out = f;
    p = textEnd;
    return true;
}

bool ReadInt(const char*& p, const char* end, int32_t* out) {
    const char* q = p;
    const bool negative = q < end && *q == '-';
    if (negative) ++q;
    const char* digits = q;
    // Ten digits hold every int32_t; an eleventh is too many.
    int64_t v = 0;
    while (q < end && IsDigit(*q)) {
        if (q - digits == 10) return false;
        v = v * 10 + (*q - '0');
        ++q;
    }
    const ptrdiff_t n = q - digits;
    if (v > 2147483648LL) return false;
    if (n == 0 || (n > 1 && *digits == '0') || (negative && v == 0)) return false;
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    *out = static_cast<int32_t>(v);
    p = q;
    return true;
}

std::string WordAt(const char* p, const char* end) {
    while (p < end && *p == ' ') ++p;
    const char* q = p;
    while (q < end && *q != ' ' && q - p < 40) ++q;
    if (p == q) return "nothing";
    std::string word(1, '\'');
    word.append(p, q);
    word.push_back('\'');
    return word;
}

}  // namespace qsxhost::script
