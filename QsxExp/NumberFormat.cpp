#include "QsxExp/NumberFormat.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace qsx {
namespace {

#ifdef __SIZEOF_INT128__
using U128 = unsigned __int128;
#else
// Where the compiler has no 128-bit integer (32-bit targets): the operations
// the exact rounding below needs, on two 64-bit halves. Products are only
// ever taken of values below 2^64.
struct U128 {
    uint64_t hi = 0, lo = 0;
    constexpr U128() = default;
    constexpr U128(uint64_t v) : lo(v) {}
    explicit constexpr operator uint32_t() const { return static_cast<uint32_t>(lo); }

    friend constexpr U128 operator*(U128 a, U128 b) {
        const uint64_t a0 = a.lo & 0xFFFFFFFFu, a1 = a.lo >> 32, b0 = b.lo & 0xFFFFFFFFu, b1 = b.lo >> 32;
        const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
        const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
        U128 r;
        r.lo = (p00 & 0xFFFFFFFFu) | (mid << 32);
        r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
        return r;
    }
    friend constexpr U128 operator>>(U128 a, int s) {
        if (s <= 0) return a;
        if (s >= 128) return U128();
        if (s >= 64) return U128(a.hi >> (s - 64));
        U128 r;
        r.lo = (a.lo >> s) | (a.hi << (64 - s));
        r.hi = a.hi >> s;
        return r;
    }
    friend constexpr U128 operator<<(U128 a, int s) {
        if (s <= 0) return a;
        if (s >= 128) return U128();
        U128 r;
        if (s >= 64) {
            r.hi = a.lo << (s - 64);
            return r;
        }
        r.hi = (a.hi << s) | (a.lo >> (64 - s));
        r.lo = a.lo << s;
        return r;
    }
    friend constexpr U128 operator-(U128 a, U128 b) {
        U128 r;
        r.lo = a.lo - b.lo;
        r.hi = a.hi - b.hi - (a.lo < b.lo ? 1 : 0);
        return r;
    }
    friend constexpr bool operator==(U128 a, U128 b) { return a.hi == b.hi && a.lo == b.lo; }
    friend constexpr bool operator>(U128 a, U128 b) { return a.hi != b.hi ? a.hi > b.hi : a.lo > b.lo; }
    friend constexpr bool operator>=(U128 a, U128 b) { return !(b > a); }
};
#endif

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint64_t kPow10[20] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull,
                                 100000000000000000ull,
                                 1000000000000000000ull,
                                 10000000000000000000ull};

int CountDigits(uint64_t v) {
    // 1233/4096 ~ log10(2): a guess that is exact or one too small, fixed by one comparison. Setting the low
    // bit gives 0 its one digit and moves no other value across a power of ten.
    const uint64_t w = v | 1;
    const int t = (std::bit_width(w) * 1233) >> 12;
    return t + (w >= kPow10[t] ? 1 : 0);
}

// "0000" to "9999", four chars each.
constexpr std::array<char, 40000> kDigitQuads = [] {
    std::array<char, 40000> t{};
    for (int i = 0; i < 10000; ++i) {
        t[static_cast<size_t>(4 * i)] = static_cast<char>('0' + i / 1000);
        t[static_cast<size_t>(4 * i + 1)] = static_cast<char>('0' + i / 100 % 10);
        t[static_cast<size_t>(4 * i + 2)] = static_cast<char>('0' + i / 10 % 10);
        t[static_cast<size_t>(4 * i + 3)] = static_cast<char>('0' + i % 10);
    }
    return t;
}();

void PutPair(char* p, uint64_t twoDigits) { std::memcpy(p, kDigitPairs + 2 * twoDigits, 2); }

// Where the digits of a number can be made eight at a time in one register
// and stored with one move, without a table or a loop.
constexpr bool kWideDigits = std::endian::native == std::endian::little;

