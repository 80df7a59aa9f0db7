// The library's entry on systems without a loader entry point: a constructor
// run at load time, and the version record as an export (there are no
// version resources).
#include <dlfcn.h>

#include "QsxExp/ClassDesc.h"
#include "QsxExp/Version.h"
#include "QsxExp/posix/LibExport.h"

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
