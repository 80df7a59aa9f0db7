// The host's interactive side on POSIX: the dialog as a form in the terminal;
// a terminal has no pointer, so no wait cursor.
#include "qsxhost/app/HostApp.h"
#include "qsxhost/ui/posix/TerminalDialog.h"

namespace qsxhost {

intptr_t HostApp::RunInteractiveDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) {
    return RunTerminalDialog(dlg, proc, param, edits_);
}

intptr_t HostApp::SetWaitCursor() { return 0; }

void HostApp::RestoreCursor(intptr_t) { ClearProgress(); }

}  // namespace qsxhost