// The eight decimal digits of v < 10^8, leading zeros kept, as the bytes of
// the result in memory order (first digit in the lowest byte), each still a
// number 0..9. Each step splits every lane into its high and low half by a
// multiply that divides exactly in that range (by 10^4, 100, 10).
inline uint64_t DigitBytes8(uint32_t v) {
    const uint64_t high4 = v / 10000;
    uint64_t x = high4 | (static_cast<uint64_t>(v - high4 * 10000) << 32);
    uint64_t q = ((x * 10486) >> 20) & 0x0000007F0000007Full;
    x = q | ((x - q * 100) << 16);
    q = ((x * 103) >> 10) & 0x000F000F000F000Full;
    return q | ((x - q * 10) << 8);
}
constexpr uint64_t kAsciiZeros = 0x3030303030303030ull;

// The digits of v < 10^8 without leading zeros; stores 8 bytes at out, so
// out needs room for 8 whatever v is. Answers the end of the digits.
char* WriteUpTo8Digits(char* out, uint32_t v) {
    const int n = CountDigits(v);
    const uint64_t text = (DigitBytes8(v) + kAsciiZeros) >> (8 * (8 - n));
    std::memcpy(out, &text, 8);
    return out + n;
}

char* WriteUnsigned(char* out, uint64_t v) {
    if (kWideDigits && v < 100000000) return WriteUpTo8Digits(out, static_cast<uint32_t>(v));
    char* const end = out + CountDigits(v);
    char* p = end;
    while (v >= 100) {
        p -= 2;
        PutPair(p, v % 100);
        v /= 100;
    }
    if (v >= 10) {
        PutPair(p - 2, v);
    } else {
        p[-1] = static_cast<char>('0' + v);
    }
    return end;
}

// Exactly six digits, leading zeros kept; v < 10^6. Stores 8 bytes where the
// digits are made eight at a time, so out needs room for 8.
char* WriteSixDigits(char* out, uint32_t v) {
    if constexpr (kWideDigits) {
        const uint64_t text = (DigitBytes8(v) + kAsciiZeros) >> 16;
        std::memcpy(out, &text, 8);
        return out + 6;
    }
    PutPair(out, v / 10000);
    PutPair(out + 2, v / 100 % 100);
    PutPair(out + 4, v % 100);
    return out + 6;
}

// glibc spells the non-finite values in lower case and shows the sign bit of a NaN too; both formats pad
// them to the same four columns (the blank flag of "% 4.6f" and the width of "%4g" agree here).
char* AppendNonFinite(char* out, bool negative, bool isNan) {
    out[0] = negative ? '-' : ' ';
    std::memcpy(out + 1, isNan ? "nan" : "inf", 3);
    return out + 4;
}

struct Decomposed {
    bool negative;
    bool finite;
    bool isNan;
    uint64_t mantissa;  // value = mantissa * 2^exponent exactly (for finite values)
    int exponent;
};

Decomposed Decompose(double value) {
    const auto bits = std::bit_cast<uint64_t>(value);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    Decomposed d{};
    d.negative = (bits >> 63) != 0;
    d.finite = biased != 0x7ff;
    d.isNan = !d.finite && fraction != 0;
    if (biased == 0) {
        d.mantissa = fraction;
        d.exponent = -1074;
    } else {
        d.mantissa = fraction | (uint64_t{1} << 52);
        d.exponent = biased - 1075;
    }
    return d;
}

// The six significant digits of mantissa * 2^exponent (in [1e-4, 1e6)), rounded to nearest with ties to
// even like glibc, for the decimal exponent *decimalExp or, when that guess is one too small, the next one
// (which is then stored). U holds mantissa * 10^(5 - X) for every X of the range.
template <typename U>
uint32_t SixSignificant(uint64_t mantissa, int exponent, int* decimalExp) {
    const int shift = exponent < 0 ? -exponent : 0;  // <= 66 here since value >= 1e-4
    const uint64_t integerMantissa = exponent < 0 ? mantissa : mantissa << exponent;  // < 1e6 if shifted
    U scaled = static_cast<U>(integerMantissa) * kPow10[5 - *decimalExp];
    if ((scaled >> shift) >= 1000000) {
        ++*decimalExp;
        scaled = static_cast<U>(integerMantissa) * kPow10[5 - *decimalExp];
    }
    auto digits = static_cast<uint32_t>(scaled >> shift);
    if (shift > 0) {
        const U remainder = scaled - (static_cast<U>(digits) << shift);
        const U half = U{1} << (shift - 1);
        if (remainder > half || (remainder == half && (digits & 1) != 0)) ++digits;
    }
    return digits;
}

