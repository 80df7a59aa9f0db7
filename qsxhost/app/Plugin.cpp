#include <cstdio>

#include "qsxhost/app/PluginLoader.h"

namespace qsxhost {

std::string Plugin::TakeExports(host::LibDescriptionFn describe, host::LibNumberClassesFn count,
                                host::LibClassDescFn classDesc, host::LibVersionFn version) {
    if (!describe || !count || !classDesc || !version)
        return "not an export plug-in (LibDescription, LibNumberClasses, LibClassDesc or LibVersion missing)";
    const unsigned long v = version();
    if (v != host::VERSION_PLUGIN_API) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "built for plug-in interface 0x%08lX, this host needs 0x%08X", v,
                      static_cast<unsigned>(host::VERSION_PLUGIN_API));
        return buf;
    }
    if (count() < 1) return "the library offers no classes";
    description_ = describe();
    // Walk the descriptors until the library answers none.
    for (int i = 0; i < 1024; ++i) {
        host::ClassDesc* d = classDesc(i);
        if (!d) break;
        if (d->SuperClassID() == host::SCENE_EXPORT_CLASS_ID && !desc_) desc_ = d;
    }
    if (!desc_) return "the library offers no scene exporter";
    return "";
}

host::ExporterPtr Plugin::CreateExporter() const {
    return host::ExporterPtr(static_cast<host::SceneExport*>(desc_->Create(0)));
}

}  // namespace qsxhost
