// Provisional: replaced by the exact fast formatter.
#include "QsxExp/NumberFormat.h"
#include <cstdio>
namespace qsx {
char* AppendFixed6(char* out, double v) { return out + std::snprintf(out, kMaxFixed6, "% 4.6f", v); }
char* AppendG4(char* out, double v) { return out + std::snprintf(out, kMaxG4, "%4g", v); }
char* AppendInt(char* out, long v) { return out + std::snprintf(out, 24, "%ld", v); }
}  // namespace qsx
