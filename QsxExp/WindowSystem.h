// What the exporter asks of its platform beyond files: the options dialog,
// the store the options are kept in, and the wait cursor. Where the host
// offers its own dialog runner or store (host::Extension) they are used;
// otherwise the platform's layer (posix/ or win32/) has its own.
#pragma once

#include <cstdint>
#include <string>

#include "host/Dialog.h"
#include "host/Interface.h"
#include "host/Registry.h"

namespace qsx {

// Modal, with param as the creation parameter; answers what the handler
// passed to EndDialog, 0 when the dialog could not be shown (the export
// stops as if cancelled).
intptr_t RunOptionsDialog(host::Interface* ip, const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param);

// The host's store when it offers one, else the platform's; may be null
// where the platform has none (every read then fails, every write too).
host::Registry* OptionsStore(host::Interface* ip);
// Why the latest write to store failed when it is the platform's own; ""
// for the host's.
std::string OwnStoreError(const host::Registry* store);

// The system's wait cursor; answers the cursor it replaced, for RestoreCursor.
intptr_t ShowWaitCursor();
void RestoreCursor(intptr_t previous);

}  // namespace qsx
