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
    if (!describe || !count || !classDesc || !version)
        return fail("not an export plug-in (LibDescription, LibNumberClasses, LibClassDesc or LibVersion missing)");
    const unsigned long v = version();
    if (v != host::VERSION_PLUGIN_API) {
        char buf[96];
        snprintf(buf, sizeof buf, "built for plug-in interface 0x%08lX, this host needs 0x%08X", v,
                 host::VERSION_PLUGIN_API);
        return fail(buf);
    }
    if (count() < 1) return fail("the library offers no classes");
    p->description_ = describe();
    // Walk the descriptors until the library answers none.
    for (int i = 0; i < 1024; ++i) {
        host::ClassDesc* d = classDesc(i);
        if (!d) break;
        if (d->SuperClassID() == host::SCENE_EXPORT_CLASS_ID && !p->desc_) p->desc_ = d;
    }
    if (!p->desc_) return fail("the library offers no scene exporter");
    return p;
}

std::unique_ptr<host::SceneExport> Plugin::CreateExporter() const {
    return std::unique_ptr<host::SceneExport>(static_cast<host::SceneExport*>(desc_->Create(0)));
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