// "%4g" of a value in [1e-4, 1e6) from its six significant digits (10^5 <= digits < 10^6) and decimal
// exponent -4..5: positional, the zeros that end the digits dropped, right-aligned in 4 columns. Stores
// whole words; at most 16 chars from out.
char* PutSixSignificant(char* out, uint32_t digits, int decimalExp, bool negative) {
    const uint64_t six = DigitBytes8(digits) >> 16;                  // first digit in the lowest byte
    const int significant = 8 - std::countl_zero(six) / 8;          // the first digit is not 0
    const uint64_t text = six + (kAsciiZeros >> 16);
    int len = negative ? 1 : 0;
    const int intDigits = decimalExp + 1;
    const int fraction = significant - intDigits;
    if (decimalExp >= 0) {
        len += intDigits + (fraction > 0 ? 1 + fraction : 0);
    } else {
        len += 2 - intDigits + significant;  // "0." and -X - 1 zeros before the digits
    }
    std::memset(out, ' ', 4);
    char* p = out + (len < 4 ? 4 - len : 0);
    char* const end = p + len;
    if (negative) *p++ = '-';
    if (decimalExp >= 0) {
        std::memcpy(p, &text, 8);
        if (fraction > 0) {
            p[intDigits] = '.';
            const uint64_t rest = text >> (8 * intDigits);
            std::memcpy(p + intDigits + 1, &rest, 8);
        }
    } else {
        std::memcpy(p, "0.000", 5);
        std::memcpy(p + 1 - decimalExp, &text, 8);
    }
    return end;
}

}  // namespace

namespace detail {

char* AppendFixed6ToChars(char* out, double value) {
    if (!std::isfinite(value)) return AppendNonFinite(out, std::signbit(value), std::isnan(value));
    if (!std::signbit(value)) *out++ = ' ';  // to_chars writes the '-' itself, including for -0.0
    // Cannot fail: kMaxFixed6 covers the 309 integer digits of DBL_MAX plus sign, point and decimals.
    return std::to_chars(out, out + (kMaxFixed6 - 1), value, std::chars_format::fixed, 6).ptr;
}

char* AppendG4ToChars(char* out, double value) {
    if (!std::isfinite(value)) return AppendNonFinite(out, std::signbit(value), std::isnan(value));
    char buf[kMaxG4];
    // %.6g of a double is at most 13 chars ("-1.23457e-308").
    const char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6).ptr;
    const auto len = static_cast<int>(end - buf);
    for (int i = len; i < 4; ++i) *out++ = ' ';
    std::memcpy(out, buf, static_cast<size_t>(len));
    return out + len;
}

}  // namespace detail

