#include "qsxhost/ui/win32/Dialog.h"

#include <cstring>
#include <string>

#include "util/win32/Wide.h"

// After the host's headers: <windows.h> defines macros named like the host's constants.
#include <windows.h>
#undef MessageBox  // the DialogWindow operation, not the macro for MessageBoxA/W

namespace qsxhost {
namespace {

// The plug-in's text is UTF-8; the dialog is a wide-character window, so
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
    int GetCheck(int id) const override { return static_cast<int>(IsDlgButtonChecked(hwnd, id)); }
    void SetCheck(int id, int state) override { CheckDlgButton(hwnd, id, static_cast<UINT>(state)); }
    int GetText(int id, char* buffer, int size) const override {
        if (size <= 0) return 0;
        buffer[0] = '\0';
        const HWND item = GetDlgItem(hwnd, id);
        std::wstring wide(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
        wide.resize(static_cast<size_t>(GetWindowTextW(item, wide.data(), static_cast<int>(wide.size()))));
        std::string text = qsx::util::WideToUtf8(wide);
        // Cut as the system cuts: to the buffer, never inside a character.
        size_t n = text.size() < static_cast<size_t>(size) ? text.size() : static_cast<size_t>(size) - 1;
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }
    void SetText(int id, const char* text) override { SetDlgItemTextW(hwnd, id, Wide(text).c_str()); }
    int InsertString(int id, int index, const char* text) override {
        const std::wstring wide = Wide(text);
        return static_cast<int>(SendDlgItemMessageW(hwnd, id, CB_INSERTSTRING, static_cast<WPARAM>(index),
                                                    reinterpret_cast<LPARAM>(wide.c_str())));
    }
    int SetCurSel(int id, int index) override {
        return static_cast<int>(SendDlgItemMessageA(hwnd, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0));
    }
    int GetCurSel(int id) const override { return static_cast<int>(SendDlgItemMessageA(hwnd, id, CB_GETCURSEL, 0, 0)); }
    void Enable(int id, bool enabled) override { EnableWindow(GetDlgItem(hwnd, id), enabled ? TRUE : FALSE); }
    bool IsEnabled(int id) const override { return IsWindowEnabled(GetDlgItem(hwnd, id)) != FALSE; }
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
    const std::vector<ControlEdit>* edits;
    Window window;
};

// The window system's side of the handler: the opening and the commands go to
// the plug-in's handler, everything else to the system's dialog defaults.
INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* s = reinterpret_cast<Session*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        s->window.hwnd = hwnd;
        const INT_PTR result = s->proc(&s->window, WM_INITDIALOG, wParam, s->param);
        for (const ControlEdit& e : *s->edits) ApplyEdit(&s->window, s->proc, *s->dlg, e);
        return result;
    }
    auto* s = reinterpret_cast<Session*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (s && message == WM_COMMAND) return s->proc(&s->window, WM_COMMAND, wParam, lParam);
    return FALSE;
}

}  // namespace

intptr_t RunDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                   const std::vector<ControlEdit>& edits) {
    Session s{&dlg, proc, param, &edits, {}};
    const INT_PTR rc = DialogBoxParamW(static_cast<HINSTANCE>(dlg.module), MAKEINTRESOURCEW(dlg.resourceId),
                                       GetActiveWindow(), DialogProc, reinterpret_cast<LPARAM>(&s));
    return rc == -1 && !s.window.hwnd ? kDialogFailed : rc;
}

intptr_t ShowWaitCursor() { return reinterpret_cast<intptr_t>(SetCursor(LoadCursorA(nullptr, IDC_WAIT))); }

void RestoreCursor(intptr_t previous) { SetCursor(reinterpret_cast<HCURSOR>(previous)); }

}  // namespace qsxhost
