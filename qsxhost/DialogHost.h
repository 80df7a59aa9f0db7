// Front ends that run a dialog template with its handler: a batch run that
// plays the user's edits in memory, and a full-screen form in the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Dialog.h"

namespace qsxhost {

// One thing a user does to a control: set a check box's state, type a text
// into an edit box (replacing what it held), or pick a list item (-1: none).
struct ControlEdit {
    enum Kind { Check, Text, Select } kind;
    int id;
    int value;
    std::string text;
};

// Batch: as if the user opened the dialog, made the edits (each edit is
// followed by a WM_COMMAND for its id, so enabling rules apply) and pressed
// OK. Edits reach a control even while it is disabled, so that a command line
// can set a value without first setting what enables it. Answers 1 when the
// dialog ended with 1; 0 if it ended with 0; -1 when OK was refused by a
// check, with *message (when given) set to the warning text shown.
intptr_t RunBatchDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                        const std::vector<ControlEdit>& edits, std::string* message);

// Interactive: a full-screen modal form in the terminal, the edits applied
// before it is shown. Answers 1 (OK) or 0 (Cancel, Escape or the close box);
// a handler that ends the dialog with another value gets that value back.
// Standard input and output must be a terminal.
intptr_t RunTerminalDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                           const std::vector<ControlEdit>& edits);

// Applies one edit through the window's own operations and sends the command.
void ApplyEdit(host::DialogWindow* window, host::DlgProc proc, const host::DialogTemplate& dlg,
               const ControlEdit& edit);

}  // namespace qsxhost
