#include "QsxExp/ClassDesc.h"

#include <new>

#include "QsxExp/QsxExport.h"

namespace qsx {
namespace {

QsxExportClassDesc gDesc;
void* gInstance = nullptr;
int gControlsInitialised = 0;

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
        InitControls(instance);
    }
    return 1;
}

void* ModuleInstance() { return gInstance; }

}  // namespace qsx
