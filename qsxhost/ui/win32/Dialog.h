// The options dialog as a real Windows dialog: made by the window system from
// the template resource that the plug-in library carries, and driven by the
// plug-in's handler through host::DialogWindow.
#pragma once

#include <cstdint>
#include <vector>

#include "host/Dialog.h"
#include "qsxhost/ui/MemoryDialog.h"

namespace qsxhost {

// What RunDialog answers when the dialog could not be made (no such
// resource in dlg.module, or no window system).
constexpr intptr_t kDialogFailed = -3;

// Modal, owned by the active window, from resource dlg.resourceId of
// dlg.module; the edits are made right after the handler's opening. Answers
// what the handler passed to EndDialog, or kDialogFailed.
intptr_t RunDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                   const std::vector<ControlEdit>& edits);

// The wait cursor; answers the cursor it replaced, for RestoreCursor.
intptr_t ShowWaitCursor();
void RestoreCursor(intptr_t previous);

}  // namespace qsxhost
