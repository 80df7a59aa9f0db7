#include "qsxhost/ui/posix/TerminalDialog.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <functional>
#include <map>

#include <sys/ioctl.h>
#include <unistd.h>

#include "qsxhost/ui/MemoryDialog.h"
#include "qsxhost/ui/posix/TerminalWidgets.h"

namespace qsxhost {

// ---------------------------------------------------------------------------
// The terminal form

namespace {

using namespace terminal;  // the form is made of these widgets and their names

// Dialog units of the template are mapped onto the terminal's cells; a row of
// text is about 8 units high and a character about 4 wide, so a 252 x 194
// dialog wants roughly 63 x 24 cells and fits into 80 x 24 once it is spread.
constexpr int kMaxWidth = 110;
constexpr int kMaxHeight = 30;

// The keys, on the form's bottom border: every row inside it belongs to the
// controls at the smallest size. Short enough for the 78 columns between the
// corners of an 80-column form.
constexpr const char* kKeyHints = "Tab/S-Tab:move Space:tick Alt+key:jump Alt+Down/Space:list Enter:OK Esc:Cancel";

struct ControlSlot {
    const host::DialogControl* def;
    finalcut::FWidget* widget;
    host::ControlKind kind;
};

// Vertical layout: every control (and each border line of a group box) is a
// line at a position in dialog units with a horizontal extent. Lines that
// overlap horizontally keep their order on distinct rows; within that, each
// takes the row proportional to its position.
struct LayoutLine {
    double pos;
    int x1, x2;
    int height;  // rows taken, including a shadow
    int row = 0;
};

void AssignRows(std::vector<LayoutLine*>& lines, int rows, int dialogHeight) {
    std::stable_sort(lines.begin(), lines.end(), [](const LayoutLine* a, const LayoutLine* b) { return a->pos < b->pos; });
    const size_t n = lines.size();
    auto overlaps = [](const LayoutLine* a, const LayoutLine* b) { return a->x1 < b->x2 && b->x1 < a->x2; };
    // Rows that the line and everything that must come below it need.
    std::vector<int> need(n, 0);
    for (size_t i = n; i-- > 0;) {
        int below = 0;
        for (size_t k = i + 1; k < n; ++k)
            if (overlaps(lines[i], lines[k])) below = std::max(below, need[k]);
        need[i] = lines[i]->height + below;
    }
    for (size_t i = 0; i < n; ++i) {
        int minRow = 0;
        for (size_t j = 0; j < i; ++j)
            if (overlaps(lines[j], lines[i])) minRow = std::max(minRow, lines[j]->row + lines[j]->height);
        const int target = int(std::lround(lines[i]->pos * (rows - 1) / dialogHeight));
        const int maxRow = rows - need[i];
        lines[i]->row = std::max(minRow, std::min(target, maxRow));
    }
}

class TerminalForm final : public finalcut::FDialog, public host::DialogWindow {
public:
    TerminalForm(finalcut::FWidget* parent, const host::DialogTemplate& dlg, host::DlgProc proc)
        : FDialog(parent), template_(dlg), proc_(proc) {
        setText(FString(dlg.caption ? dlg.caption : ""));
        setResizeable(false);
        setMinimizable(false);
        setShadow(false);
        // The window menu's button would stand at the left of the title; the
        // form has nothing to offer there that Escape does not.
        unsetTitlebarButtonVisibility();
        Build();
        Layout();
    }

    // --- host::DialogWindow ---
    void SetUserData(intptr_t value) override { userData_ = value; }
    intptr_t GetUserData() const override { return userData_; }

    int GetCheck(int id) const override {
        const ControlSlot* s = Slot(id);
        if (!s || s->kind != host::ControlKind::CheckBox) return host::BST_UNCHECKED;
        return static_cast<finalcut::FCheckBox*>(s->widget)->isChecked() ? host::BST_CHECKED : host::BST_UNCHECKED;
    }

