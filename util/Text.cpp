#include "util/Text.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <system_error>

namespace qsx::util {

std::string ToAsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

std::string ToAsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiUpper(c);
    return out;
}


bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double AtofDecimal(const char* text) {
    if (!text) return 0.0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char* const start = p;
    long digits = 0;  // on both sides of the point
    long point = -1;  // digits before the point
    long first = -1;  // the first digit that is not 0, counted among the digits
    for (;; ++p) {
        if (IsDigit(*p)) {
            if (first < 0 && *p != '0') first = digits;
            ++digits;
        } else if (*p == '.' && point < 0) {
            point = digits;
        } else {
            break;
        }
    }
    if (digits == 0) return 0.0;
    if (point < 0) point = digits;
    long exp = 0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool expNegative = false;
        if (*q == '+' || *q == '-') expNegative = *q++ == '-';
        if (IsDigit(*q)) {
            for (; IsDigit(*q); ++q) exp = exp < 100'000'000 ? exp * 10 + (*q - '0') : exp;
            if (expNegative) exp = -exp;
            p = q;
        }
    }
    double v = 0.0;
    // Beyond the double's range: an infinity when the first significant digit
    // stands at or above the units once the exponent is applied, else 0.
    if (std::from_chars(start, p, v, std::chars_format::general).ec == std::errc::result_out_of_range)
        v = first >= 0 && point - first - 1 + exp >= 0 ? HUGE_VAL : 0.0;
    return negative ? -v : v;
}

std::string Count(long long n, std::string_view one, std::string_view many) {
    std::string out = std::to_string(n);
    out += ' ';
    out += n == 1 ? one : many;
    return out;
}

std::string ByteSize(uint64_t bytes) {
    if (bytes < 1000) return Count(static_cast<long long>(bytes), "byte", "bytes");
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    // 999.5 kB shows as "1.00 MB", not "1000 kB".
    while (value >= 999.5 && unit + 1 < std::size(kUnits)) {
        value /= 1000;
        ++unit;
    }
    char buf[32];
    const int decimals = value >= 99.95 ? 0 : value >= 9.995 ? 1 : 2;
    const auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals).ptr;
    return std::string(buf, end) + " " + kUnits[unit];
}

namespace {

// The length of the UTF-8 sequence at s[i] that is valid and no control
// character, or 0.
size_t PrintableSequence(std::string_view s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    if (c >= 0x20 && c < 0x7F) return 1;
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        if (c == 0xC2) lo = 0xA0;  // U+0080 to U+009F are the C1 controls
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size() || at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

// The one escaping of text for messages: '"' and '\\' escaped in quoted text,
// control bytes as \xNN, and every byte outside ASCII too where utf8 is
// false (or where it is not part of a printable UTF-8 character).
void AppendPrintable(std::string& out, std::string_view s, bool quoted, bool utf8 = true) {
    static const char* hex = "0123456789abcdef";
    for (size_t i = 0; i < s.size();) {
        if (quoted && (s[i] == '"' || s[i] == '\\')) {
            out += '\\';
            out += s[i++];
            continue;
        }
        if (const size_t n = PrintableSequence(s, i); n > 0 && (utf8 || n == 1)) {
            out.append(s, i, n);
            i += n;
            continue;
        }
        const auto u = static_cast<unsigned char>(s[i++]);
        out += "\\x";
        out += hex[u >> 4];
        out += hex[u & 15];
    }
}

}  // namespace

std::string EscapeBytes(std::string_view s, bool quoted) {
    std::string out;
    AppendPrintable(out, s, quoted, false);
    return out;
}

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendPrintable(out, text, false);
    return out;
}

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    AppendPrintable(out, text, true);
    out += '"';
    return out;
}

}  // namespace qsx::util
