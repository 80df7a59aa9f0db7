// The toolkit widgets that stand in for the dialog template's controls in
// the terminal: a group box frame, a check box, an edit box that can turn
// letters into capitals, and a drop-down list.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The toolkit's umbrella header pulls in its list view, which clang 14 cannot
// compile; take only the widgets used here, as the umbrella header would.
#define USE_FINAL_H
#include <final/fapplication.h>
#include <final/fevent.h>
#include <final/fwidget_functions.h>
#include <final/fwidgetcolors.h>
#include <final/input/fkeyboard.h>
#include <final/output/tty/fcharmap.h>
#include <final/output/tty/fterm.h>
#include <final/output/tty/ftermdata.h>
#include <final/dialog/fdialog.h>
#include <final/dialog/fmessagebox.h>
#include <final/widget/fbutton.h>
#include <final/widget/fcheckbox.h>
#include <final/widget/fcombobox.h>
#include <final/widget/flineedit.h>
#undef USE_FINAL_H

#include "host/Dialog.h"

namespace qsxhost::terminal {

using finalcut::FKey;
using finalcut::FPoint;
using finalcut::FRect;
using finalcut::FSize;
using finalcut::FString;

inline std::string ToBytes(const FString& text) { return text.toString(); }

inline bool IsEnter(FKey key) { return key == FKey::Return || key == FKey::Enter; }

// A group box: a frame with a caption. It takes no focus; its mnemonic moves
// the focus to the first control after it that takes focus, as a group box's
// mnemonic does in the window system this form stands in for.
class GroupFrame final : public finalcut::FWidget {
public:
    GroupFrame(const FString& caption, finalcut::FWidget* parent) : FWidget(parent), caption_(caption) {
        unsetFocusable();
        // The same keys the toolkit gives a labelled button: the letter, and Alt with it.
        const FKey hotkey = finalcut::getHotkey(caption_);
        const auto code = uint32_t(hotkey);
        const bool letter = (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
        if (letter || (code >= '0' && code <= '9')) {
            const uint32_t lower = letter ? (code | 0x20u) : code;
            const uint32_t upper = letter ? (code & ~0x20u) : code;
            addAccelerator(FKey(lower));
            if (upper != lower) addAccelerator(FKey(upper));
            addAccelerator(FKey::Meta_offset + lower);
        }
    }

    FString getClassName() const override { return "GroupFrame"; }

    void onAccel(finalcut::FAccelEvent* ev) override {
        auto* parent = getParentWidget();
        if (!parent) return;
        bool after = false;
        for (auto* child : parent->getChildren()) {
            if (child == this) {
                after = true;
                continue;
            }
            if (!after || !child->isWidget()) continue;
            auto* widget = static_cast<finalcut::FWidget*>(child);
            if (widget->isEnabled() && widget->acceptFocus() && widget->isShown()) {
                auto* previous = ev->focusedWidget();
                widget->setFocus();
                if (previous && previous->isWidget()) previous->redraw();
                widget->redraw();
                ev->accept();
                return;
            }
        }
    }

protected:
    void draw() override {
        auto* parent = getParentWidget();
        if (parent) {
            setForegroundColor(parent->getForegroundColor());
            setBackgroundColor(parent->getBackgroundColor());
        }
        setColor();
        finalcut::drawBorder(this, FRect{FPoint{1, 1}, getSize()});
        FString text;
        const std::size_t hotkeyPos = finalcut::getHotkeyPos(caption_, text);
        print() << FPoint{2, 1};
        const auto& colors = getColorTheme();
        for (std::size_t i = 0; i < text.getLength() && i + 3 < getWidth(); ++i) {
            if (i == hotkeyPos) {
                setColor(colors->label_hotkey_fg, getBackgroundColor());
                setUnderline();
                print(text[i]);
                unsetUnderline();
                setColor();
            } else {
                print(text[i]);
            }
        }
    }

private:
    FString caption_;
};

// An automatic check box. Enter belongs to the dialog (the default button),
// not to the box.
class CheckControl final : public finalcut::FCheckBox {
public:
    using FCheckBox::FCheckBox;
    void onKeyPress(finalcut::FKeyEvent* ev) override {
        if (IsEnter(ev->key())) return;  // left unaccepted: the dialog takes it
        FCheckBox::onKeyPress(ev);
    }
};

// An edit box; with ES_UPPERCASE, letters become capitals as they are typed.
// Coming in by Tab, Shift+Tab or a mnemonic selects the whole text, as an
// edit box of the window system this form stands in for does, so that typing
// replaces the value instead of being added to it. A click places the cursor.
class EditControl final : public finalcut::FLineEdit {
public:
    EditControl(bool upperCase, finalcut::FWidget* parent) : FLineEdit(parent), upperCase_(upperCase) {}

