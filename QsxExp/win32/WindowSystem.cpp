// The options dialog as the window system makes it, from template 133 in
// this library's resources, owned by the active window; the options in the
// registry under HKEY_CURRENT_USER; the system's wait cursor. A host that
// offers its own dialog runner or store (our command in batch) is asked first.
#include "QsxExp/WindowSystem.h"

#include "QsxExp/ClassDesc.h"
#include "QsxExp/win32/Registry.h"

#include <cstring>
#include <string>

#include "util/win32/Wide.h"

// After the host's headers: <windows.h> defines macros named like the host's constants.
#include <windows.h>
#undef MessageBox  // the DialogWindow operation, not the macro for MessageBoxA/W

namespace qsx {

namespace {

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

// The exporter's text is UTF-8; the dialog is a wide-character window, so
// that a path in any script shows as it is.
std::wstring Wide(const char* text) {
    std::wstring wide;
    qsx::util::Utf8ToWide(text ? text : "", &wide);
    return wide;
}

class Window final : public host::DialogWindow {
public:
    HWND hwnd = nullptr;

    void SetUserData(intptr_t value) override { SetWindowLongPtrW(hwnd, GWLP_USERDATA, value); }
    intptr_t GetUserData() const override { return GetWindowLongPtrW(hwnd, GWLP_USERDATA); }
    int GetCheck(int id) const override {
        return static_cast<int>(SendMessageA(Control(hwnd, id), BM_GETCHECK, 0, 0));
    }
    void SetCheck(int id, int state) override {
        SendMessageA(Control(hwnd, id), BM_SETCHECK, static_cast<WPARAM>(state), 0);
    }
    int GetText(int id, char* buffer, int size) const override {
        if (size <= 0) return 0;
        buffer[0] = '\0';
        const HWND item = Control(hwnd, id);
        std::wstring wide(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
        wide.resize(static_cast<size_t>(GetWindowTextW(item, wide.data(), static_cast<int>(wide.size()))));
        const std::string text = qsx::util::WideToUtf8(wide);
        // Cut as the system cuts: to the buffer, never inside a character.
        size_t n = text.size() < static_cast<size_t>(size) ? text.size() : static_cast<size_t>(size) - 1;
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }
    void SetText(int id, const char* text) override { SetWindowTextW(Control(hwnd, id), Wide(text).c_str()); }
    int InsertString(int id, int index, const char* text) override {
        const std::wstring wide = Wide(text);
        return static_cast<int>(SendMessageW(Control(hwnd, id), CB_INSERTSTRING, static_cast<WPARAM>(index),
                                             reinterpret_cast<LPARAM>(wide.c_str())));
    }
    int SetCurSel(int id, int index) override {
        return static_cast<int>(SendMessageA(Control(hwnd, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0));
    }
    int GetCurSel(int id) const override {
        return static_cast<int>(SendMessageA(Control(hwnd, id), CB_GETCURSEL, 0, 0));
    }
    void Enable(int id, bool enabled) override { EnableWindow(Control(hwnd, id), enabled ? TRUE : FALSE); }
    bool IsEnabled(int id) const override { return IsWindowEnabled(Control(hwnd, id)) != FALSE; }
    void SetFocus() override { ::SetFocus(hwnd); }
    // On the owner, or on the work area when there is none (a console program).
    void CenterOnParent() override {
        RECT area{}, self{};
        const HWND parent = GetParent(hwnd);
        if (!parent || !GetWindowRect(parent, &area)) SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(hwnd, &self);
        const int w = self.right - self.left, h = self.bottom - self.top;
        SetWindowPos(hwnd, nullptr, area.left + (area.right - area.left - w) / 2,
                     area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int MessageBox(const char* text, const char* caption, unsigned type) override {
        return MessageBoxW(hwnd, Wide(text).c_str(), Wide(caption).c_str(), type);
    }
    void EndDialog(intptr_t result) override { ::EndDialog(hwnd, result); }
};

struct Session {
    const host::DialogTemplate* dlg;
    host::DlgProc proc;
    intptr_t param;
    host::Extension* ext;
    Window window;
};

// The window system's side of the handler: the opening and the commands go
// to the exporter's handler, everything else to the system's dialog defaults.
INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* s = reinterpret_cast<Session*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        s->window.hwnd = hwnd;
        const INT_PTR result = s->proc(&s->window, message, wParam, s->param);
        if (s->ext) s->ext->DialogOpened(&s->window, s->proc, *s->dlg);
        return result;
    }
    auto* s = reinterpret_cast<Session*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (s && message == WM_COMMAND) return s->proc(&s->window, message, wParam, lParam);
    return FALSE;
}

}  // namespace

intptr_t RunOptionsDialog(host::Interface* ip, const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) {
    host::Extension* ext = ip ? ip->GetExtension() : nullptr;
    if (ext) {
        const intptr_t rc = ext->RunDialog(dlg, proc, param);
        if (rc != host::Extension::kNoDialogRunner) return rc;
    }
    Session s{&dlg, proc, param, ext, {}};
    const INT_PTR rc = DialogBoxParamW(static_cast<HINSTANCE>(ModuleInstance()), MAKEINTRESOURCEW(dlg.resourceId),
                                       GetActiveWindow(), DialogProc, reinterpret_cast<LPARAM>(&s));
    if (ext) ext->DialogEnded(rc);
    return rc == -1 ? 0 : rc;
}

host::Registry* OptionsStore(host::Interface* ip) {
    host::Extension* ext = ip ? ip->GetExtension() : nullptr;
    if (host::Registry* offered = ext ? ext->GetRegistry() : nullptr) return offered;
    return &OwnRegistry();
}

std::string OwnStoreError(const host::Registry* store) {
    return store == &OwnRegistry() ? OwnRegistry().LastError() : std::string();
}

intptr_t ShowWaitCursor() { return reinterpret_cast<intptr_t>(SetCursor(LoadCursorA(nullptr, IDC_WAIT))); }

void RestoreCursor(intptr_t previous) { SetCursor(reinterpret_cast<HCURSOR>(previous)); }

}  // namespace qsx
