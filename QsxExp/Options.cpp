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

// Stored as the text and one terminating zero. The text is cut where a
// zero-terminated field of kTextValueSize bytes would end it, so whatever is
// saved fits the buffer it is loaded into.
bool WriteText(host::RegistryKey& key, const char* name, const std::string& text) {
    std::string data(text.c_str(), std::min<size_t>(std::strlen(text.c_str()), kTextValueSize - 1));
    return key.SetValue(name, host::REG_SZ, data.c_str(), static_cast<uint32_t>(data.size() + 1));
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

// scaleText, when given, receives the text the factor was read from.
void Load(const host::RegistryKey* k, ExportOptions& options, std::string* scaleText) {
    std::string text;
    if (!ReadNumber(k, "Centre", options.centre)) options.centre = 1;
    if (ReadText(k, "Scale factor", text)) {
        options.scaleFactor = static_cast<float>(AtofC(text.c_str()));
        if (scaleText) *scaleText = text;
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
    Load(key.get(), options, nullptr);
    if (key) key->Close();
}

bool AcceptScaleFactor(const char* text, float* factor) {
    *factor = static_cast<float>(AtofC(text));
    return *factor > 0.0f;
}

bool AcceptExtension(const char* text) { return std::strlen(text) <= 3; }

StoredOptions ReadStoredOptions(host::Registry* registry) {
    StoredOptions stored;
    std::unique_ptr<host::RegistryKey> key = registry ? registry->OpenKey(kOptionsKey) : nullptr;
    Load(key.get(), stored.options, &stored.scaleFactorText);
    if (key) key->Close();
    float shown = 0.0f;
    stored.scaleFactorRefused =
        !AcceptScaleFactor(FormatScaleFactor(stored.options.scaleFactor).c_str(), &shown);
    stored.extNameRefused = !AcceptExtension(stored.options.extName.c_str());
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