    void SetCheck(int id, int state) override {
        const ControlSlot* s = Slot(id);
        if (!s || s->kind != host::ControlKind::CheckBox) return;
        auto* box = static_cast<finalcut::FCheckBox*>(s->widget);
        box->setChecked(state == host::BST_CHECKED);
        box->redraw();
    }

    int GetText(int id, char* buffer, int size) const override {
        if (!buffer || size <= 0) return 0;
        const std::string text = TextOf(id);
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        std::copy_n(text.data(), n, buffer);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }

    void SetText(int id, const char* text) override {
        const ControlSlot* s = Slot(id);
        if (!s) return;
        const FString value(text ? text : "");
        switch (s->kind) {
        case host::ControlKind::Edit: {
            auto* edit = static_cast<finalcut::FLineEdit*>(s->widget);
            edit->setText(value);
            edit->redraw();
            break;
        }
        case host::ControlKind::CheckBox:
            static_cast<finalcut::FCheckBox*>(s->widget)->setText(value);
            s->widget->redraw();
            break;
        case host::ControlKind::PushButton:
        case host::ControlKind::DefPushButton:
            static_cast<finalcut::FButton*>(s->widget)->setText(value);
            s->widget->redraw();
            break;
        default:
            break;
        }
    }

    int InsertString(int id, int index, const char* text) override {
        ListControl* list = List(id);
        if (!list) return host::CB_ERR;
        const int count = static_cast<int>(list->items.size());
        if (index == -1) index = count;
        if (index < 0 || index > count) return host::CB_ERR;
        list->items.insert(list->items.begin() + index, text ? text : "");
        if (list->selection >= index) ++list->selection;
        list->Rebuild();
        return index;
    }

    int SetCurSel(int id, int index) override {
        ListControl* list = List(id);
        if (!list) return host::CB_ERR;
        const bool inside = index >= 0 && index < static_cast<int>(list->items.size());
        list->selection = inside ? index : host::CB_ERR;
        list->Show();
        return list->selection;
    }

    int GetCurSel(int id) const override {
        const ListControl* list = List(id);
        return list ? list->selection : host::CB_ERR;
    }

    void Enable(int id, bool enabled) override {
        const ControlSlot* s = Slot(id);
        if (!s) return;
        s->widget->setEnable(enabled);
        s->widget->redraw();
    }

    bool IsEnabled(int id) const override {
        const ControlSlot* s = Slot(id);
        return s && s->widget->isEnabled();
    }

    void SetFocus() override { wantFocus_ = true; }

    // The form fills the terminal's middle; there is no other window to centre on.
    void CenterOnParent() override {}

    int MessageBox(const char* text, const char* caption, unsigned type) override {
        finalcut::FMessageBox box(FString(caption ? caption : ""), FString(text ? text : ""),
                                  finalcut::FMessageBox::ButtonType::Ok, finalcut::FMessageBox::ButtonType::Reject,
                                  finalcut::FMessageBox::ButtonType::Reject, this);
        if ((type & 0xF0) == host::MB_ICONWARNING) {
            const auto& colors = getColorTheme();
            box.setForegroundColor(colors->error_box_fg);
            box.setBackgroundColor(colors->error_box_bg);
        }
        box.setCenterText();
        box.exec();
        return host::IDOK;
    }

    void EndDialog(intptr_t result) override {
        ended_ = true;
        result_ = result;
        if (running_) finalcut::FApplication::getApplicationObject()->quit();
    }

    // --- running ---
    void Open(intptr_t param) { proc_(this, host::WM_INITDIALOG, 0, param); }
    void Command(int id) { SendCommand(this, proc_, id); }
    bool Ended() const { return ended_; }
    intptr_t Result() const { return result_; }
    void SetRunning(bool running) { running_ = running; }

    void FocusFirst() {
        if (!wantFocus_) return;
        for (const ControlSlot& s : slots_) {
            if (s.widget->isEnabled() && s.widget->acceptFocus()) {
                s.widget->setFocus();
                return;
            }
        }
    }