    void onKeyPress(finalcut::FKeyEvent* ev) override {
        const FKey key = ev->key();
        if (IsEnter(key)) return;  // the dialog's default button
        if (selected_ && !isReadOnly()) {
            if (key == FKey::Backspace || key == FKey::Erase || key == FKey::Del_char) {
                Select(false);
                setText(FString());
                redraw();
                emitCallback("changed");
                ev->accept();
                return;
            }
            if (IsPrintable(key)) {
                Select(false);
                setText(FString());
            } else if (key != FKey::Tab && key != FKey::Back_tab) {
                Select(false);  // a movement key keeps the text and ends the selection
            }
        }
        if (upperCase_ && key >= FKey('a') && key <= FKey('z')) {
            finalcut::FKeyEvent upper(finalcut::Event::KeyPress, FKey(uint32_t(key) - 0x20));
            FLineEdit::onKeyPress(&upper);
            if (upper.isAccepted()) ev->accept();
            return;
        }
        FLineEdit::onKeyPress(ev);
    }

    void onFocusIn(finalcut::FFocusEvent* ev) override {
        FLineEdit::onFocusIn(ev);
        Select(!getText().isEmpty());
    }

    void onFocusOut(finalcut::FFocusEvent* ev) override {
        Select(false);
        FLineEdit::onFocusOut(ev);
    }

    void onMouseDown(finalcut::FMouseEvent* ev) override {
        FLineEdit::onMouseDown(ev);
        Select(false);
    }

    // A selected text is shown in the colours of a selected item.
    void resetColors() override {
        FLineEdit::resetColors();
        if (!selected_) return;
        const auto& colors = getColorTheme();
        setForegroundColor(colors->selected_current_element_focus_fg);
        setBackgroundColor(colors->selected_current_element_focus_bg);
    }

private:
    static bool IsPrintable(FKey key) {
        const auto code = uint32_t(key);
        return code >= 0x20 && code != 0x7F && code < 0x110000 && !(code >= 0x80 && code < 0xA0);
    }

    void Select(bool on) {
        if (selected_ == on) return;
        selected_ = on;
        resetColors();
        redraw();
    }

    bool upperCase_;
    bool selected_ = false;
};

// A drop-down list without typing. It may have no selection, which the
// toolkit's combo box does not know, so the selection is kept here.
class ListControl final : public finalcut::FComboBox {
public:
    explicit ListControl(finalcut::FWidget* parent) : FComboBox(parent) {}

    std::vector<std::string> items;
    int selection = host::CB_ERR;
    std::function<void()> onPick;  // the user picked an item

    void Rebuild() {
        updating_ = true;
        clear();
        for (size_t i = 0; i < items.size(); ++i) insert(FString(items[i]), int(i));
        Show();
        updating_ = false;
    }

    void Show() {
        const bool was = updating_;
        updating_ = true;
        if (selection >= 0 && selection < int(items.size())) {
            setCurrentItem(std::size_t(selection) + 1);
            setText(FString(items[std::size_t(selection)]));
        } else {
            setText(FString());
        }
        redraw();
        updating_ = was;
    }

    // The toolkit opens the list as wide as the box, which cuts a longer item
    // ("Flat (multiple clumps)" in an 80-column form); it grows to show every
    // item whole, moved left as far as the terminal needs.
    void showDropDown() override {
        FComboBox::showDropDown();
        if (!DroppedDown()) return;
        auto* open = getOpenMenu();
        std::size_t longest = 0;
        for (const std::string& item : items) longest = std::max(longest, finalcut::getColumnWidth(FString(item)));
        const std::size_t screen = getDesktopWidth();
        const std::size_t width = std::min(longest + 4, screen > 1 ? screen - 1 : screen);  // frame, blanks, shadow
        if (width <= open->getWidth()) return;
        FPoint pos = open->getTermPos();
        pos.setX(std::max(1, std::min(pos.getX(), int(screen) - int(width))));
        open->setGeometry(pos, FSize{width, open->getHeight()});
        open->redraw();
    }

    void CloseList() {
        if (DroppedDown()) hideDropDown();
    }

    void Picked() {
        if (updating_ || items.empty()) return;
        const int index = getItemData<int>();
        selection = index;
        Show();
        if (onPick) onPick();
    }

    void onKeyPress(finalcut::FKeyEvent* ev) override {
        const FKey key = ev->key();
        if (selection == host::CB_ERR && !items.empty() && key == FKey::Up) {
            // From no selection, Up lands on the first item.
            selection = 0;
            Show();
            if (onPick) onPick();
            ev->accept();
            return;
        }
        // The toolkit's box takes Escape even while closed; then it is the dialog's Cancel.
        if ((key == FKey::Escape || key == FKey::Escape_mintty) && !DroppedDown()) return;
        // Down and Space open a closed list as well as Alt+Down, which is all the
        // toolkit's box knows; Up still steps back through the items.
        if ((key == FKey::Down || key == FKey::Meta_down || key == FKey(' ')) && !DroppedDown() && !items.empty()) {
            showDropDown();
            ev->accept();
            return;
        }
        FComboBox::onKeyPress(ev);
    }

private:
    bool DroppedDown() const {
        const auto* open = getOpenMenu();
        return open && open->isInstanceOf("FDropDownListBox") && open->getParentWidget() == this;
    }

    bool updating_ = false;
};

}  // namespace qsxhost::terminal
