#include "QsxExp/OptionsDialog.h"

#include <string>

#include "QsxExp/Options.h"
#include "QsxExp/QsxExport.h"
#include "QsxExp/WindowSystem.h"
#include "QsxExp/resource.h"

qsx::QsxExport* dialogExporter = nullptr;

namespace qsx {

namespace {

using host::ControlKind;

constexpr uint32_t kEdit = host::WS_BORDER | host::ES_AUTOHSCROLL | host::WS_TABSTOP;
constexpr uint32_t kList = host::WS_VSCROLL | host::WS_TABSTOP;
constexpr uint32_t kTab = host::WS_TABSTOP;

// Template order is also the tab order.
const host::DialogControl kControls[] = {
    {-1, ControlKind::GroupBox, "Position and Size", 5, 3, 184, 42, 0},
    {IDC_CENTRE, ControlKind::CheckBox, "&Centre object", 13, 14, 65, 10, kTab},
    {IDC_SCALETYPE, ControlKind::DropDownList, "", 13, 27, 63, 33, kList},
    {IDC_SCALEFACTOR, ControlKind::Edit, "", 82, 27, 70, 12, kEdit},
    {-1, ControlKind::GroupBox, "Hierarchy", 6, 46, 95, 41, 0},
    {IDC_PROTOTYPES, ControlKind::CheckBox, "Use &prototypes", 13, 57, 75, 10, host::WS_DISABLED | kTab},
    {IDC_HIERARCHY, ControlKind::DropDownList, "", 13, 69, 81, 52, kList},
    {-1, ControlKind::GroupBox, "&Hints", 105, 46, 84, 41, 0},
    {IDC_HINTS, ControlKind::DropDownList, "", 112, 63, 71, 48, kList},
    {-1, ControlKind::GroupBox, "Textures", 6, 89, 183, 50, 0},
    {IDC_LIT, ControlKind::CheckBox, "&Lit", 13, 100, 35, 10, kTab},
    {IDC_FILTER, ControlKind::CheckBox, "F&ilter", 83, 100, 35, 10, kTab},
    {IDC_FORESHORTEN, ControlKind::CheckBox, "&Foreshorten", 13, 112, 51, 10, kTab},
    {IDC_SHOWTEXTURES, ControlKind::CheckBox, "Show &textures", 13, 124, 59, 10, host::WS_GROUP | kTab},
    {IDC_OVERRIDEEXT, ControlKind::CheckBox, "Override &extension", 83, 124, 72, 10, kTab},
    {IDC_EXTNAME, ControlKind::Edit, "", 157, 122, 25, 13, host::WS_DISABLED | host::ES_UPPERCASE | kEdit},
    {-1, ControlKind::GroupBox, "Additional", 6, 140, 183, 50, 0},
    {IDC_SAVEHEADER, ControlKind::CheckBox, "Header", 13, 152, 41, 10, kTab},
    {IDC_HEADERPATH, ControlKind::Edit, "", 65, 150, 119, 12, host::WS_DISABLED | kEdit},
    {host::IDOK, ControlKind::DefPushButton, "OK", 196, 6, 50, 14, kTab},
    {host::IDCANCEL, ControlKind::PushButton, "Cancel", 196, 23, 50, 14, kTab},
    {IDC_USEDEFAULTS, ControlKind::PushButton, "&Use Defaults", 196, 72, 50, 14, kTab},
    {IDC_SAVEDEFAULTS, ControlKind::PushButton, "&Save Defaults", 196, 89, 50, 14, kTab},
    {IDC_SAVEANIMATION, ControlKind::CheckBox, "Animation", 13, 171, 47, 10, kTab},
    {IDC_ANIMATIONPATH, ControlKind::Edit, "", 65, 170, 119, 12, host::WS_DISABLED | kEdit},
};

const host::DialogTemplate kTemplate = {
    IDD_OPTIONS, "Quorvantis Export Options", 252, 194, "MS Sans Serif", 8,
    kControls,   static_cast<int>(sizeof(kControls) / sizeof(kControls[0])), nullptr,
};

template <size_t N>
void FillList(host::DialogWindow* dialog, int id, const char* const (&items)[N]) {
    for (size_t i = 0; i < N; ++i) dialog->InsertString(id, static_cast<int>(i), items[i]);
}

// Only the exact "checked" state counts; an indeterminate box is not ticked.
bool Ticked(const host::DialogWindow* dialog, int id) { return dialog->GetCheck(id) == host::BST_CHECKED; }

int CheckState(bool ticked) { return ticked ? host::BST_CHECKED : host::BST_UNCHECKED; }

void FollowCheck(host::DialogWindow* dialog, int checkId, int editId) {
    dialog->Enable(editId, Ticked(dialog, checkId));
}

void ShowWarning(host::DialogWindow* dialog, const char* text) {
    dialog->MessageBox(text, kWarningCaption, host::MB_OK | host::MB_ICONWARNING);
}

void SetBit(uint32_t& flags, uint32_t bit, bool on) {
    if (on)
        flags |= bit;
    else
        flags &= ~bit;
}

}  // namespace

const host::DialogTemplate& OptionsDialogTemplate() { return kTemplate; }

int QsxExport::LoadOptions() {
    qsx::LoadOptions(OptionsStore(ip), options);
    return 1;
}

int QsxExport::SaveOptions() {
    // A host without our extension learns nothing: the dialog goes on as if stored.
    host::Registry* store = OptionsStore(ip);
    if (!qsx::SaveOptions(store, options)) {
        if (host::Extension* ext = ip ? ip->GetExtension() : nullptr) ext->OptionsNotSaved(OwnStoreError(store));
    }
    return 1;
}

int QsxExport::OptionsFromDialog(host::DialogWindow* dialog) {
    char text[kDialogTextSize];

    options.centre = Ticked(dialog, IDC_CENTRE) ? 1 : 0;

    dialog->GetText(IDC_SCALEFACTOR, text, kDialogTextSize);
    if (!AcceptScaleFactor(text, &options.scaleFactor)) {
        ShowWarning(dialog, kScaleFactorWarning);
        return 0;
    }

    options.scaleType = dialog->GetCurSel(IDC_SCALETYPE);
    options.hierarchyType = dialog->GetCurSel(IDC_HIERARCHY);
    options.hints = dialog->GetCurSel(IDC_HINTS);

    SetBit(options.textureFlags, TEX_LIT, Ticked(dialog, IDC_LIT));
    SetBit(options.textureFlags, TEX_FILTER, Ticked(dialog, IDC_FILTER));
    SetBit(options.textureFlags, TEX_FORESHORTEN, Ticked(dialog, IDC_FORESHORTEN));
    SetBit(options.textureFlags, TEX_SHOW, Ticked(dialog, IDC_SHOWTEXTURES));
    SetBit(options.textureFlags, TEX_OVERRIDE_EXT, Ticked(dialog, IDC_OVERRIDEEXT));

    // Checked even while the override is off, so that a stored name is always
    // one the override can use once it is switched on.
    dialog->GetText(IDC_EXTNAME, text, kDialogTextSize);
    options.extName = text;
    if (!AcceptExtension(text)) {
        ShowWarning(dialog, kExtensionWarning);
        return 0;
    }

    options.saveHeader = Ticked(dialog, IDC_SAVEHEADER) ? 1 : 0;
    options.saveAnimation = Ticked(dialog, IDC_SAVEANIMATION) ? 1 : 0;
    return 1;
}

int QsxExport::OptionsToDialog(host::DialogWindow* dialog) {
    dialog->SetCheck(IDC_CENTRE, CheckState(options.centre != 0));
    dialog->SetText(IDC_SCALEFACTOR, FormatScaleFactor(options.scaleFactor).c_str());

    dialog->SetCurSel(IDC_SCALETYPE, options.scaleType);
    dialog->SetCurSel(IDC_HIERARCHY, options.hierarchyType);
    dialog->SetCurSel(IDC_HINTS, options.hints);

    const uint32_t flags = options.textureFlags;
    dialog->SetCheck(IDC_SHOWTEXTURES, CheckState(flags & TEX_SHOW));
    dialog->SetCheck(IDC_LIT, CheckState(flags & TEX_LIT));
    dialog->SetCheck(IDC_FORESHORTEN, CheckState(flags & TEX_FORESHORTEN));
    dialog->SetCheck(IDC_FILTER, CheckState(flags & TEX_FILTER));
    dialog->SetCheck(IDC_OVERRIDEEXT, CheckState(flags & TEX_OVERRIDE_EXT));

    dialog->Enable(IDC_EXTNAME, (flags & TEX_OVERRIDE_EXT) != 0);
    dialog->SetText(IDC_EXTNAME, options.extName.c_str());

    dialog->SetCheck(IDC_SAVEHEADER, CheckState(options.saveHeader != 0));
    dialog->Enable(IDC_HEADERPATH, options.saveHeader != 0);

    dialog->SetCheck(IDC_SAVEANIMATION, CheckState(options.saveAnimation != 0));
    dialog->Enable(IDC_ANIMATIONPATH, options.saveAnimation != 0);
    return 1;
}

intptr_t OptionsDialogProc(host::DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case host::WM_INITDIALOG:
        dialog->SetUserData(lParam);
        dialogExporter = reinterpret_cast<QsxExport*>(dialog->GetUserData());
        dialog->CenterOnParent();
        dialog->SetFocus();

        dialog->SetText(IDC_HEADERPATH, dialogExporter->headerPath.c_str());
        dialog->SetText(IDC_ANIMATIONPATH, dialogExporter->animationPath.c_str());

        FillList(dialog, IDC_SCALETYPE, kScaleTypes);
        FillList(dialog, IDC_HIERARCHY, kHierarchyTypes);
        FillList(dialog, IDC_HINTS, kHintTypes);
        dialog->SetCurSel(IDC_HINTS, 0);

        dialogExporter->LoadOptions();
        dialogExporter->OptionsToDialog(dialog);
        return 1;

    case host::WM_COMMAND:
        switch (static_cast<int>(wParam & 0xFFFF)) {
        case host::IDOK:
            // The host sees the files these options write before they are stored.
            if (dialogExporter->OptionsFromDialog(dialog) && dialogExporter->FilesApproved(dialog)) {
                dialogExporter->SaveOptions();
                dialog->EndDialog(1);
            }
            break;
        case host::IDCANCEL:
            dialog->EndDialog(0);
            break;
        case IDC_SAVEANIMATION:
            FollowCheck(dialog, IDC_SAVEANIMATION, IDC_ANIMATIONPATH);
            break;
        case IDC_SAVEHEADER:
            FollowCheck(dialog, IDC_SAVEHEADER, IDC_HEADERPATH);
            break;
        case IDC_OVERRIDEEXT:
            FollowCheck(dialog, IDC_OVERRIDEEXT, IDC_EXTNAME);
            break;
        case IDC_SAVEDEFAULTS:
            if (dialogExporter->OptionsFromDialog(dialog)) dialogExporter->SaveOptions();
            break;
        case IDC_USEDEFAULTS:
            dialogExporter->LoadOptions();
            dialogExporter->OptionsToDialog(dialog);
            break;
        default:
            break;
        }
        return 0;

    default:
        return 0;
    }
}

}  // namespace qsx
