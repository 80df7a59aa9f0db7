// The class descriptor through which a host creates exporters, and the
// library-wide state of the plug-in.
#pragma once

#include "host/Plugin.h"

namespace qsx {

inline constexpr const char* kLibDescription = "Quorvantis QSX File Export Plug-In";
inline constexpr host::Class_ID kQsxExportClassID{0x503A5EE2, 0x3BD153FF};

class QsxExportClassDesc final : public host::ClassDesc {
public:
    int IsPublic() override { return 1; }
    void* Create(int loading) override;
    int BeginCreate(void*) override { return 0; }
    int EndCreate(void*) override { return 0; }
    const char* ClassName() override { return "Quorvantis"; }
    uint32_t SuperClassID() override { return host::SCENE_EXPORT_CLASS_ID; }
    host::Class_ID* ClassID(host::Class_ID* result) override {
        *result = kQsxExportClassID;
        return result;
    }
    const char* Category() override { return "Scene Export"; }
    int OkToCreate(void*) override { return 1; }
    int HasClassParams() override { return 0; }
    void EditClassParams(void*) override {}
    void ResetClassParams(int) override {}
    int NumActionTables() override { return 0; }
    void* GetActionTable(int) override { return nullptr; }
    int IsManipulator(void*) override { return 0; }
};

// The one descriptor, ready before the host's first call.
QsxExportClassDesc* GetQsxExportDesc();

// The library entry point: stores the module handle on every call and
// initialises the controls on the first call only. Always answers 1.
int LibraryEntry(void* instance, unsigned reason, void* reserved);
void* ModuleInstance();

// The platform's part of the first entry: the host's custom controls for this
// module, then whatever the window system needs (posix/ or win32/).
void InitControls(void* instance);

}  // namespace qsx
