// The per-user settings store, with the operations of a registry: keys that
// are opened (or created for writing), typed named values read into buffers
// of a given size. Value names compare without regard to letter case.
#pragma once

#include <cstdint>
#include <memory>

namespace host {

constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_DWORD = 4;

class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    virtual bool SetValue(const char* name, uint32_t type, const void* data, uint32_t size) = 0;
    // Succeeds only when the value exists and its data fits in *size bytes;
    // then *size holds the data's length and *type its type.
    virtual bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const = 0;
    // Makes what was set lasting; false when that could not be done.
    virtual bool Close() = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // Open for writing, creating the key (and those above it) when absent.
    virtual std::unique_ptr<RegistryKey> CreateKey(const char* path) = 0;
    // Open for reading only; null when the key does not exist or cannot be read.
    virtual std::unique_ptr<RegistryKey> OpenKey(const char* path) = 0;
};

}  // namespace host
