#include "QsxExp/win32/Registry.h"

#include "util/win32/Wide.h"

#include <windows.h>

namespace qsx {
namespace {

class Key final : public host::RegistryKey {
public:
    // key null: a read-only store's key, which takes values and keeps none.
    Key(HKEY key, std::string path, std::string* lastError) : key_(key), path_(std::move(path)), lastError_(lastError) {}
    ~Key() override { Close(); }

    bool SetValue(const char* name, uint32_t type, const void* data, uint32_t size) override {
        if (!key_) return lastError_ != nullptr;
        const LSTATUS rc = RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size);
        if (rc == ERROR_SUCCESS) return true;
        if (lastError_) *lastError_ = path_ + "\\" + name + ": " + util::WindowsErrorText(static_cast<DWORD>(rc));
        return false;
    }

    bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const override {
        if (!key_) return false;
        DWORD t = 0, n = *size;
        if (RegQueryValueExA(key_, name, nullptr, &t, static_cast<BYTE*>(data), &n) != ERROR_SUCCESS) return false;
        *type = t;
        *size = n;
        return true;
    }

    bool Close() override {
        if (!key_) return true;
        const LSTATUS rc = RegCloseKey(key_);
        key_ = nullptr;
        return rc == ERROR_SUCCESS;
    }

private:
    HKEY key_;
    std::string path_;        // as messages name it
    std::string* lastError_;  // null for a key opened only to read
};

}  // namespace

std::unique_ptr<host::RegistryKey> SystemRegistry::CreateKey(const char* path) {
    const std::string name = std::string(Name()) + "\\" + path;
    if (readOnly_) return std::make_unique<Key>(nullptr, name, &lastError_);
    HKEY key = nullptr;
    const LSTATUS rc = RegCreateKeyA(HKEY_CURRENT_USER, path, &key);
    if (rc != ERROR_SUCCESS) {
        lastError_ = name + ": " + util::WindowsErrorText(static_cast<DWORD>(rc));
        return nullptr;
    }
    return std::make_unique<Key>(key, name, &lastError_);
}

std::unique_ptr<host::RegistryKey> SystemRegistry::OpenKey(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Key>(key, path, nullptr);
}

SystemRegistry& OwnRegistry() {
    static SystemRegistry registry;
    return registry;
}

}  // namespace qsx
