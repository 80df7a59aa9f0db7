// The per-user registry under HKEY_CURRENT_USER, through its ANSI functions
// (the key and value names are ASCII): the plug-in's own store for its
// options, and the one our command's batch runs use.
#pragma once

#include <memory>
#include <string>

#include "host/Registry.h"

namespace qsx {

class SystemRegistry : public host::Registry {
public:
    std::unique_ptr<host::RegistryKey> CreateKey(const char* path) override;
    std::unique_ptr<host::RegistryKey> OpenKey(const char* path) override;
    // When set, keys made by CreateKey accept values and store nothing: the
    // key is not even created.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // What the latest failed write could not do and why ("KEY\VALUE: reason");
    // empty when none failed.
    const std::string& LastError() const { return lastError_; }
    // How messages name the store.
    static const char* Name() { return "HKEY_CURRENT_USER"; }

private:
    bool readOnly_ = false;
    std::string lastError_;
};

// The store the plug-in keeps its options in when the host offers none.
SystemRegistry& OwnRegistry();

}  // namespace qsx