    void onKeyPress(finalcut::FKeyEvent* ev) override {
        const FKey key = ev->key();
        if (tooSmall_) {
            // Nothing can be seen to act on; only leaving is offered.
            ev->accept();
            if (key == FKey::Escape || key == FKey::Escape_mintty) Command(host::IDCANCEL);
            return;
        }
        if (IsEnter(key)) {
            ev->accept();
            Command(DefaultButton());
            return;
        }
        if (key == FKey::Escape || key == FKey::Escape_mintty) {
            ev->accept();
            Command(host::IDCANCEL);
            return;
        }
        FDialog::onKeyPress(ev);
    }

protected:
    void draw() override {
        FDialog::draw();
        setColor();
        const std::size_t width = getWidth();
        if (tooSmall_) {
            const std::string lines[] = {
                "The terminal is " + std::to_string(getDesktopWidth()) + "x" + std::to_string(getDesktopHeight()) + ";",
                "this dialog needs " + std::to_string(kTerminalMinWidth) + "x" + std::to_string(kTerminalMinHeight) + ".",
                "Enlarge it, or press Esc to cancel.",
            };
            const int top = std::max(2, int(getHeight()) / 2 - 1);
            for (int i = 0; i < 3 && top + i < int(getHeight()); ++i) {
                const std::string& line = lines[i];
                if (width < 3) break;
                const std::size_t room = width - 2;
                const std::size_t n = std::min(line.size(), room);
                print() << FPoint{int(2 + (room - n) / 2), top + i} << FString(line.substr(0, n));
            }
            return;
        }
        const FString hints(kKeyHints);
        if (width < 4 || hints.getLength() + 2 > width) return;
        print() << FPoint{int(1 + (width - hints.getLength()) / 2), int(getHeight())} << hints;
    }

    // The terminal changed its size: the form is laid out for the new one.
    void adjustSize() override {
        FDialog::adjustSize();
        Layout();
    }

    // The close box and the window menu's "Close" mean Cancel; the handler decides.
    void onClose(finalcut::FCloseEvent* ev) override {
        if (ended_) {
            ev->accept();
            return;
        }
        ev->ignore();
        Command(host::IDCANCEL);
    }

private:
    const ControlSlot* Slot(int id) const {
        auto it = byId_.find(id);
        return it == byId_.end() ? nullptr : &slots_[it->second];
    }

    ListControl* List(int id) const {
        const ControlSlot* s = Slot(id);
        if (!s || s->kind != host::ControlKind::DropDownList) return nullptr;
        return static_cast<ListControl*>(s->widget);
    }

    std::string TextOf(int id) const {
        const ControlSlot* s = Slot(id);
        if (!s) return std::string();
        switch (s->kind) {
        case host::ControlKind::Edit:
            return ToBytes(static_cast<finalcut::FLineEdit*>(s->widget)->getText());
        case host::ControlKind::CheckBox:
            return ToBytes(static_cast<finalcut::FCheckBox*>(s->widget)->getText());
        case host::ControlKind::PushButton:
        case host::ControlKind::DefPushButton:
            return ToBytes(static_cast<finalcut::FButton*>(s->widget)->getText());
        case host::ControlKind::DropDownList: {
            const ListControl* list = static_cast<const ListControl*>(s->widget);
            return list->selection >= 0 ? list->items[std::size_t(list->selection)] : std::string();
        }
        default:
            return std::string();
        }
    }

    int DefaultButton() const {
        for (const ControlSlot& s : slots_)
            if (s.kind == host::ControlKind::DefPushButton) return s.def->id;
        return host::IDOK;
    }

