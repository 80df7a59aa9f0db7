// The user's export settings and their home in the per-user settings store.
#pragma once

#include <cstdint>
#include <string>

#include "host/Registry.h"

namespace qsx {

// Bits of ExportOptions::textureFlags.
enum : uint32_t {
    TEX_SHOW = 1,
    TEX_LIT = 2,
    TEX_FORESHORTEN = 4,
    TEX_FILTER = 8,
    TEX_OVERRIDE_EXT = 16,
};

enum HierarchyType : int32_t {
    HIER_PRESERVE = 0,
    HIER_FLAT_SINGLE = 1,
    HIER_FLAT_MULTIPLE = 2,
    HIER_SEPARATE = 3,
};

struct ExportOptions {
    float scaleFactor = 1.0f;
    int32_t scaleType = 1;  // 0 scale to, 1 scale by
    int32_t centre = 1;
    int32_t saveHeader = 0;
    int32_t saveAnimation = 0;
    int32_t hierarchyType = HIER_PRESERVE;
    uint32_t textureFlags = TEX_SHOW;
    int32_t hints = 0;  // 0 none, 1 hidden surface, 2 editable
    std::string extName = "BMP";
};

inline constexpr const char* kOptionsKey = "Software\\Dunmarrow\\Quorvantis 3dsMax Exporter";
// Size of the text buffers the values are read into; larger values load as defaults.
inline constexpr uint32_t kTextValueSize = 512;

// Every field ends with its stored value or, where that cannot be read, its default.
void LoadOptions(host::Registry* registry, ExportOptions& options);
// Writes all nine values. Answers whether the store took them.
bool SaveOptions(host::Registry* registry, const ExportOptions& options);

// What the options dialog's OK takes. A scale factor is its text read by
// AtofC and narrowed to float (into *factor, taken or not); OK wants it above
// 0, since a factor that becomes 0 as a float is as useless as 0.
bool AcceptScaleFactor(const char* text, float* factor);
// An extension of at most 3 characters, whether or not it is in use.
bool AcceptExtension(const char* text);

// The stored options as LoadOptions gives them, and which of the stored
// values OK would refuse once the dialog shows them: a scale factor shown as
// FormatScaleFactor prints it and read back, an extension as it is.
struct StoredOptions {
    ExportOptions options;
    std::string scaleFactorText;  // the stored text the factor was read from, "" when none was
    bool scaleFactorRefused = false;
    bool extNameRefused = false;
};
StoredOptions ReadStoredOptions(host::Registry* registry);

// atof as the options read their numbers: the longest leading decimal number,
// 0 when there is none (hexadecimal, inf and nan included), never following
// the user's locale.
double AtofC(const char* text);
// "%.4f" of a float widened to double, in the C locale.
std::string FormatScaleFactor(float value);

}  // namespace qsx
