// A dialog window that lives only in memory: the controls of a template with
// their check states, texts, list items, selections and enabled flags. Batch
// runs drive a dialog handler through it, and tests look inside it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/Dialog.h"

namespace qsxhost {

struct RecordedMessageBox {
    std::string text;
    std::string caption;
    unsigned type;
};

class MemoryDialog : public host::DialogWindow {
public:
    // proc may be null when only the window operations are wanted.
    MemoryDialog(const host::DialogTemplate& dlg, host::DlgProc proc);

    // --- what the handler calls ---
    void SetUserData(intptr_t value) override { userData_ = value; }
    intptr_t GetUserData() const override { return userData_; }
    int GetCheck(int id) const override;
    void SetCheck(int id, int state) override;
    int GetText(int id, char* buffer, int size) const override;
    void SetText(int id, const char* text) override;
    int InsertString(int id, int index, const char* text) override;
    int SetCurSel(int id, int index) override;
    int GetCurSel(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override;
    void SetFocus() override { focused_ = true; }
    void CenterOnParent() override { centred_ = true; }
    int MessageBox(const char* text, const char* caption, unsigned type) override;
    void EndDialog(intptr_t result) override;

    // --- what a user does; each answers false when the control cannot take it
    // (missing, disabled, or of the wrong kind) and then sends nothing ---
    // Sends WM_INITDIALOG; answers what the handler returned.
    intptr_t Open(intptr_t param);
    // A button press or a click on a check box (which toggles it first).
    bool Click(int id);
    // Replaces the edit box's text with what is typed; a box with ES_UPPERCASE
    // turns letters into capitals as they come.
    bool Type(int id, std::string_view text);
    // Picks an item of a list (or -1 for none).
    bool Select(int id, int index);
    // WM_COMMAND for id, whatever the control's state (the handler reads the id only).
    void Command(int id);

    // --- inspection ---
    std::string Text(int id) const;
    std::vector<std::string> Items(int id) const;
    bool Ended() const { return ended_; }
    intptr_t Result() const { return result_; }
    bool Focused() const { return focused_; }
    bool Centred() const { return centred_; }
    const std::vector<RecordedMessageBox>& MessageBoxes() const { return messageBoxes_; }

private:
    struct Control {
        host::ControlKind kind = host::ControlKind::Edit;
        uint32_t style = 0;
        bool enabled = true;
        int check = host::BST_UNCHECKED;
        std::string text;
        std::vector<std::string> items;
        int selection = host::CB_ERR;
    };

    Control* Find(int id);
    const Control* Find(int id) const;

    host::DlgProc proc_;
    std::map<int, Control> controls_;
    intptr_t userData_ = 0;
    bool focused_ = false;
    bool centred_ = false;
    bool ended_ = false;
    intptr_t result_ = 0;
    std::vector<RecordedMessageBox> messageBoxes_;
};

// What typing text into an edit box of the given style leaves in it.
std::string TypedText(uint32_t style, std::string_view text);

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

// Sends WM_COMMAND for id to the handler, as a click or a change would.
void SendCommand(host::DialogWindow* window, host::DlgProc proc, int id);

// Applies one edit through the window's own operations and sends the command.
void ApplyEdit(host::DialogWindow* window, host::DlgProc proc, const host::DialogTemplate& dlg,
               const ControlEdit& edit);

}  // namespace qsxhost