    // Makes a widget for every control of the template; Layout places them.
    void Build() {
        const int count = template_.controlCount;
        widgets_.assign(std::size_t(count), nullptr);
        for (int i = 0; i < count; ++i) {
            const host::DialogControl& c = template_.controls[i];
            const FString text(c.text ? c.text : "");
            finalcut::FWidget* widget = nullptr;
            switch (c.kind) {
            case host::ControlKind::GroupBox:
                widget = new GroupFrame(text, this);
                break;
            case host::ControlKind::CheckBox: {
                auto* box = new CheckControl(text, this);
                box->addCallback("clicked", [this, id = c.id] { Command(id); });
                widget = box;
                break;
            }
            case host::ControlKind::DropDownList: {
                auto* list = new ListControl(this);
                list->setEditable(false);
                list->unsetShadow();
                list->onPick = [this, id = c.id] { Command(id); };
                for (const char* signal : {"row-changed", "clicked"})
                    list->addCallback(signal, [list] { list->Picked(); });
                widget = list;
                break;
            }
            case host::ControlKind::Edit: {
                auto* edit = new EditControl((c.style & host::ES_UPPERCASE) != 0, this);
                edit->unsetShadow();
                edit->addCallback("changed", [this, id = c.id] { Command(id); });
                widget = edit;
                break;
            }
            case host::ControlKind::PushButton:
            case host::ControlKind::DefPushButton: {
                auto* button = new finalcut::FButton(FString(text), this);
                button->addCallback("clicked", [this, id = c.id] { Command(id); });
                widget = button;
                break;
            }
            }
            if (!widget) continue;
            widgets_[std::size_t(i)] = widget;
            if ((c.style & host::WS_DISABLED) != 0) widget->setEnable(false);
            if (c.id != -1 && c.kind != host::ControlKind::GroupBox) {
                byId_[c.id] = slots_.size();
                slots_.push_back({&c, widget, c.kind});
            }
        }
    }

    // Places the form in the middle of the terminal and every control in it;
    // below the smallest size it fills the terminal with a note instead, the
    // controls hidden until the terminal is large enough again.
    void Layout() {
        if (laying_) return;  // placing the form adjusts its size again
        laying_ = true;
        PlaceAll();
        laying_ = false;
    }

