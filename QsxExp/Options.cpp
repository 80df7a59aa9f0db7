// Provisional until the settings store lands.
#include "QsxExp/Options.h"
#include <cstdlib>
#include <cstdio>
namespace qsx {
void LoadOptions(host::Registry*, ExportOptions& o) { o = ExportOptions{}; }
bool SaveOptions(host::Registry*, const ExportOptions&) { return true; }
double AtofC(const char* t) { return std::atof(t); }
std::string FormatScaleFactor(float v) { char b[64]; std::snprintf(b, sizeof b, "%.4f", v); return b; }
}  // namespace qsx
