#include "qsxhost/app/PluginLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#ifndef QSX_PLUGIN_DIR
#define QSX_PLUGIN_DIR "/usr/local/lib/qsxexport"
#endif

namespace qsxhost {

Plugin::~Plugin() {
    if (handle_) dlclose(handle_);
}

std::unique_ptr<Plugin> Plugin::Load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        return fail(why ? why : "cannot be loaded");
    }
    std::unique_ptr<Plugin> p(new Plugin());
    p->handle_ = h;
    p->path_ = path;
    auto describe = reinterpret_cast<host::LibDescriptionFn>(dlsym(h, "LibDescription"));
    auto count = reinterpret_cast<host::LibNumberClassesFn>(dlsym(h, "LibNumberClasses"));
    auto classDesc = reinterpret_cast<host::LibClassDescFn>(dlsym(h, "LibClassDesc"));
    auto version = reinterpret_cast<host::LibVersionFn>(dlsym(h, "LibVersion"));
    if (const std::string why = p->TakeExports(describe, count, classDesc, version); !why.empty()) return fail(why);
    return p;
}

std::vector<std::pair<std::string, std::string>> Plugin::VersionRecord() const {
    std::vector<std::pair<std::string, std::string>> out;
    using RecordFn = const char* (*)(int, const char**);
    auto record = reinterpret_cast<RecordFn>(dlsym(handle_, "LibVersionRecord"));
    if (!record) return out;
    for (int i = 0;; ++i) {
        const char* value = nullptr;
        const char* key = record(i, &value);
        if (!key) break;
        out.emplace_back(key, value ? value : "");
    }
    return out;
}

std::vector<std::string> ModuleSearchPath(const std::string& fileName) {
    std::vector<std::string> out;
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        dir.erase(dir.rfind('/') + 1);
        out.push_back(dir + fileName);
        // Installed: bin/qsxexport finds lib/qsxexport/ under whatever prefix it was installed to.
        out.push_back(dir + "../lib/qsxexport/" + fileName);
    }
    out.push_back(std::string(QSX_PLUGIN_DIR) + "/" + fileName);
    return out;
}

std::vector<std::string> PluginSearchPath(const std::string& explicitPath) {
    if (!explicitPath.empty()) return {explicitPath};
    return ModuleSearchPath("qsexp.so");
}

}  // namespace qsxhost
