// The number formatters must match glibc's snprintf byte for byte. This test never calls setlocale except in
// the locale test, so snprintf runs in the "C" locale and serves as the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "QsxExp/NumberFormat.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSweepDivisor = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kSweepDivisor = 2;
#else
constexpr int kSweepDivisor = 1;
#endif
#else
constexpr int kSweepDivisor = 1;
#endif

long Scaled(long count) { return count / kSweepDivisor; }

std::string Hex(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a (bits %016llx)", v,
                  static_cast<unsigned long long>(std::bit_cast<uint64_t>(v)));
    return buf;
}

// Runs every formatter, fast and to_chars route, against snprintf and counts what it compared.
class Comparer {
public:
    void Check(double v) {
        char ref[400];
        std::snprintf(ref, sizeof ref, "% 4.6f", v);
        CheckOne("% 4.6f", v, ref, FormatFixed(qsx::AppendFixed6, v));
        CheckOne("% 4.6f via to_chars", v, ref, FormatFixed(qsx::detail::AppendFixed6ToChars, v));
        // A float in a run of three on a line, each after a blank, beside a number of other digits.
        if (const float f = static_cast<float>(v); std::bit_cast<uint64_t>(double{f}) == std::bit_cast<uint64_t>(v)) {
            const std::string one = std::string(" ") + ref;
            std::array<char, 3 * (1 + qsx::kMaxFixed6)> run;
            const float three[3] = {f, -12.5f, f};
            CheckOne("% 4.6f in a run", v, (one + " -12.500000" + one).c_str(),
                     std::string(run.data(), qsx::AppendFixed6List(run.data(), three, 3)));
            CheckOne("% 4.6f second in a run", v, (" -12.500000" + one).c_str(),
                     std::string(run.data(), qsx::AppendFixed6List(run.data(), three + 1, 2)));
        }
        std::snprintf(ref, sizeof ref, "%4g", v);
        CheckOne("%4g", v, ref, FormatG(qsx::AppendG4, v));
        CheckOne("%4g via to_chars", v, ref, FormatG(qsx::detail::AppendG4ToChars, v));
        ++compared_;
    }
    void CheckWithNeighbours(double v) {
        Check(v);
        Check(std::nextafter(v, -HUGE_VAL));
        Check(std::nextafter(v, HUGE_VAL));
    }
    void CheckBothSigns(double v) {
        Check(v);
        Check(-v);
    }
    void Report(const char* what) const {
        std::printf("[ %s ] compared %ld values against snprintf\n", what, compared_);
        EXPECT_EQ(failures_, 0) << failures_ << " mismatches";
        EXPECT_GT(compared_, 0);
    }

private:
    // Exact-size buffers so an overrun shows up under AddressSanitizer.
    static std::string FormatFixed(char* (*fn)(char*, double), double v) {
        std::array<char, qsx::kMaxFixed6> buf;
        char* end = fn(buf.data(), v);
        return std::string(buf.data(), end);
    }
    static std::string FormatG(char* (*fn)(char*, double), double v) {
        std::array<char, qsx::kMaxG4> buf;
        char* end = fn(buf.data(), v);
        return std::string(buf.data(), end);
    }
    void CheckOne(const char* format, double v, const char* ref, const std::string& got) {
        if (got == ref) return;
        if (++failures_ <= 20)
            ADD_FAILURE() << format << " of " << Hex(v) << ": got \"" << got << "\", snprintf \"" << ref << "\"";
    }

    long compared_ = 0;
    long failures_ = 0;
};

double FromBits(uint64_t bits) { return std::bit_cast<double>(bits); }
double FromFloatBits(uint32_t bits) { return static_cast<double>(std::bit_cast<float>(bits)); }