namespace {

#if defined(__GNUC__)
#define QSX_INLINE inline __attribute__((always_inline))
#define QSX_NOINLINE __attribute__((noinline))
#else
#define QSX_INLINE inline
#define QSX_NOINLINE
#endif

QSX_NOINLINE char* AppendFixed6General(char* out, double value);

// Nearly every number of a script: zero, or a float widened to double, below 1000 in magnitude and not
// tiny. Its 24 significant bits (the low 29 of the fraction are zero) times 10^6 stay below 2^44, so
// value * 10^6 = m * 10^6 / 2^floatShift rounds in 64 bits alone, to nearest and ties to even as glibc
// rounds the exact value. Answers that rounded |value| * 10^6 in *n, below 10^9; false for every other value.
QSX_INLINE bool SmallMicros(double value, uint64_t* n) {
    const auto bits = std::bit_cast<uint64_t>(value);
    if ((bits << 1) == 0) {  // either zero: frequent in transforms and texture coordinates
        *n = 0;
        return kWideDigits;
    }
    const int floatShift = 1046 - static_cast<int>((bits >> 52) & 0x7ff);
    if (!kWideDigits || (bits & ((uint64_t{1} << 29) - 1)) != 0 || static_cast<unsigned>(floatShift - 1) >= 63u)
        return false;
    const uint64_t m = ((bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52)) >> 29;
    const uint64_t scaled = m * 1000000u;
    // Adding just under a half, and the last kept bit on top, rounds up above the half and at the half
    // to an even result.
    const uint64_t justUnderHalf = (uint64_t{1} << (floatShift - 1)) - 1;
    *n = (scaled + justUnderHalf + ((scaled >> floatShift) & 1)) >> floatShift;
    return *n < 1000000000;
}

// The text of a SmallMicros value: the sign column, up to three whole digits, the point and six decimals.
// digits8 holds the last eight digits of n as text (the ninth is made here). The digit counts of
// neighbouring numbers follow no pattern, so they are taken from flags rather than branches: 2 whole
// digits within the word from 10^7 up (the ninth, when there is one, goes before it), else 1.
QSX_INLINE char* PutMicros(char* out, bool negative, uint64_t n, uint64_t digits8) {
    *out++ = negative ? '-' : ' ';
    const uint64_t twoInWord = (uint64_t{9999999} - n) >> 63;
    *out = static_cast<char>('0' + n / 100000000);
    out += (uint64_t{99999999} - n) >> 63;
    const int lead = 1 + static_cast<int>(twoInWord);
    const uint64_t text = digits8 >> (8 - 8 * twoInWord);
    std::memcpy(out, &text, 8);
    out[lead] = '.';
    const uint64_t fraction = text >> (8 * lead);
    std::memcpy(out + lead + 1, &fraction, 8);
    return out + lead + 7;
}

uint64_t Last8Digits(uint64_t n) { return DigitBytes8(static_cast<uint32_t>(n % 100000000)) + kAsciiZeros; }

// AppendFixed6 made where it is called: every number of a run then takes its own registers.
QSX_INLINE char* Fixed6(char* out, double value) {
    uint64_t n;
    if (SmallMicros(value, &n)) return PutMicros(out, std::signbit(value), n, Last8Digits(n));
    return AppendFixed6General(out, value);
}

#if defined(__SSE2__) || defined(_M_X64)
#define QSX_PAIRED_DIGITS 1
// The last eight digits of two numbers as text, the first's in the low half: both numbers go through the
// same steps of splitting a number into halves (by 10^4, 100, 10) side by side in one register. The
// numbers are below 2^32, in the low 32 bits of the two 64-bit lanes: x / 10^4 = x * 3518437209 >> 45
// for every such x.
inline __m128i Last8DigitsPair(__m128i n) {
    const __m128i magic = _mm_set1_epi32(static_cast<int>(3518437209u)), tenThousand = _mm_set1_epi32(10000);
    const __m128i high = _mm_srli_epi64(_mm_mul_epu32(n, magic), 45);
    const __m128i low = _mm_sub_epi32(n, _mm_mul_epu32(high, tenThousand));
    const __m128i top = _mm_srli_epi64(_mm_mul_epu32(high, magic), 45);
    const __m128i middle = _mm_sub_epi32(high, _mm_mul_epu32(top, tenThousand));
    // Four numbers below 10^4, one in the low 16 bits of each 32-bit lane, in the order of the text.
    const __m128i v = _mm_or_si128(middle, _mm_slli_epi64(low, 32));
    // x / 100 = x * 5243 >> 19 for x < 10^4; then x / 10 = x * 6554 >> 16 for x < 100.
    const __m128i hundreds = _mm_srli_epi16(_mm_mulhi_epu16(v, _mm_set1_epi16(5243)), 3);
    const __m128i pairs =
        _mm_or_si128(hundreds, _mm_slli_epi32(_mm_sub_epi16(v, _mm_mullo_epi16(hundreds, _mm_set1_epi16(100))), 16));
    const __m128i tens = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
    const __m128i ones = _mm_sub_epi16(pairs, _mm_mullo_epi16(tens, _mm_set1_epi16(10)));
    return _mm_add_epi8(_mm_or_si128(tens, _mm_slli_epi16(ones, 8)), _mm_set1_epi8('0'));
}

// SmallMicros of two floats side by side, in double lanes. A float's 24 bits times 10^6 (an odd part of 14
// bits) fit a double's 53, so |v| * 10^6 is exact there; truncating it and comparing the exact remainder
// with a half rounds to nearest, ties to even, whatever rounding mode the caller has set. False unless
// both results are below 10^9 (a NaN or an infinity fails the comparison too). *lanes holds them as
// Last8DigitsPair takes them.
inline bool SmallMicrosPair(float v0, float v1, uint64_t* a, uint64_t* b, __m128i* lanes) {
    const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), _mm_cvtps_pd(_mm_setr_ps(v0, v1, 0.0f, 0.0f)));
    const __m128d x = _mm_mul_pd(magnitude, _mm_set1_pd(1e6));
    if (_mm_movemask_pd(_mm_cmplt_pd(x, _mm_set1_pd(999999999.5))) != 3) return false;
    const __m128i whole = _mm_cvttpd_epi32(x);
    const __m128d rest = _mm_sub_pd(x, _mm_cvtepi32_pd(whole));
    const __m128d half = _mm_set1_pd(0.5);
    // The double lanes' masks moved to the two low 32-bit lanes, beside the integers they round.
    const __m128i above = _mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpgt_pd(rest, half)), _MM_SHUFFLE(3, 3, 2, 0));
    const __m128i atHalf = _mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpeq_pd(rest, half)), _MM_SHUFFLE(3, 3, 2, 0));
    const __m128i odd = _mm_srai_epi32(_mm_slli_epi32(whole, 31), 31);
    const __m128i n = _mm_sub_epi32(whole, _mm_or_si128(above, _mm_and_si128(atHalf, odd)));
    *a = static_cast<uint32_t>(_mm_cvtsi128_si32(n));
    *b = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(n, 4)));
    *lanes = _mm_unpacklo_epi32(n, _mm_setzero_si128());
    return true;
}
#endif

}  // namespace

