// Provisional until the full dialog lands.
#include "QsxExp/OptionsDialog.h"
#include "QsxExp/QsxExport.h"
namespace qsx {
const host::DialogTemplate& OptionsDialogTemplate() {
    static const host::DialogTemplate t{133, "Quorvantis Export Options", 252, 194, "MS Sans Serif", 8, nullptr, 0};
    return t;
}
intptr_t OptionsDialogProc(host::DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (message == host::WM_INITDIALOG) {
        dialog->SetUserData(lParam);
        reinterpret_cast<QsxExport*>(lParam)->LoadOptions();
        return 1;
    }
    if (message == host::WM_COMMAND) {
        auto* e = reinterpret_cast<QsxExport*>(dialog->GetUserData());
        if ((wParam & 0xFFFF) == host::IDOK) { e->SaveOptions(); dialog->EndDialog(1); }
        if ((wParam & 0xFFFF) == host::IDCANCEL) dialog->EndDialog(0);
    }
    return 0;
}
int QsxExport::OptionsFromDialog(host::DialogWindow*) { return 1; }
int QsxExport::OptionsToDialog(host::DialogWindow*) { return 1; }
}  // namespace qsx
