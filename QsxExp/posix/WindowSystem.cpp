// Without a window system or a registry, the dialog and the settings are the
// host's to offer (the command's terminal form or batch runner, its settings
// file); a host that offers neither gets no dialog, and the export stops as
// if cancelled. A terminal has no pointer, so no wait cursor.
#include "QsxExp/WindowSystem.h"

namespace qsx {

intptr_t RunOptionsDialog(host::Interface* ip, const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) {
    host::Extension* ext = ip ? ip->GetExtension() : nullptr;
    const intptr_t rc = ext ? ext->RunDialog(dlg, proc, param) : host::Extension::kNoDialogRunner;
    if (rc != host::Extension::kNoDialogRunner) return rc;
    if (ext) ext->DialogEnded(-1);
    return 0;
}

host::Registry* OptionsStore(host::Interface* ip) {
    host::Extension* ext = ip ? ip->GetExtension() : nullptr;
    return ext ? ext->GetRegistry() : nullptr;
}

std::string OwnStoreError(const host::Registry*) { return {}; }

intptr_t ShowWaitCursor() { return 0; }

void RestoreCursor(intptr_t) {}

}  // namespace qsx