char* AppendFixed6(char* out, double value) { return Fixed6(out, value); }

char* AppendFixed6List(char* out, const float* values, size_t count) {
    size_t i = 0;
#ifdef QSX_PAIRED_DIGITS
    // Two numbers at a time where both take the short route: their digits are made together.
    for (; i + 2 <= count; i += 2) {
        uint64_t a, b;
        __m128i lanes;
        if (SmallMicrosPair(values[i], values[i + 1], &a, &b, &lanes)) {
            alignas(16) uint64_t digits[2];
            _mm_store_si128(reinterpret_cast<__m128i*>(digits), Last8DigitsPair(lanes));
            *out++ = ' ';
            out = PutMicros(out, std::signbit(values[i]), a, digits[0]);
            *out++ = ' ';
            out = PutMicros(out, std::signbit(values[i + 1]), b, digits[1]);
        } else {
            *out++ = ' ';
            out = Fixed6(out, values[i]);
            *out++ = ' ';
            out = Fixed6(out, values[i + 1]);
        }
    }
#endif
    for (; i < count; ++i) {
        *out++ = ' ';
        out = Fixed6(out, values[i]);
    }
    return out;
}

namespace {

// Every other value: non-finite, tiny, large, or with more significant bits than a float.
char* AppendFixed6General(char* out, double value) {
    const Decomposed d = Decompose(value);
    if (!d.finite) return AppendNonFinite(out, d.negative, d.isNan);
    // The binary value is exact, so value * 10^6 can be rounded in integers: glibc rounds the exact value to
    // nearest, ties to even, which is what happens below. Integers from 2^63 up go to to_chars.
    if (d.exponent > 10) return detail::AppendFixed6ToChars(out, value);

    // Few significant bits, as every float widened to double has: with the trailing zero bits dropped the
    // mantissa is below 2^44, so mantissa * 10^6 stays below 2^64 and value * 10^6 rounds in 64 bits alone.
    if (d.mantissa != 0 && d.exponent < 0) {
        const int tz = std::countr_zero(d.mantissa);
        const uint64_t m = d.mantissa >> tz;
        const int shift = -(d.exponent + tz);
        if (m < (uint64_t{1} << 44) && shift > 0 && shift < 64) {
            const uint64_t scaled = m * 1000000u;
            uint64_t n = scaled >> shift;
            const uint64_t remainder = scaled & ((uint64_t{1} << shift) - 1);
            const uint64_t half = uint64_t{1} << (shift - 1);
            if (remainder > half || (remainder == half && (n & 1) != 0)) ++n;
            *out++ = d.negative ? '-' : ' ';
            out = WriteUnsigned(out, n / 1000000);
            *out++ = '.';
            return WriteSixDigits(out, static_cast<uint32_t>(n % 1000000));
        }
    }

    uint64_t whole = 0;
    uint32_t micros = 0;
    if (d.exponent >= 0) {
        whole = d.mantissa << d.exponent;
    } else if (d.exponent >= -74) {
        // Below 2^-74 the value times 10^6 is under 2^53 * 2^-74 * 2^20 = 2^-1 and rounds to zero.
        const int shift = -d.exponent;
        uint64_t fractionBits = d.mantissa;
        if (shift < 64) {
            whole = d.mantissa >> shift;
            fractionBits = d.mantissa & ((uint64_t{1} << shift) - 1);
        }
        // fractionBits < 2^53 and 10^6 < 2^20, so the product and every shift below stay within 128 bits.
        const U128 scaled = static_cast<U128>(fractionBits) * 1000000u;
        const U128 quotient = scaled >> shift;  // < 10^6 because fractionBits < 2^shift
        const U128 remainder = scaled - (quotient << shift);
        const U128 half = U128{1} << (shift - 1);
        micros = static_cast<uint32_t>(quotient);
        if (remainder > half || (remainder == half && (micros & 1) != 0)) ++micros;
        if (micros == 1000000) {
            micros = 0;
            ++whole;
        }
    }
    *out++ = d.negative ? '-' : ' ';
    out = WriteUnsigned(out, whole);
    *out++ = '.';
    return WriteSixDigits(out, micros);
}

}  // namespace

