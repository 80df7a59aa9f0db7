// The host's interactive side on Windows: the dialog itself, made from the
// plug-in's resources, and the system's wait cursor.
#include "qsxhost/app/HostApp.h"
#include "qsxhost/ui/win32/Dialog.h"

namespace qsxhost {

intptr_t HostApp::RunInteractiveDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) {
    return RunDialog(dlg, proc, param, edits_);
}

intptr_t HostApp::SetWaitCursor() { return ShowWaitCursor(); }

void HostApp::RestoreCursor(intptr_t previous) {
    qsxhost::RestoreCursor(previous);
    ClearProgress();
}

}  // namespace qsxhost
