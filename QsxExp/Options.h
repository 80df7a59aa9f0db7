// The user's export settings and their home in the per-user settings store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The items of the dialog's lists; a stored index is one of these places.
inline constexpr const char* kScaleTypes[] = {"Scale to", "Scale by"};
inline constexpr const char* kHierarchyTypes[] = {"Preserve hierarchy", "Flat (single clump)",
                                                  "Flat (multiple clumps)", "Separate clumps"};
inline constexpr const char* kHintTypes[] = {"None", "Hidden surface", "Editable"};

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
// An extension every file system and the script's texture names take as it
// is: 1 to 3 ASCII letters or digits. Stricter than AcceptExtension: the
// command asks it of an extension it is given or finds stored.
bool PlainExtension(std::string_view text);

// What is wrong with one stored value, beyond what LoadOptions checks.
enum class StoredFault {
    None,
    WrongType,   // a text where a dword belongs, or the reverse
    OutOfRange,  // a list index outside its list
    Refused,     // a value OK would refuse, or one the command's rules refuse
    LowerCase,   // an extension in small letters; used in capitals
};

// One of the nine values as the key holds it, and how it is judged.
struct StoredValue {
    const char* name = "";
    bool found = false;  // the key holds it (in any form the store can read)
    uint32_t type = 0;   // as stored
    std::string data;    // as stored, whole
    StoredFault fault = StoredFault::None;
    std::string why;     // the fault in words, "" for None
    uint32_t use = 0;    // the number a faulty value gives way to
    std::string shown;   // how the dialog shows what the value gives way to
};

// The stored options as LoadOptions gives them, and each stored value judged:
// its type, a list index against its list, a scale factor as OK would judge it
// once the dialog shows it (FormatScaleFactor, read back), an extension by
// PlainExtension. Values come in the order LoadOptions reads them.
struct StoredOptions {
    ExportOptions options;
    bool keyFound = false;
    std::vector<StoredValue> values;
};
StoredOptions ReadStoredOptions(host::Registry* registry);

// atof as the options read their numbers: the longest leading decimal number,
// 0 when there is none (hexadecimal, inf and nan included), never following
// the user's locale.
double AtofC(const char* text);
// "%.4f" of a float widened to double, in the C locale.
std::string FormatScaleFactor(float value);

}  // namespace qsx