TEST(NumberFormat, EdgeValuesMatchSnprintf) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {
        0.0, -0.0, 1.0, -1.0, 0.5, 0.25, 0.588235, 0.588235f, 1e-5, 1e-4, 0.0001, 0.001, 1e-5f, 1e-4f,
        999999.5, 999999.4, 999999.0, 9999995.0, 1234565.0, 100000.5, 1e6, 2.5e6, 1e30, 1e30f, 1e100,
        FLT_MAX, -FLT_MAX, DBL_MAX, -DBL_MAX, FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, DBL_MIN, DBL_MIN / 3,
        DBL_TRUE_MIN, -DBL_TRUE_MIN, FromBits(0x000fffffffffffff),
        // Rounding to six decimals: exact ties (k / 128, k odd) and the non-exact 0.5e-6 family.
        0.0078125, -0.0078125, 0.0234375, 1.0078125, 1.0234375, 0.5e-6, -0.5e-6, 0.5e-6f, 1.5e-6, 2.5e-6,
        4.9999999e-7, 5.0000001e-7, 0.0000005, 0.9999995, 0.9999995f, 0.99999949999, 9.9999995, -9.9999995f,
        // Where the integer route hands over to to_chars, and integer precision limits.
        9223372036854775808.0, 9223372036854774784.0, 18446744073709551616.0, 9007199254740993.0,
        9007199254740992.0, 16777217.0, 16777216.0, 8388608.5, std::ldexp(1.0, -74), std::ldexp(1.0, -75),
        std::ldexp(3.0, -22), std::ldexp(1.0, -21), std::ldexp(1.0, -20),
        inf, -inf, nan, -nan, FromBits(0x7ff0000000000001), FromBits(0xfff8000000000001),
        static_cast<double>(std::bit_cast<float>(0x7fc00000u)), static_cast<double>(std::bit_cast<float>(0xffc00000u)),
    };
    Comparer c;
    for (double v : values) c.CheckBothSigns(v);
    c.Report("edge values");
}

TEST(NumberFormat, PowersOfTenAndNeighboursMatchSnprintf) {
    Comparer c;
    for (int k = -12; k <= 24; ++k) {
        const double p = std::pow(10.0, k);
        for (double m : {1.0, 0.5, 0.9999995, 0.99999949, 0.9999995001, 9.999995, 9.9999949}) {
            c.CheckWithNeighbours(m * p);
            c.CheckWithNeighbours(-m * p);
            const float f = static_cast<float>(m * p);
            c.Check(std::nextafter(f, 0.0f));
            c.Check(f);
            c.Check(std::nextafter(f, HUGE_VALF));
        }
    }
    c.Report("powers of ten");
}

// Exact halfway cases for "% 4.6f": v * 10^6 ends in .5 exactly when v = i + k/128 with k odd.
TEST(NumberFormat, FixedHalfwayCasesRoundToEven) {
    Comparer c;
    const double integerParts[] = {0, 1, 2, 3, 7, 10, 999, 12345, 65535, 131071, 1048576, 1e9, 1099511627775.0,
                                   35184372088831.0};
    for (double i : integerParts) {
        for (int k = 1; k < 128; k += 2) {
            const double v = i + k / 128.0;
            c.CheckWithNeighbours(v);
            c.CheckWithNeighbours(-v);
        }
    }
    c.Report("fixed halfway");
}

// Exact halfway cases for "%4g": with X = floor(log10 v), v * 10^(5-X) ends in .5 when v = k / 2^(6-X), k odd;
// above 10^6 they are integers whose seventh significant digit is 5.
TEST(NumberFormat, GeneralHalfwayCasesRoundToEven) {
    Comparer c;
    for (int x = -4; x <= 5; ++x) {
        const double scale = std::ldexp(1.0, 6 - x);
        const double lo = std::ceil(std::pow(10.0, x) * scale);
        const double hi = std::pow(10.0, x + 1) * scale;
        const double step = std::max(2.0, std::floor((hi - lo) / 20000) * 2);
        for (double k = lo + (std::fmod(lo, 2.0) == 0 ? 1 : 0); k < hi; k += step) c.CheckWithNeighbours(k / scale);
    }
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t six = 100000 + rng() % 900000;
        const int zeros = static_cast<int>(rng() % 10);
        c.CheckWithNeighbours((static_cast<double>(six) * 10 + 5) * std::pow(10.0, zeros));
    }
    c.Report("general halfway");
}

TEST(NumberFormat, RandomFloatBitPatternsMatchSnprintf) {
    std::mt19937_64 rng(20240601);
    Comparer c;
    const long n = Scaled(4000000);
    for (long i = 0; i < n; ++i) c.Check(FromFloatBits(static_cast<uint32_t>(rng())));
    c.Report("random float bits");
}

