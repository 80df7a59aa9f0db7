#include "QsxExp/ClassDesc.h"

#include <dlfcn.h>

#include <new>

#include "QsxExp/QsxExport.h"

namespace qsx {
namespace {

QsxExportClassDesc gDesc;
void* gInstance = nullptr;
int gControlsInitialised = 0;

// The host may offer its custom controls' initialisation; a stand-alone host
// that has none simply does not define it.
void InitHostControls(void* instance) {
    using InitFn = void (*)(void*);
    if (auto fn = reinterpret_cast<InitFn>(dlsym(RTLD_DEFAULT, "InitCustomControls"))) fn(instance);
}

}  // namespace

void* QsxExportClassDesc::Create(int) {
    // The host receives a SceneExport pointer.
    return static_cast<host::SceneExport*>(new (std::nothrow) QsxExport());
}

QsxExportClassDesc* GetQsxExportDesc() { return &gDesc; }

int LibraryEntry(void* instance, unsigned, void*) {
    gInstance = instance;
    if (!gControlsInitialised) {
        gControlsInitialised = 1;
        InitHostControls(instance);
    }
    return 1;
}

void* ModuleInstance() { return gInstance; }

}  // namespace qsx
