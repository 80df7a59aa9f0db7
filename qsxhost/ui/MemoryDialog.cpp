#include "qsxhost/ui/MemoryDialog.h"

#include <algorithm>
#include <cstring>

#include "util/Text.h"

namespace qsxhost {

std::string TypedText(uint32_t style, std::string_view text) {
    // Letters of the basic Latin alphabet only, whatever the user's locale says.
    if (style & host::ES_UPPERCASE) return qsx::util::ToAsciiUpper(text);
    return std::string(text);
}

MemoryDialog::MemoryDialog(const host::DialogTemplate& dlg, host::DlgProc proc) : proc_(proc) {
    for (int i = 0; i < dlg.controlCount; ++i) {
        const host::DialogControl& c = dlg.controls[i];
        if (c.id == -1) continue;  // group boxes and labels are never addressed
        Control control;
        control.kind = c.kind;
        control.style = c.style;
        control.enabled = (c.style & host::WS_DISABLED) == 0;
        control.text = c.text ? c.text : "";
        controls_.emplace(c.id, std::move(control));
    }
}

MemoryDialog::Control* MemoryDialog::Find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const MemoryDialog::Control* MemoryDialog::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

int MemoryDialog::GetCheck(int id) const {
    const Control* c = Find(id);
    return c ? c->check : host::BST_UNCHECKED;
}

void MemoryDialog::SetCheck(int id, int state) {
    if (Control* c = Find(id)) c->check = state;
}

int MemoryDialog::GetText(int id, char* buffer, int size) const {
    if (!buffer || size <= 0) return 0;
    const Control* c = Find(id);
    const std::string empty;
    const std::string& text = c ? c->text : empty;
    const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

void MemoryDialog::SetText(int id, const char* text) {
    if (Control* c = Find(id)) c->text = text ? text : "";
}

int MemoryDialog::InsertString(int id, int index, const char* text) {
    Control* c = Find(id);
    if (!c || c->kind != host::ControlKind::DropDownList) return host::CB_ERR;
    const int count = static_cast<int>(c->items.size());
    if (index == -1) index = count;
    if (index < 0 || index > count) return host::CB_ERR;
    c->items.insert(c->items.begin() + index, text ? text : "");
    if (c->selection >= index) ++c->selection;  // the selected item stays selected
    return index;
}

int MemoryDialog::SetCurSel(int id, int index) {
    Control* c = Find(id);
    if (!c || c->kind != host::ControlKind::DropDownList) return host::CB_ERR;
    if (index < 0 || index >= static_cast<int>(c->items.size())) {
        c->selection = host::CB_ERR;
        return host::CB_ERR;
    }
    c->selection = index;
    return index;
}

int MemoryDialog::GetCurSel(int id) const {
    const Control* c = Find(id);
    if (!c || c->kind != host::ControlKind::DropDownList) return host::CB_ERR;
    return c->selection;
}

void MemoryDialog::Enable(int id, bool enabled) {
    if (Control* c = Find(id)) c->enabled = enabled;
}

bool MemoryDialog::IsEnabled(int id) const {
    const Control* c = Find(id);
    return c && c->enabled;
}

int MemoryDialog::MessageBox(const char* text, const char* caption, unsigned type) {
    messageBoxes_.push_back({text ? text : "", caption ? caption : "", type});
    return host::IDOK;
}

void MemoryDialog::EndDialog(intptr_t result) {
    ended_ = true;
    result_ = result;
}

intptr_t MemoryDialog::Open(intptr_t param) {
    return proc_ ? proc_(this, host::WM_INITDIALOG, 0, param) : 0;
}

void MemoryDialog::Command(int id) {
    if (proc_) proc_(this, host::WM_COMMAND, static_cast<uintptr_t>(static_cast<uint16_t>(id)), 0);
}

bool MemoryDialog::Click(int id) {
    Control* c = Find(id);
    if (!c || !c->enabled) return false;
    switch (c->kind) {
    case host::ControlKind::CheckBox:
        c->check = c->check == host::BST_CHECKED ? host::BST_UNCHECKED : host::BST_CHECKED;
        break;
    case host::ControlKind::PushButton:
    case host::ControlKind::DefPushButton:
        break;
    default:
        return false;
    }
    Command(id);
    return true;
}

bool MemoryDialog::Type(int id, std::string_view text) {
    Control* c = Find(id);
    if (!c || !c->enabled || c->kind != host::ControlKind::Edit) return false;
    c->text = TypedText(c->style, text);
    Command(id);
    return true;
}

bool MemoryDialog::Select(int id, int index) {
    Control* c = Find(id);
    if (!c || !c->enabled || c->kind != host::ControlKind::DropDownList) return false;
    SetCurSel(id, index);
    Command(id);
    return true;
}

std::string MemoryDialog::Text(int id) const {
    const Control* c = Find(id);
    return c ? c->text : std::string();
}

std::vector<std::string> MemoryDialog::Items(int id) const {
    const Control* c = Find(id);
    return c ? c->items : std::vector<std::string>();
}

namespace {

const host::DialogControl* FindControl(const host::DialogTemplate& dlg, int id) {
    for (int i = 0; i < dlg.controlCount; ++i)
        if (dlg.controls[i].id == id) return &dlg.controls[i];
    return nullptr;
}

}  // namespace

void SendCommand(host::DialogWindow* window, host::DlgProc proc, int id) {
    proc(window, host::WM_COMMAND, static_cast<uintptr_t>(static_cast<uint16_t>(id)), 0);
}

void ApplyEdit(host::DialogWindow* window, host::DlgProc proc, const host::DialogTemplate& dlg,
               const ControlEdit& edit) {
    switch (edit.kind) {
    case ControlEdit::Check:
        window->SetCheck(edit.id, edit.value);
        break;
    case ControlEdit::Text: {
        const host::DialogControl* c = FindControl(dlg, edit.id);
        window->SetText(edit.id, TypedText(c ? c->style : 0, edit.text).c_str());
        break;
    }
    case ControlEdit::Select:
        window->SetCurSel(edit.id, edit.value);
        break;
    }
    SendCommand(window, proc, edit.id);
}

intptr_t RunBatchDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                        const std::vector<ControlEdit>& edits, std::string* message) {
    MemoryDialog window(dlg, proc);
    window.Open(param);
    for (const ControlEdit& edit : edits) {
        if (window.Ended()) return window.Result();
        ApplyEdit(&window, proc, dlg, edit);
    }
    if (window.Ended()) return window.Result();

    const size_t shownBefore = window.MessageBoxes().size();
    window.Command(host::IDOK);
    if (window.Ended()) return window.Result();
    if (message) {
        const auto& shown = window.MessageBoxes();
        *message = shown.size() > shownBefore ? shown.back().text : std::string();
    }
    return -1;
}

}  // namespace qsxhost
