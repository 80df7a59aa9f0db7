// The host's interactive side on Windows: the plug-in makes the real dialog
// from its own resources and keeps the settings in the registry itself; the
// host makes its edits once the dialog is open. A batch run keeps its own
// window-less dialog and its store (which may be read-only).
#include "qsxhost/app/HostApp.h"

namespace qsxhost {

intptr_t HostApp::RunInteractiveDialog(const host::DialogTemplate&, host::DlgProc, intptr_t) {
    return kNoDialogRunner;
}

host::Registry* HostApp::GetRegistry() { return dialogMode_ == DialogMode::Batch ? &registry_ : nullptr; }

}  // namespace qsxhost
