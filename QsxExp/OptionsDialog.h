// The options dialog: its template (resource 133) and its message handler.
// The handler works only through host::DialogWindow, so any front end that
// renders the template (a terminal form, an in-memory window) can run it.
#pragma once

#include <cstdint>

#include "host/Dialog.h"

namespace qsx {

class QsxExport;

inline constexpr const char* kWarningCaption = "Quorvantis File Exporter";
inline constexpr const char* kScaleFactorWarning = "Please enter a positive number";
inline constexpr const char* kExtensionWarning = "Please enter no more than 3 characters";

// The size of the buffer an edit box is read into: at most 259 characters.
inline constexpr int kDialogTextSize = 260;

const host::DialogTemplate& OptionsDialogTemplate();

// WM_INITDIALOG takes the QsxExport* in lParam; WM_COMMAND acts on the control
// id in the low 16 bits of wParam. Answers 1 for the opening, 0 otherwise.
intptr_t OptionsDialogProc(host::DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

}  // namespace qsx

// The exporter whose options the open dialog edits. Only one options dialog
// is open at a time; the pointer stays after the dialog closes.
extern qsx::QsxExport* dialogExporter;

using qsx::OptionsDialogProc;
using qsx::OptionsDialogTemplate;
