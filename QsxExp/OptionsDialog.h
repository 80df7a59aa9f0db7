#pragma once
#include <cstdint>
#include "host/Dialog.h"
namespace qsx {
class QsxExport;
const host::DialogTemplate& OptionsDialogTemplate();
intptr_t OptionsDialogProc(host::DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam);
}  // namespace qsx
