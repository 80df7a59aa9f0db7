// Modal dialogs as the host's window system offers them: a template of
// controls, a message handler, and the operations the handler may call on the
// open dialog. A host renders the template however it can (a terminal form, an
// in-memory stand-in for batch runs) and reports commands by control id.
#pragma once

#include <cstdint>

namespace host {

enum class ControlKind { GroupBox, CheckBox, DropDownList, Edit, DefPushButton, PushButton };

// Style bits beyond "child and visible", which every control has.
enum : uint32_t {
    WS_DISABLED = 0x08000000u,
    WS_TABSTOP = 0x00010000u,
    WS_GROUP = 0x00020000u,
    WS_BORDER = 0x00800000u,
    WS_VSCROLL = 0x00200000u,
    ES_UPPERCASE = 0x0008u,
    ES_AUTOHSCROLL = 0x0080u,
};

struct DialogControl {
    int id;  // -1 for controls that are never addressed (group boxes)
    ControlKind kind;
    const char* text;  // may hold a '&' before the mnemonic letter
    int x, y, w, h;    // dialog units
    uint32_t style;
};

struct DialogTemplate {
    int resourceId;
    const char* caption;
    int w, h;  // dialog units
    const char* font;
    int pointSize;
    const DialogControl* controls;  // template order, which is also the tab order
    int controlCount;
    // The library whose resources hold this template as resourceId, for a
    // window system that makes dialogs from resources (Windows); null when
    // the fields above are all there is.
    void* module = nullptr;
};

constexpr unsigned WM_INITDIALOG = 0x0110;
constexpr unsigned WM_COMMAND = 0x0111;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int CB_ERR = -1;
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONWARNING = 0x30;  // the exclamation icon

class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    virtual void SetUserData(intptr_t value) = 0;
    virtual intptr_t GetUserData() const = 0;

    virtual int GetCheck(int id) const = 0;
    virtual void SetCheck(int id, int state) = 0;
    // Copies at most size-1 characters and a NUL; returns the number copied.
    virtual int GetText(int id, char* buffer, int size) const = 0;
    virtual void SetText(int id, const char* text) = 0;
    // Lists: insert at index (-1 appends); select an index (one outside the
    // list clears the selection and answers CB_ERR); the selection or CB_ERR.
    virtual int InsertString(int id, int index, const char* text) = 0;
    virtual int SetCurSel(int id, int index) = 0;
    virtual int GetCurSel(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsEnabled(int id) const = 0;
    virtual void SetFocus() = 0;
    virtual void CenterOnParent() = 0;
    virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;
    virtual void EndDialog(intptr_t result) = 0;
};

using DlgProc = intptr_t (*)(DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

}  // namespace host
