// The options' own store on Windows: the per-user registry, through its ANSI
// functions (the key and value names are ASCII).
#include <memory>

#include "host/Registry.h"

#include <windows.h>

namespace qsx {
namespace {

class Key final : public host::RegistryKey {
public:
    explicit Key(HKEY key) : key_(key) {}
    ~Key() override { Close(); }

    bool SetValue(const char* name, uint32_t type, const void* data, uint32_t size) override {
        return RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    }
    bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const override {
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
};

class Registry final : public host::Registry {
public:
    std::unique_ptr<host::RegistryKey> CreateKey(const char* path) override {
        HKEY key = nullptr;
        if (RegCreateKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS) return nullptr;
        return std::make_unique<Key>(key);
    }
    std::unique_ptr<host::RegistryKey> OpenKey(const char* path) override {
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS) return nullptr;
        return std::make_unique<Key>(key);
    }
};

}  // namespace

host::Registry* OwnRegistry() {
    static Registry registry;
    return &registry;
}

}  // namespace qsx
