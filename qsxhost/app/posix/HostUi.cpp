// The host's interactive side on POSIX: the dialog as a form in the terminal,
// the settings in the command's settings file, for either dialog.
#include "qsxhost/app/HostApp.h"
#include "qsxhost/ui/posix/TerminalDialog.h"

namespace qsxhost {

intptr_t HostApp::RunInteractiveDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) {
    return RunTerminalDialog(dlg, proc, param, edits_);
}

host::Registry* HostApp::GetRegistry() { return &registry_; }

}  // namespace qsxhost
