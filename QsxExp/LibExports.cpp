// The four exports by which a host discovers the plug-in, and the load-time
// entry point.
#include <dlfcn.h>

#include "QsxExp/ClassDesc.h"
#include "QsxExp/Version.h"

#define QSX_EXPORT extern "C" __attribute__((visibility("default")))

QSX_EXPORT const char* LibDescription() { return qsx::kLibDescription; }

QSX_EXPORT int LibNumberClasses() { return 1; }

QSX_EXPORT host::ClassDesc* LibClassDesc(int i) { return i == 0 ? qsx::GetQsxExportDesc() : nullptr; }

QSX_EXPORT unsigned long LibVersion() { return host::VERSION_PLUGIN_API; }

// The version record, for hosts that show it (key, value pairs; null key ends).
QSX_EXPORT const char* LibVersionRecord(int i, const char** value) {
    if (i < 0 || i >= qsx::kVersionRecordSize) return nullptr;
    if (value) *value = qsx::kVersionRecord[i].value;
    return qsx::kVersionRecord[i].key;
}

// The loader's entry point, run when the library is loaded.
QSX_EXPORT int LibEntry(void* instance, unsigned reason, void* reserved) {
    return qsx::LibraryEntry(instance, reason, reserved);
}

namespace {

__attribute__((constructor)) void OnLoad() {
    Dl_info info{};
    void* base = dladdr(reinterpret_cast<void*>(&OnLoad), &info) ? info.dli_fbase : nullptr;
    qsx::LibraryEntry(base, 1 /* process attach */, nullptr);
}

}  // namespace
