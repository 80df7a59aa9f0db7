#include "util/Text.h"

#include <charconv>
#include <cmath>
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

std::string EscapeBytes(std::string_view s, bool quoted) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (quoted && (c == '"' || c == '\\')) {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
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

}  // namespace qsx::util
