// The options dialog as a real Windows dialog: made by the window system from
// the template resource that the plug-in library carries, and driven by the
// plug-in's handler through host::DialogWindow.
#pragma once

#include <cstdint>
#include <vector>

#include "host/Dialog.h"
#include "qsxhost/ui/MemoryDialog.h"

namespace qsxhost {

// What RunWin32Dialog answers when the dialog could not be made (no such
// resource in dlg.module, or no window system).
constexpr intptr_t kWin32DialogFailed = -3;

// Modal, owned by the active window, from resource dlg.resourceId of
// dlg.module; the edits are made right after the handler's opening. Answers
// what the handler passed to EndDialog, or kWin32DialogFailed.
intptr_t RunWin32Dialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                        const std::vector<ControlEdit>& edits);

// The wait cursor; answers the cursor it replaced, for RestoreWin32Cursor.
intptr_t ShowWaitCursor();
void RestoreWin32Cursor(intptr_t previous);

}  // namespace qsxhost
