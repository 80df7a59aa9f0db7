#include "QsxExp/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

#include "util/Text.h"

namespace qsx {

namespace {

// A number is read into a 4-byte buffer. Data of exactly 4 bytes is taken
// whatever type it was stored with; shorter data would leave part of the
// field unset, so it counts as a failed read like data that is too long.
bool ReadNumber(const host::RegistryKey* key, const char* name, uint32_t& out) {
    if (!key) return false;
    unsigned char buf[4];
    uint32_t type = 0;
    uint32_t size = sizeof buf;
    if (!key->QueryValue(name, &type, buf, &size) || size != sizeof buf) return false;
    out = uint32_t(buf[0]) | uint32_t(buf[1]) << 8 | uint32_t(buf[2]) << 16 | uint32_t(buf[3]) << 24;
    return true;
}

bool ReadNumber(const host::RegistryKey* key, const char* name, int32_t& out) {
    uint32_t u = 0;
    if (!ReadNumber(key, name, u)) return false;
    out = static_cast<int32_t>(u);
    return true;
}

// A text is read into a kTextValueSize buffer and ends at its first zero
// byte; data without one is taken whole (it fitted the buffer).
bool ReadText(const host::RegistryKey* key, const char* name, std::string& out) {
    if (!key) return false;
    char buf[kTextValueSize];
    uint32_t type = 0;
    uint32_t size = sizeof buf;
    if (!key->QueryValue(name, &type, buf, &size) || size > sizeof buf) return false;
    const void* nul = std::memchr(buf, 0, size);
    out.assign(buf, nul ? static_cast<const char*>(nul) - buf : size);
    return true;
}

bool WriteNumber(host::RegistryKey& key, const char* name, uint32_t value) {
    const unsigned char buf[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return key.SetValue(name, host::REG_DWORD, buf, sizeof buf);
}

// Stored as the whole zero-terminated field of kTextValueSize bytes that the
// text lives in (zeros after its end), as the exporter has always stored it;
// ReadText takes the text up to the first zero, so a value holding only the
// text and one zero loads the same. A longer text is cut where the field ends it.
bool WriteText(host::RegistryKey& key, const char* name, const std::string& text) {
    char field[kTextValueSize] = {};
    std::memcpy(field, text.c_str(), std::min<size_t>(std::strlen(text.c_str()), kTextValueSize - 1));
    return key.SetValue(name, host::REG_SZ, field, kTextValueSize);
}

}  // namespace

double AtofC(const char* text) { return util::AtofDecimal(text); }

std::string FormatScaleFactor(float value) {
    double d = value;
    if (std::isnan(d)) return std::signbit(d) ? "-nan" : "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    // A float widened to double has at most 39 integer digits.
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 4);
    return std::string(buf, r.ptr);
}

namespace {

void Load(const host::RegistryKey* k, ExportOptions& options) {
    std::string text;
    if (!ReadNumber(k, "Centre", options.centre)) options.centre = 1;
    if (ReadText(k, "Scale factor", text)) {
        options.scaleFactor = static_cast<float>(AtofC(text.c_str()));
    } else {
        options.scaleFactor = 1.0f;
    }
    if (!ReadNumber(k, "Scale type", options.scaleType)) options.scaleType = 1;
    if (!ReadNumber(k, "Hierarchy type", options.hierarchyType)) options.hierarchyType = HIER_PRESERVE;
    if (!ReadNumber(k, "Hints", options.hints)) options.hints = 0;
    if (!ReadNumber(k, "Texture type", options.textureFlags)) options.textureFlags = TEX_SHOW;
    if (!ReadText(k, "Ext Name", options.extName)) options.extName = "BMP";
    if (!ReadNumber(k, "Save header", options.saveHeader)) options.saveHeader = 0;
    if (!ReadNumber(k, "Save animation", options.saveAnimation)) options.saveAnimation = 0;
}

}  // namespace

void LoadOptions(host::Registry* registry, ExportOptions& options) {
    std::unique_ptr<host::RegistryKey> key = registry ? registry->OpenKey(kOptionsKey) : nullptr;
    Load(key.get(), options);
    if (key) key->Close();
}

bool AcceptScaleFactor(const char* text, float* factor) {
    *factor = static_cast<float>(AtofC(text));
    return *factor > 0.0f;
}

bool AcceptExtension(const char* text) { return std::strlen(text) <= 3; }

bool PlainExtension(std::string_view text) {
    bool plain = !text.empty() && text.size() <= 3;
    for (const char c : text)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    return plain;
}

namespace {

enum class Kind { Flag, Bits, List, Factor, Ext };

struct ValueRule {
    const char* name;
    Kind kind;
    const char* const* items = nullptr;  // a list's items
    int count = 0;
};

template <size_t N>
constexpr ValueRule ListRule(const char* name, const char* const (&items)[N]) {
    return {name, Kind::List, items, static_cast<int>(N)};
}

// In the order LoadOptions reads them.
constexpr ValueRule kRules[] = {
    {"Centre", Kind::Flag},
    {"Scale factor", Kind::Factor},
    ListRule("Scale type", kScaleTypes),
    ListRule("Hierarchy type", kHierarchyTypes),
    ListRule("Hints", kHintTypes),
    {"Texture type", Kind::Bits},
    {"Ext Name", Kind::Ext},
    {"Save header", Kind::Flag},
    {"Save animation", Kind::Flag},
};

uint32_t DefaultNumber(const ExportOptions& d, std::string_view name) {
    if (name == "Centre") return static_cast<uint32_t>(d.centre);
    if (name == "Scale type") return static_cast<uint32_t>(d.scaleType);
    if (name == "Hierarchy type") return static_cast<uint32_t>(d.hierarchyType);
    if (name == "Hints") return static_cast<uint32_t>(d.hints);
    if (name == "Texture type") return d.textureFlags;
    if (name == "Save header") return static_cast<uint32_t>(d.saveHeader);
    return static_cast<uint32_t>(d.saveAnimation);
}

// Sets v.fault and v.why for a value the key holds; v.use and v.shown are
// the default's.
void Judge(const ValueRule& rule, const ExportOptions& loaded, StoredValue& v) {
    const bool text = rule.kind == Kind::Factor || rule.kind == Kind::Ext;
    const bool number = v.type == host::REG_DWORD && v.data.size() == 4;
    if (text ? v.type != host::REG_SZ : !number) {
        v.fault = StoredFault::WrongType;
        v.why = text ? "has the wrong type (a text is expected)" : "has the wrong type (a dword is expected)";
        return;
    }
    if (rule.kind == Kind::List) {
        const auto index = static_cast<int32_t>(DefaultNumber(loaded, rule.name));
        if (index < 0 || index >= rule.count) {
            v.fault = StoredFault::OutOfRange;
            v.why = "is out of range (0 to " + std::to_string(rule.count - 1) + ")";
        }
    } else if (rule.kind == Kind::Factor) {
        float shown = 0.0f;
        const float f = loaded.scaleFactor;
        if (!AcceptScaleFactor(FormatScaleFactor(f).c_str(), &shown)) {
            v.fault = StoredFault::Refused;
            v.why = !(f > 0.0f)      ? "is not a number above 0"
                    : std::isinf(f) ? "is beyond the float range"
                                    : "is below 0.00005, which the dialog shows as 0.0000";
        }
    } else if (rule.kind == Kind::Ext) {
        // The command's own rule for an empty extension depends on whether it
        // is in use, which the command's flags may change: it judges that itself.
        const std::string& ext = loaded.extName;
        if (ext.empty()) return;
        if (!PlainExtension(ext)) {
            v.fault = StoredFault::Refused;
            v.why = "is not 1 to 3 ASCII letters or digits";
        } else if (util::ToAsciiUpper(ext) != ext) {
            // The dialog's box shows capitals for whatever letters are typed.
            v.fault = StoredFault::LowerCase;
            v.why = "is in small letters";
            v.shown = util::ToAsciiUpper(ext);
        }
    }
}

}  // namespace

StoredOptions ReadStoredOptions(host::Registry* registry) {
    StoredOptions stored;
    std::unique_ptr<host::RegistryKey> key = registry ? registry->OpenKey(kOptionsKey) : nullptr;
    Load(key.get(), stored.options);
    stored.keyFound = key != nullptr;
    const ExportOptions defaults;
    for (const ValueRule& rule : kRules) {
        StoredValue v;
        v.name = rule.name;
        if (rule.kind == Kind::Factor) {
            v.shown = FormatScaleFactor(defaults.scaleFactor);
        } else if (rule.kind == Kind::Ext) {
            v.shown = defaults.extName;
        } else {
            v.use = DefaultNumber(defaults, rule.name);
            v.shown = std::to_string(v.use);
            if (rule.kind == Kind::List) v.shown += std::string(" (") + rule.items[v.use] + ")";
        }
        char buf[kTextValueSize];
        uint32_t size = sizeof buf;
        v.found = key && key->QueryValue(rule.name, &v.type, buf, &size) && size <= sizeof buf;
        if (v.found) {
            v.data.assign(buf, size);
            Judge(rule, stored.options, v);
        }
        stored.values.push_back(std::move(v));
    }
    if (key) key->Close();
    return stored;
}

bool SaveOptions(host::Registry* registry, const ExportOptions& options) {
    if (!registry) return false;
    std::unique_ptr<host::RegistryKey> key = registry->CreateKey(kOptionsKey);
    if (!key) return false;
    // Every value is written even when an earlier one failed: the store keeps
    // as much of the user's choice as it can take.
    bool ok = true;
    ok &= WriteNumber(*key, "Centre", static_cast<uint32_t>(options.centre));
    ok &= WriteText(*key, "Scale factor", FormatScaleFactor(options.scaleFactor));
    ok &= WriteNumber(*key, "Scale type", static_cast<uint32_t>(options.scaleType));
    ok &= WriteNumber(*key, "Hierarchy type", static_cast<uint32_t>(options.hierarchyType));
    ok &= WriteNumber(*key, "Hints", static_cast<uint32_t>(options.hints));
    ok &= WriteNumber(*key, "Texture type", options.textureFlags);
    ok &= WriteText(*key, "Ext Name", options.extName);
    ok &= WriteNumber(*key, "Save header", static_cast<uint32_t>(options.saveHeader));
    ok &= WriteNumber(*key, "Save animation", static_cast<uint32_t>(options.saveAnimation));
    ok &= key->Close();
    return ok;
}

}  // namespace qsx