    void PlaceAll() {
        const int termWidth = int(getDesktopWidth());
        const int termHeight = int(getDesktopHeight());
        if (termWidth < kTerminalMinWidth || termHeight < kTerminalMinHeight) {
            HideControls();
            setGeometry(FPoint{1, 1}, FSize{std::size_t(std::max(termWidth, 1)), std::size_t(std::max(termHeight, 1))});
            redraw();
            return;
        }
        const int width = std::min(termWidth, kMaxWidth);
        const int height = std::min(termHeight, kMaxHeight);
        setGeometry(FPoint{1 + (termWidth - width) / 2, 1 + (termHeight - height) / 2},
                    FSize{std::size_t(width), std::size_t(height)});
        const int clientWidth = int(getClientWidth());
        const int clientHeight = int(getClientHeight());
        const double xScale = double(clientWidth) / std::max(1, template_.w);

        // Lines for the vertical layout: one per control, two per group box.
        const int count = template_.controlCount;
        std::vector<LayoutLine> tops(static_cast<std::size_t>(count));
        std::vector<LayoutLine> bottoms(static_cast<std::size_t>(count));
        std::vector<LayoutLine*> lines;
        std::vector<int> lefts;
        for (int i = 0; i < count; ++i) {
            const host::DialogControl& c = template_.controls[i];
            lefts.push_back(c.x);
            LayoutLine& top = tops[std::size_t(i)];
            top.x1 = c.x;
            top.x2 = c.x + c.w;
            top.height = 1;
            if (c.kind == host::ControlKind::GroupBox) {
                top.pos = c.y + 4;  // the caption's middle
                LayoutLine& bottom = bottoms[std::size_t(i)];
                bottom = top;
                bottom.pos = c.y + c.h;
                lines.push_back(&bottom);
            } else {
                // A drop-down list's height includes its opened list.
                const int shown = c.kind == host::ControlKind::DropDownList ? 12 : c.h;
                top.pos = c.y + shown / 2.0;
                if (c.kind == host::ControlKind::PushButton || c.kind == host::ControlKind::DefPushButton)
                    top.height = 2;  // with its shadow
            }
            lines.push_back(&top);
        }
        AssignRows(lines, clientHeight, template_.h);

        // Left edges one dialog unit apart are meant as one (the template's
        // first box starts a unit left of those below it); rounded on their
        // own they would part by a column at some widths.
        auto column = [xScale](int x) { return 1 + int(std::lround(x * xScale)); };
        std::sort(lefts.begin(), lefts.end());
        std::map<int, int> leftColumn;
        for (size_t k = 0; k < lefts.size(); ++k)
            leftColumn[lefts[k]] = k > 0 && lefts[k] - lefts[k - 1] <= 1 ? leftColumn[lefts[k - 1]] : column(lefts[k]);

        for (int i = 0; i < count; ++i) {
            finalcut::FWidget* widget = widgets_[std::size_t(i)];
            if (!widget) continue;
            const host::DialogControl& c = template_.controls[i];
            const int x = leftColumn[c.x];
            const int w = std::max(1, column(c.x + c.w) - x);
            const int y = 1 + tops[std::size_t(i)].row;
            FString plain;
            finalcut::getHotkeyPos(FString(c.text ? c.text : ""), plain);
            int h = 1;
            int least = 1;
            switch (c.kind) {
            case host::ControlKind::GroupBox:
                h = std::max(2, bottoms[std::size_t(i)].row - tops[std::size_t(i)].row + 1);
                break;
            case host::ControlKind::CheckBox:
                least = 4 + int(plain.getLength());
                break;
            case host::ControlKind::DropDownList:
                least = 4;
                break;
            case host::ControlKind::Edit:
                least = 3;
                break;
            case host::ControlKind::PushButton:
            case host::ControlKind::DefPushButton:
                least = int(plain.getLength()) + 2;
                break;
            }
            widget->setGeometry(FPoint{x, y}, FSize{std::size_t(std::max(w, least)), std::size_t(h)});
        }
        ShowControls();
        redraw();
    }

    void HideControls() {
        if (tooSmall_) return;
        tooSmall_ = true;
        for (const ControlSlot& s : slots_)
            if (s.kind == host::ControlKind::DropDownList) static_cast<ListControl*>(s.widget)->CloseList();
        // The control holding the focus (or holding the widget that does) gets
        // it back. The form takes it meanwhile, so that no key reaches a hidden
        // control and hiding does not pass the focus along the others.
        finalcut::FWidget* focus = getFocusWidget();
        refocus_ = nullptr;
        for (finalcut::FWidget* w = focus; w && w != this && !refocus_; w = w->getParentWidget())
            for (const ControlSlot& s : slots_)
                if (s.widget == w) refocus_ = w;
        if (focus && focus != this) {
            focus->unsetFocus();
            finalcut::FFocusEvent out(finalcut::Event::FocusOut);
            finalcut::FApplication::sendEvent(focus, &out);
        }
        setFocusWidget(this);
        for (finalcut::FWidget* widget : widgets_)
            if (widget) widget->hide();
    }

    void ShowControls() {
        if (!tooSmall_) return;
        tooSmall_ = false;
        for (finalcut::FWidget* widget : widgets_)
            if (widget) widget->show();
        if (refocus_) {
            refocus_->setFocus();
            finalcut::FFocusEvent in(finalcut::Event::FocusIn);
            finalcut::FApplication::sendEvent(refocus_, &in);
        }
        refocus_ = nullptr;
    }

