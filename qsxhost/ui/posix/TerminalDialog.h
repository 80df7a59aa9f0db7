// The options dialog as a full-screen form in the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Dialog.h"
#include "qsxhost/ui/MemoryDialog.h"

namespace qsxhost {

// The smallest terminal the form is laid out for.
constexpr int kTerminalMinWidth = 80;
constexpr int kTerminalMinHeight = 20;
// What RunTerminalDialog answers, without showing anything or calling the
// handler, when the terminal is smaller than that.
constexpr intptr_t kTerminalTooSmall = -2;

// Interactive: a full-screen modal form in the terminal, the edits applied
// before it is shown. Answers 1 (OK) or 0 (Cancel, Escape or the close box),
// or kTerminalTooSmall; a handler that ends the dialog with another value gets
// that value back. Standard input and output must be a terminal.
intptr_t RunTerminalDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                           const std::vector<ControlEdit>& edits);

}  // namespace qsxhost
