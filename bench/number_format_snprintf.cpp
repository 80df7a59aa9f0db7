// The reference build's number text: the exporter's formatting entry points,
// each a plain snprintf in the "C" locale. export_ref links this in place of
// the exporter's own formatter; its scripts must match export_bench's byte for
// byte, and its timings are the naive way of writing the same export.
#include <clocale>
#include <cstdio>
#include <locale.h>

#include "QsxExp/NumberFormat.h"

namespace qsx {
namespace {

// The calling thread uses the "C" locale whatever the environment says.
const bool kCLocale = [] {
    static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c != nullptr && uselocale(c) != nullptr;
}();

}  // namespace

char* AppendFixed6(char* out, double value) { return out + std::snprintf(out, kMaxFixed6, "% 4.6f", value); }
char* AppendG4(char* out, double value) { return out + std::snprintf(out, kMaxG4, "%4g", value); }
char* AppendInt(char* out, long value) { return out + std::snprintf(out, 24, "%ld", value); }
char* AppendFixed6List(char* out, const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i) out += std::snprintf(out, 1 + kMaxFixed6, " % 4.6f", double{values[i]});
    return out;
}
char* AppendIntList(char* out, const long* values, size_t count) {
    for (size_t i = 0; i < count; ++i) out += std::snprintf(out, 25, " %ld", values[i]);
    return out;
}

namespace detail {
char* AppendFixed6ToChars(char* out, double value) { return AppendFixed6(out, value); }
char* AppendG4ToChars(char* out, double value) { return AppendG4(out, value); }
}  // namespace detail

}  // namespace qsx