char* AppendG4(char* out, double value) {
    const Decomposed d = Decompose(value);
    if (!d.finite) return AppendNonFinite(out, d.negative, d.isNan);
    if (d.mantissa == 0) {
        std::memcpy(out, d.negative ? "  -0" : "   0", 4);
        return out + 4;
    }
    // The integer route covers [1e-4, 1e6), where %g prints positional digits and never an exponent. Outside
    // it, and for values just under 1e-4 that might round up to 0.0001, to_chars does the work.
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-4 && magnitude < 1e6)) return detail::AppendG4ToChars(out, value);

    // Decimal exponent X of the value: floor(log2) * log10(2) is X or X - 1; the exact check is in integers.
    const int log2 = std::bit_width(d.mantissa) - 1 + d.exponent;
    int decimalExp = (log2 * 78913) >> 18;  // floor(log2 * log10(2)) for this range
    // value * 10^(5 - X) lies in [10^5, 10^6) for the right X. A float widened to double has at most 24
    // significant bits: without its trailing zero bits the mantissa times 10^9 stays below 2^54 and the
    // rounding needs 64 bits only; any other double takes 128 (below 2^83).
    const int tz = std::countr_zero(d.mantissa);
    uint32_t digits = (d.mantissa >> tz) < (uint64_t{1} << 24)
                          ? SixSignificant<uint64_t>(d.mantissa >> tz, d.exponent + tz, &decimalExp)
                          : SixSignificant<U128>(d.mantissa, d.exponent, &decimalExp);
    if (digits == 1000000) {
        digits = 100000;
        ++decimalExp;
        if (decimalExp == 6) return detail::AppendG4ToChars(out, value);  // 999999.5 and up print "1e+06"
    }
    if constexpr (kWideDigits) return PutSixSignificant(out, digits, decimalExp, d.negative);

    char six[8];
    WriteSixDigits(six, digits);
    int significant = 6;
    while (six[significant - 1] == '0') --significant;  // digits >= 10^5, so the first digit stays

    char buf[kMaxG4];
    char* p = buf;
    if (d.negative) *p++ = '-';
    if (decimalExp >= 0) {
        const int intDigits = decimalExp + 1;
        std::memcpy(p, six, static_cast<size_t>(intDigits));
        p += intDigits;
        if (significant > intDigits) {
            *p++ = '.';
            std::memcpy(p, six + intDigits, static_cast<size_t>(significant - intDigits));
            p += significant - intDigits;
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = decimalExp + 1; i < 0; ++i) *p++ = '0';
        std::memcpy(p, six, static_cast<size_t>(significant));
        p += significant;
    }
    const auto len = static_cast<int>(p - buf);
    for (int i = len; i < 4; ++i) *out++ = ' ';
    std::memcpy(out, buf, static_cast<size_t>(len));
    return out + len;
}