    const host::DialogTemplate& template_;
    host::DlgProc proc_;
    std::vector<ControlSlot> slots_;
    std::vector<finalcut::FWidget*> widgets_;  // by template index; none for what is not drawn
    finalcut::FWidget* refocus_ = nullptr;     // the focus to give back when the controls come back
    std::map<int, size_t> byId_;
    intptr_t userData_ = 0;
    bool wantFocus_ = false;
    bool ended_ = false;
    bool running_ = false;
    bool tooSmall_ = false;  // the terminal is below the smallest size: a note instead of the controls
    bool laying_ = false;
    intptr_t result_ = 0;
};

// The toolkit takes over the process's locale; give the previous one back so
// that nothing after the dialog depends on what the terminal said.
class LocaleGuard {
public:
    LocaleGuard() {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current ? current : "C";
    }
    ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }

private:
    std::string saved_;
};

// Whether the terminal is at least the size the form is laid out for; a
// terminal whose size cannot be told is given the benefit of the doubt.
bool TerminalLargeEnough() {
    winsize size{};
    for (const int fd : {STDOUT_FILENO, STDIN_FILENO}) {
        if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
            return size.ws_col >= kTerminalMinWidth && size.ws_row >= kTerminalMinHeight;
    }
    return true;
}

// Frames in ASCII, their corners and joints as '+' (the toolkit's own
// fallback rounds them off with '.', '`' and an apostrophe).
void UsePlainFrames() {
    for (auto& entry : finalcut::FCharMap::getCharEncodeMap()) {
        const auto code = uint32_t(entry.unicode);
        const bool corner = code == 0x250C || code == 0x2510 || code == 0x2514 || code == 0x2518;
        const bool joint = code == 0x251C || code == 0x2524 || code == 0x252C || code == 0x2534 || code == 0x253C;
        if (corner || joint) entry.ascii = L'+';
    }
    finalcut::FTerm::setEncoding(finalcut::Encoding::ASCII);
}

}  // namespace

intptr_t RunTerminalDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param,
                           const std::vector<ControlEdit>& edits) {
    // Smaller, the form's controls overlap its frame and each other; better
    // no form at all, before the toolkit takes over the screen.
    if (!TerminalLargeEnough()) return kTerminalTooSmall;
    LocaleGuard locale;
    char name[] = "qsxexport";
    char* argv[] = {name, nullptr};
    const int argc = 1;
    finalcut::FApplication app(argc, argv);
    // The toolkit reads all the keys waiting in the terminal, then hands each
    // to the widget that had the focus before the first: a quick Tab Space
    // would tick the box being left. After each key the focus is asked again.
    auto& keyboard = finalcut::FKeyboard::getInstance();
    keyboard.setReleaseCommand(finalcut::FKeyboardCommand([&keyboard] {
        if (auto* widget = finalcut::FApplication::getKeyboardWidget()) {
            finalcut::FKeyEvent up(finalcut::Event::KeyUp, keyboard.getKey());
            finalcut::FApplication::sendEvent(widget, &up);
        }
        finalcut::FWidget* next = finalcut::FWidget::getMoveSizeWidget();
        if (!next) next = finalcut::FWidget::getFocusWidget();
        if (!next) next = finalcut::FWidget::getMainWidget();
        finalcut::FApplication::setKeyboardWidget(next);
    }));

    intptr_t result;
    {
        TerminalForm form(&app, dlg, proc);
        form.Open(param);
        for (const ControlEdit& edit : edits) {
            if (form.Ended()) break;
            ApplyEdit(&form, proc, dlg, edit);
        }
        if (!form.Ended()) {
            finalcut::FWidget::setMainWidget(&form);
            form.SetRunning(true);
            form.show();
            // Without UTF-8 the toolkit draws frames in the terminal's alternate
            // character set, which many terminals, their logs and their screen
            // copies show as the letters "lqqk" and "x"; plain ASCII reads the same
            // on all of them. The toolkit settles the encoding on the first show.
            if (finalcut::FTermData::getInstance().getTerminalEncoding() == finalcut::Encoding::VT100)
                UsePlainFrames();
            form.FocusFirst();
            form.redraw();
            app.exec();
            form.SetRunning(false);
        }
        // Closing by any other way than the handler (the terminal went away) is a Cancel.
        result = form.Ended() ? form.Result() : 0;
    }
    return result;
}

}  // namespace qsxhost
