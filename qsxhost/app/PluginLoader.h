// Finds and loads an export plug-in library and creates its exporter, the way
// a host discovers plug-ins: only through the library's four exports.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Plugin.h"

namespace qsxhost {

class Plugin {
public:
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the library at path. Null with *error naming the path and cause.
    static std::unique_ptr<Plugin> Load(const std::string& path, std::string* error);

    const std::string& Path() const { return path_; }
    const char* Description() const { return description_; }
    host::ClassDesc* ExportDesc() const { return desc_; }
    // A new exporter (owned by the caller), or null.
    host::ExporterPtr CreateExporter() const;
    // The version record's (key, value) pairs, when the library carries one.
    std::vector<std::pair<std::string, std::string>> VersionRecord() const;

private:
    Plugin() = default;
    // Checks the four exports' answers and finds the scene exporter; "" or
    // what is wrong with the library. Both platforms' loaders end here.
    std::string TakeExports(host::LibDescriptionFn describe, host::LibNumberClassesFn count,
                            host::LibClassDescFn classDesc, host::LibVersionFn version);
    void* handle_ = nullptr;
    std::string path_;
    const char* description_ = "";
    host::ClassDesc* desc_ = nullptr;
};

// Where the exporter library is looked for, in order: the given path (if not
// empty), beside the running executable, the installed plug-in directory.
std::vector<std::string> PluginSearchPath(const std::string& explicitPath);

// Where a library of the command's own (fileName) is looked for, in order:
// beside the program, then (on POSIX) the installed folder relative to it and
// the configured install folder.
std::vector<std::string> ModuleSearchPath(const std::string& fileName);

}  // namespace qsxhost