namespace {
QSX_INLINE char* Int(char* out, long value) {
    // The script's integers are vertex numbers and tags, nearly all below 10^8: their digits come from a
    // table of four-digit groups, a group (or the leading part of one) per store.
    if (value > -100000000 && value < 100000000) {
        *out = '-';
        out += value < 0 ? 1 : 0;
        const auto u = static_cast<uint32_t>(value < 0 ? -value : value);
        const uint32_t high = u / 10000;
        const uint32_t lead = high != 0 ? high : u;
        const int n = 1 + (lead >= 10 ? 1 : 0) + (lead >= 100 ? 1 : 0) + (lead >= 1000 ? 1 : 0);
        std::memcpy(out, kDigitQuads.data() + 4 * lead + 4 - n, 4);
        if (high == 0) return out + n;
        std::memcpy(out + n, kDigitQuads.data() + 4 * (u - high * 10000), 4);
        return out + n + 4;
    }
    // 20 chars hold LONG_MIN.
    return std::to_chars(out, out + 20, value).ptr;
}
}  // namespace

char* AppendInt(char* out, long value) { return Int(out, value); }

namespace {
// " 0" to " 9999" in the low bytes of each word, the length of that text in
// the top byte: the vertex numbers of a triangle line, one load and one store
// each (meshes are numbered from 1 on their own, so most numbers are here).
constexpr size_t kSmallInts = 10000;
constexpr std::array<uint64_t, kSmallInts> kBlankAndInt = [] {
    std::array<uint64_t, kSmallInts> t{};
    for (size_t i = 0; i < kSmallInts; ++i) {
        const size_t digits = 1 + (i >= 10) + (i >= 100) + (i >= 1000);
        uint64_t w = ' ';
        for (size_t k = 0, v = i; k < digits; ++k, v /= 10) w |= uint64_t{'0' + v % 10} << (8 * (digits - k));
        t[i] = w | uint64_t{1 + digits} << 56;
    }
    return t;
}();
}  // namespace

char* AppendIntList(char* out, const long* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const long v = values[i];
        if (kWideDigits && static_cast<unsigned long>(v) < kSmallInts) {
            const uint64_t w = kBlankAndInt[static_cast<size_t>(v)];
            std::memcpy(out, &w, 8);
            out += w >> 56;
            continue;
        }
        *out++ = ' ';
        out = Int(out, v);
    }
    return out;
}

}  // namespace qsx