TEST(NumberFormat, RandomDoublesMatchSnprintf) {
    std::mt19937_64 rng(99);
    Comparer c;
    // Any bit pattern, mostly huge or tiny magnitudes.
    for (long i = 0, n = Scaled(200000); i < n; ++i) c.Check(FromBits(rng()));
    // Full 53-bit mantissas with binary exponents around the integer route's limits (2^-75 .. 2^64).
    for (long i = 0, n = Scaled(1000000); i < n; ++i) {
        const uint64_t mantissa = (rng() >> 11) | (uint64_t{1} << 52);
        const int exponent = static_cast<int>(rng() % 140) - 128;
        const double v = std::ldexp(static_cast<double>(mantissa), exponent);
        c.Check((rng() & 1) ? -v : v);
    }
    c.Report("random doubles");
}

TEST(NumberFormat, FloatsBetweenMinusAndPlusThousandMatchSnprintf) {
    const uint32_t last = std::bit_cast<uint32_t>(1000.0f);
    // An odd stride visits every low-bit pattern of the mantissa across the sweep.
    const uint32_t stride = (1009 * kSweepDivisor) | 1;
    Comparer c;
    for (uint32_t bits = 0; bits <= last; bits += stride) c.CheckBothSigns(FromFloatBits(bits));
    c.CheckBothSigns(1000.0);
    c.Report("floats in [-1000, 1000]");
}

TEST(NumberFormat, IntegersMatchSnprintf) {
    std::vector<long> values = {0, 1, -1, 9, 10, 99, 100, -100, 123456789, LONG_MAX, LONG_MIN, INT_MAX, INT_MIN};
    for (long v = 0; v <= 10000; ++v) values.push_back(v);
    for (long p = 1; p <= LONG_MAX / 10; p *= 10) {
        for (long v : {p - 1, p, p + 1}) {
            values.push_back(v);
            values.push_back(-v);
        }
    }
    std::mt19937_64 rng(5);
    for (int i = 0; i < 100000; ++i) values.push_back(static_cast<long>(rng() >> (1 + rng() % 63)) * ((i & 1) ? -1 : 1));
    long failures = 0;
    for (long v : values) {
        char ref[32];
        std::snprintf(ref, sizeof ref, "%ld", v);
        std::array<char, 20> buf;  // LONG_MIN needs all 20
        const std::string got(buf.data(), qsx::AppendInt(buf.data(), v));
        if (got != ref && ++failures <= 20) ADD_FAILURE() << v << ": got \"" << got << "\", snprintf \"" << ref << "\"";
        const std::string one = std::string(" ") + ref;
        std::array<char, 3 * 21> run;
        const long three[3] = {v, v, v};
        const std::string gotRun(run.data(), qsx::AppendIntList(run.data(), three, 3));
        if (gotRun != one + one + one && ++failures <= 20) ADD_FAILURE() << v << " in a run: got \"" << gotRun << "\"";
    }
    std::printf("[ integers ] compared %zu values against snprintf\n", values.size());
    EXPECT_EQ(failures, 0);
}

class NumericLocaleGuard {
public:
    ~NumericLocaleGuard() { std::setlocale(LC_NUMERIC, "C"); }
};

TEST(NumberFormat, OutputIgnoresCommaDecimalLocale) {
    const double values[] = {1.5, -0.25, 1234.5678, 1e-5, 2.5e6, 0.001, 123456789.0, 0.0078125, 1e30};
    std::vector<std::string> before;
    auto formatAll = [&] {
        std::vector<std::string> out;
        for (double v : values) {
            char buf[qsx::kMaxFixed6];
            out.emplace_back(buf, qsx::AppendFixed6(buf, v));
            out.emplace_back(buf, qsx::detail::AppendFixed6ToChars(buf, v));
            out.emplace_back(buf, qsx::AppendG4(buf, v));
            out.emplace_back(buf, qsx::detail::AppendG4ToChars(buf, v));
        }
        char buf[32];
        out.emplace_back(buf, qsx::AppendInt(buf, -1234567));
        return out;
    };
    before = formatAll();

    NumericLocaleGuard guard;
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8",
                             "ru_RU.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "pt_BR.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no locale with a ',' decimal point is installed (see `locale -a`); "
                        "install e.g. de_DE.UTF-8, or build one with localedef and point LOCPATH at it";
    }
    // The locale really is in effect: the C library now prints a comma.
    char ref[32];
    std::snprintf(ref, sizeof ref, "%g", 1.5);
    ASSERT_STREQ(ref, "1,5") << "locale " << chosen;

    const std::vector<std::string> after = formatAll();
    EXPECT_EQ(after, before) << "locale " << chosen;
    EXPECT_EQ(before[0], " 1.500000");
    EXPECT_EQ(before[2], " 1.5");
}

}  // namespace
