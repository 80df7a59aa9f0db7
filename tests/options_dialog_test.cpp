// The options dialog's handler, driven through the in-memory window the way a
// user would drive it, with the settings store in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QsxExp/Options.h"
#include "QsxExp/OptionsDialog.h"
#include "QsxExp/QsxExport.h"
#include "QsxExp/resource.h"
#include "host/Interface.h"
#include "options_util.h"
#include "qsxhost/app/CommandLine.h"
#include "qsxhost/ui/MemoryDialog.h"
#include "tests/support/fake_host.h"

namespace {

using qsx::ExportOptions;
using qsxhost::ControlEdit;
using qsxhost::MemoryDialog;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Keys and typed values in memory; value names compare without regard to case.
class MemoryRegistry : public host::Registry {
public:
    struct Value {
        uint32_t type;
        std::vector<unsigned char> data;
    };
    using Values = std::map<std::string, Value>;

    std::unique_ptr<host::RegistryKey> CreateKey(const char* path) override {
        return std::make_unique<Key>(&keys[Lower(path)]);
    }
    std::unique_ptr<host::RegistryKey> OpenKey(const char* path) override {
        auto it = keys.find(Lower(path));
        if (it == keys.end()) return nullptr;
        return std::make_unique<Key>(&it->second);
    }
    bool HasKey(const char* path) const { return keys.count(Lower(path)) != 0; }

    std::map<std::string, Values> keys;

private:
    class Key : public host::RegistryKey {
    public:
        explicit Key(Values* values) : values_(values) {}
        bool SetValue(const char* name, uint32_t type, const void* data, uint32_t size) override {
            const auto* bytes = static_cast<const unsigned char*>(data);
            (*values_)[Lower(name)] = Value{type, std::vector<unsigned char>(bytes, bytes + size)};
            return true;
        }
        bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const override {
            auto it = values_->find(Lower(name));
            if (it == values_->end() || it->second.data.size() > *size) return false;
            std::memcpy(data, it->second.data.data(), it->second.data.size());
            *size = static_cast<uint32_t>(it->second.data.size());
            if (type) *type = it->second.type;
            return true;
        }
        bool Close() override { return true; }

    private:
        Values* values_;
    };
};

constexpr const char* kHeaderPath = "C:\\models\\scene.qsh";
constexpr const char* kAnimationPath = "C:\\models\\scene.qsv";
constexpr unsigned kWarningType = host::MB_OK | host::MB_ICONWARNING;

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ip.registry = &registry;
        exporter.ip = &ip;
        exporter.headerPath = kHeaderPath;
        exporter.animationPath = kAnimationPath;
    }

    void Open() { ASSERT_EQ(dialog.Open(reinterpret_cast<intptr_t>(&exporter)), 1); }

    // What an earlier session left in the store.
    void Store(const ExportOptions& options) { qsx::SaveOptions(&registry, options); }
    ExportOptions Stored() {
        ExportOptions options;
        qsx::LoadOptions(&registry, options);
        return options;
    }
    bool AnythingStored() const { return registry.HasKey(qsx::kOptionsKey); }

    void ExpectStillOpenWith(const char* warning) {
        EXPECT_FALSE(dialog.Ended());
        ASSERT_EQ(dialog.MessageBoxes().size(), 1u);
        EXPECT_EQ(dialog.MessageBoxes()[0].text, warning);
        EXPECT_EQ(dialog.MessageBoxes()[0].caption, "Quorvantis File Exporter");
        EXPECT_EQ(dialog.MessageBoxes()[0].type, kWarningType);
    }

    MemoryRegistry registry;
    fake::OptionsHost ip;  // of the host, the dialog needs only the settings store
    qsx::QsxExport exporter;
    MemoryDialog dialog{qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc};
};

// Each press that stores the options tells the host when its store refused
// them (with no reason of the plug-in's: the store is the host's); the dialog
// goes on as if they were stored.
TEST_F(OptionsDialogTest, HostIsToldOfEveryRefusedSave) {
    fake::NullRegistry refusing;
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refusing store" : "store");
        ip.registry = refused ? static_cast<host::Registry*>(&refusing) : &registry;
        ip.notSaved.clear();
        MemoryDialog d{qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc};
        ASSERT_EQ(d.Open(reinterpret_cast<intptr_t>(&exporter)), 1);
        d.Click(IDC_SAVEDEFAULTS);
        d.Click(host::IDOK);
        EXPECT_TRUE(d.Ended());
        const std::vector<std::string> told = refused ? std::vector<std::string>{"", ""} : std::vector<std::string>{};
        EXPECT_EQ(ip.notSaved, told);
    }
}

TEST_F(OptionsDialogTest, FirstUseShowsTheDefaultsAndStoresThemOnlyOnOk) {
    Open();
    EXPECT_TRUE(dialog.Centred());
    EXPECT_TRUE(dialog.Focused());

    EXPECT_EQ(dialog.Items(IDC_SCALETYPE), (std::vector<std::string>{"Scale to", "Scale by"}));
    EXPECT_EQ(dialog.Items(IDC_HIERARCHY), (std::vector<std::string>{"Preserve hierarchy", "Flat (single clump)",
                                                                     "Flat (multiple clumps)", "Separate clumps"}));
    EXPECT_EQ(dialog.Items(IDC_HINTS), (std::vector<std::string>{"None", "Hidden surface", "Editable"}));
    EXPECT_EQ(dialog.Text(IDC_SCALEFACTOR), "1.0000");
    EXPECT_EQ(dialog.Text(IDC_HEADERPATH), kHeaderPath);
    EXPECT_EQ(dialog.Text(IDC_ANIMATIONPATH), kAnimationPath);
    EXPECT_EQ(dialog.GetCheck(IDC_PROTOTYPES), host::BST_UNCHECKED);
    for (int id : {IDC_EXTNAME, IDC_HEADERPATH, IDC_ANIMATIONPATH, IDC_PROTOTYPES})
        EXPECT_FALSE(dialog.IsEnabled(id)) << id;
    EXPECT_FALSE(AnythingStored());

    // OK reads back what is shown: the defaults, untouched.
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    ASSERT_TRUE(AnythingStored());
    EXPECT_EQ(Stored(), ExportOptions{});
}

TEST_F(OptionsDialogTest, EachCheckBoxEnablesItsEditBox) {
    struct Rule {
        int check, edit;
    };
    Open();
    for (Rule rule : {Rule{IDC_OVERRIDEEXT, IDC_EXTNAME}, Rule{IDC_SAVEHEADER, IDC_HEADERPATH},
                      Rule{IDC_SAVEANIMATION, IDC_ANIMATIONPATH}}) {
        SCOPED_TRACE(rule.check);
        ASSERT_TRUE(dialog.Click(rule.check));
        EXPECT_TRUE(dialog.IsEnabled(rule.edit));
        ASSERT_TRUE(dialog.Click(rule.check));
        EXPECT_FALSE(dialog.IsEnabled(rule.edit));
    }
}

TEST_F(OptionsDialogTest, PrototypesStayDisabledWhateverIsShown) {
    Store({.scaleFactor = 2, .saveHeader = 1, .textureFlags = 31});
    Open();
    EXPECT_FALSE(dialog.IsEnabled(IDC_PROTOTYPES));
    EXPECT_FALSE(dialog.Click(IDC_PROTOTYPES));
    dialog.Click(IDC_USEDEFAULTS);
    EXPECT_FALSE(dialog.IsEnabled(IDC_PROTOTYPES));
    dialog.Click(host::IDOK);
    EXPECT_FALSE(dialog.IsEnabled(IDC_PROTOTYPES));
    EXPECT_EQ(dialog.GetCheck(IDC_PROTOTYPES), host::BST_UNCHECKED);
}

TEST_F(OptionsDialogTest, EnablingFollowsStoredOptionsWhenShown) {
    Store({.saveHeader = 1, .saveAnimation = 0, .textureFlags = qsx::TEX_OVERRIDE_EXT});
    Open();
    EXPECT_TRUE(dialog.IsEnabled(IDC_EXTNAME));
    EXPECT_TRUE(dialog.IsEnabled(IDC_HEADERPATH));
    EXPECT_FALSE(dialog.IsEnabled(IDC_ANIMATIONPATH));
    EXPECT_EQ(dialog.GetCheck(IDC_SHOWTEXTURES), host::BST_UNCHECKED);
}

struct ScaleCase {
    const char* typed;
    bool accepted;
    float stored;  // when accepted
};

class ScaleFactorTest : public OptionsDialogTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(ScaleFactorTest, OnlyPositiveNumbersPass) {
    const ScaleCase& c = GetParam();
    Open();
    ASSERT_TRUE(dialog.Type(IDC_SCALEFACTOR, c.typed));
    dialog.Click(host::IDOK);
    if (c.accepted) {
        EXPECT_TRUE(dialog.Ended());
        EXPECT_EQ(dialog.Result(), 1);
        EXPECT_TRUE(dialog.MessageBoxes().empty());
        EXPECT_FLOAT_EQ(exporter.options.scaleFactor, c.stored);
        EXPECT_TRUE(AnythingStored());
    } else {
        ExpectStillOpenWith("Please enter a positive number");
        EXPECT_FALSE(AnythingStored());
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ScaleFactorTest,
                         ::testing::Values(ScaleCase{"2.5x", true, 2.5f}, ScaleCase{"1e-3", true, 0.001f},
                                           ScaleCase{"  3", true, 3.0f}, ScaleCase{"0", false, 0},
                                           ScaleCase{"-1", false, 0}, ScaleCase{"", false, 0},
                                           ScaleCase{"abc", false, 0}, ScaleCase{"0.0000", false, 0},
                                           ScaleCase{"0x10", false, 0}, ScaleCase{"inf", false, 0},
                                           ScaleCase{"Infinity", false, 0}, ScaleCase{"nan", false, 0}));

TEST_F(OptionsDialogTest, OnlyTheFirst259CharactersOfTheScaleFactorAreRead) {
    // A "1" at index 259 falls outside the 260-byte read buffer: what remains is 0.
    Open();
    dialog.Type(IDC_SCALEFACTOR, std::string(259, '0') + "1");
    dialog.Click(host::IDOK);
    ExpectStillOpenWith("Please enter a positive number");

    dialog.Type(IDC_SCALEFACTOR, std::string(258, '0') + "1");
    dialog.Click(host::IDOK);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_FLOAT_EQ(exporter.options.scaleFactor, 1.0f);
}

TEST_F(OptionsDialogTest, TypedExtensionBecomesCapitals) {
    Open();
    dialog.Click(IDC_OVERRIDEEXT);
    ASSERT_TRUE(dialog.Type(IDC_EXTNAME, "jpg"));
    EXPECT_EQ(dialog.Text(IDC_EXTNAME), "JPG");
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    const ExportOptions want{.textureFlags = qsx::TEX_SHOW | qsx::TEX_OVERRIDE_EXT, .extName = "JPG"};
    EXPECT_EQ(exporter.options, want);
    EXPECT_EQ(Stored(), want);
}

TEST_F(OptionsDialogTest, LongStoredExtensionBlocksOkEvenWhileItsBoxIsDisabled) {
    Store({.extName = "JPEG"});
    Open();
    EXPECT_FALSE(dialog.IsEnabled(IDC_EXTNAME));
    EXPECT_EQ(dialog.Text(IDC_EXTNAME), "JPEG");
    dialog.Click(host::IDOK);
    ExpectStillOpenWith("Please enter no more than 3 characters");
    EXPECT_FALSE(dialog.Type(IDC_EXTNAME, "tga"));  // no typing into a disabled box

    dialog.Click(IDC_OVERRIDEEXT);
    ASSERT_TRUE(dialog.Type(IDC_EXTNAME, "tga"));
    dialog.Click(IDC_OVERRIDEEXT);
    EXPECT_FALSE(dialog.IsEnabled(IDC_EXTNAME));
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    EXPECT_EQ(dialog.Result(), 1);
    EXPECT_EQ(Stored(), (ExportOptions{.extName = "TGA"}));
}

TEST_F(OptionsDialogTest, ScaleFactorIsCheckedFirstWhenBothAreWrong) {
    Open();
    dialog.Click(IDC_OVERRIDEEXT);
    dialog.Type(IDC_EXTNAME, "abcd");
    dialog.Type(IDC_SCALEFACTOR, "0");
    dialog.Click(host::IDOK);
    ExpectStillOpenWith("Please enter a positive number");
}

TEST_F(OptionsDialogTest, FailedCheckKeepsWhatWasReadBeforeItButSavesNothing) {
    Open();
    dialog.Click(IDC_CENTRE);
    dialog.Click(IDC_LIT);
    dialog.Click(IDC_OVERRIDEEXT);
    dialog.Type(IDC_EXTNAME, "long");
    dialog.Click(host::IDOK);
    ExpectStillOpenWith("Please enter no more than 3 characters");
    EXPECT_EQ(exporter.options, (ExportOptions{.centre = 0,
                                               .textureFlags = qsx::TEX_SHOW | qsx::TEX_LIT | qsx::TEX_OVERRIDE_EXT,
                                               .extName = "LONG"}));
    EXPECT_FALSE(AnythingStored());
}

TEST_F(OptionsDialogTest, SaveDefaultsThenCancelKeepsTheSavedValues) {
    Open();
    dialog.Click(IDC_SAVEHEADER);
    dialog.Type(IDC_SCALEFACTOR, "2");
    dialog.Click(IDC_SAVEDEFAULTS);
    EXPECT_FALSE(dialog.Ended());
    const ExportOptions saved{.scaleFactor = 2, .saveHeader = 1};
    EXPECT_EQ(Stored(), saved);

    dialog.Click(IDC_LIT);  // edited after saving: lost with Cancel
    dialog.Click(host::IDCANCEL);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_EQ(dialog.Result(), 0);
    EXPECT_EQ(Stored(), saved);
}

TEST_F(OptionsDialogTest, SaveDefaultsWithAFailedCheckSavesNothing) {
    Open();
    dialog.Type(IDC_SCALEFACTOR, "-2");
    dialog.Click(IDC_SAVEDEFAULTS);
    ExpectStillOpenWith("Please enter a positive number");
    EXPECT_FALSE(AnythingStored());
}

TEST_F(OptionsDialogTest, CancelReadsNothing) {
    Open();
    dialog.Click(IDC_CENTRE);
    dialog.Type(IDC_SCALEFACTOR, "0");
    dialog.Click(host::IDCANCEL);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_EQ(dialog.Result(), 0);
    EXPECT_TRUE(dialog.MessageBoxes().empty());
    EXPECT_EQ(exporter.options, ExportOptions{});
    EXPECT_FALSE(AnythingStored());
}

TEST_F(OptionsDialogTest, UseDefaultsBringsBackTheStoredValues) {
    Store({.scaleFactor = 3.25f, .scaleType = 0, .centre = 0, .saveHeader = 1, .hierarchyType = 2,
           .textureFlags = qsx::TEX_LIT | qsx::TEX_OVERRIDE_EXT, .hints = 1, .extName = "PNG"});
    Open();
    dialog.Click(IDC_CENTRE);
    dialog.Select(IDC_SCALETYPE, 1);
    dialog.Type(IDC_SCALEFACTOR, "9");
    dialog.Select(IDC_HIERARCHY, 3);
    dialog.Select(IDC_HINTS, 2);
    dialog.Click(IDC_LIT);
    dialog.Click(IDC_SHOWTEXTURES);
    dialog.Click(IDC_OVERRIDEEXT);
    dialog.Click(IDC_SAVEHEADER);
    dialog.Click(IDC_SAVEANIMATION);

    dialog.Click(IDC_USEDEFAULTS);
    EXPECT_FALSE(dialog.Ended());
    EXPECT_EQ(dialog.GetCheck(IDC_CENTRE), host::BST_UNCHECKED);
    EXPECT_EQ(dialog.GetCurSel(IDC_SCALETYPE), 0);
    EXPECT_EQ(dialog.Text(IDC_SCALEFACTOR), "3.2500");
    EXPECT_EQ(dialog.GetCurSel(IDC_HIERARCHY), 2);
    EXPECT_EQ(dialog.GetCurSel(IDC_HINTS), 1);
    EXPECT_EQ(dialog.GetCheck(IDC_LIT), host::BST_CHECKED);
    EXPECT_EQ(dialog.GetCheck(IDC_SHOWTEXTURES), host::BST_UNCHECKED);
    EXPECT_EQ(dialog.GetCheck(IDC_OVERRIDEEXT), host::BST_CHECKED);
    EXPECT_TRUE(dialog.IsEnabled(IDC_EXTNAME));
    EXPECT_EQ(dialog.Text(IDC_EXTNAME), "PNG");
    EXPECT_EQ(dialog.GetCheck(IDC_SAVEHEADER), host::BST_CHECKED);
    EXPECT_TRUE(dialog.IsEnabled(IDC_HEADERPATH));
    EXPECT_EQ(dialog.GetCheck(IDC_SAVEANIMATION), host::BST_UNCHECKED);
    EXPECT_FALSE(dialog.IsEnabled(IDC_ANIMATIONPATH));
}

TEST_F(OptionsDialogTest, StoredIndexOutsideItsListLeavesNoSelectionAndOkStoresMinusOne) {
    Store({.scaleType = 2, .hierarchyType = 7, .hints = -4});
    Open();
    EXPECT_EQ(dialog.GetCurSel(IDC_SCALETYPE), host::CB_ERR);
    EXPECT_EQ(dialog.GetCurSel(IDC_HIERARCHY), host::CB_ERR);
    EXPECT_EQ(dialog.GetCurSel(IDC_HINTS), host::CB_ERR);
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    EXPECT_EQ(Stored(), (ExportOptions{.scaleType = -1, .hierarchyType = -1, .hints = -1}));
}

TEST_F(OptionsDialogTest, TextTypedIntoThePathBoxesChangesNothing) {
    Open();
    dialog.Click(IDC_SAVEHEADER);
    dialog.Click(IDC_SAVEANIMATION);
    ASSERT_TRUE(dialog.Type(IDC_HEADERPATH, "D:\\elsewhere\\other.qsh"));
    ASSERT_TRUE(dialog.Type(IDC_ANIMATIONPATH, "D:\\elsewhere\\other.qsv"));
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    EXPECT_EQ(exporter.headerPath, kHeaderPath);
    EXPECT_EQ(exporter.animationPath, kAnimationPath);
    EXPECT_EQ(exporter.options.saveHeader, 1);
    EXPECT_EQ(exporter.options.saveAnimation, 1);
}

TEST_F(OptionsDialogTest, TextureBitsOutsideTheDialogAreCarriedThrough) {
    Store({.textureFlags = 0x100u | qsx::TEX_FILTER});
    Open();
    dialog.Click(IDC_FORESHORTEN);
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    EXPECT_EQ(Stored().textureFlags, 0x100u | qsx::TEX_FILTER | qsx::TEX_FORESHORTEN);
}

TEST_F(OptionsDialogTest, OnlyTheCheckedStateCountsAsTicked) {
    Open();
    dialog.SetCheck(IDC_CENTRE, 2);  // indeterminate
    dialog.SetCheck(IDC_SHOWTEXTURES, 2);
    dialog.SetCheck(IDC_SAVEHEADER, 2);
    dialog.Click(host::IDOK);
    ASSERT_TRUE(dialog.Ended());
    EXPECT_EQ(exporter.options, (ExportOptions{.centre = 0, .textureFlags = 0}));
}

// The window system marks a command from a keyboard accelerator with 1 above
// the control's id, and leaves the messages a dialog does not take (answered
// 0) to itself.
TEST_F(OptionsDialogTest, CommandsFromTheKeyboardActLikeClicks) {
    constexpr uintptr_t kFromKeyboard = 1u << 16;
    constexpr unsigned kMouseMove = 0x0200;
    Open();
    dialog.SetCheck(IDC_SAVEHEADER, host::BST_CHECKED);
    qsx::OptionsDialogProc(&dialog, host::WM_COMMAND, kFromKeyboard | IDC_SAVEHEADER, 0);
    EXPECT_TRUE(dialog.IsEnabled(IDC_HEADERPATH));
    EXPECT_EQ(qsx::OptionsDialogProc(&dialog, kMouseMove, 0, 0), 0);
    qsx::OptionsDialogProc(&dialog, host::WM_COMMAND, kFromKeyboard | host::IDCANCEL, 0);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_EQ(dialog.Result(), 0);
}

TEST_F(OptionsDialogTest, EachOpeningEditsTheExporterItWasOpenedFor) {
    Open();
    dialog.Click(host::IDCANCEL);
    qsx::QsxExport other;
    other.ip = &ip;
    other.headerPath = "D:\\other.qsh";
    MemoryDialog second(qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc);
    ASSERT_EQ(second.Open(reinterpret_cast<intptr_t>(&other)), 1);
    EXPECT_EQ(second.Text(IDC_HEADERPATH), other.headerPath);
    second.Click(IDC_CENTRE);
    second.Click(host::IDOK);
    EXPECT_EQ(other.options.centre, 0);
    EXPECT_EQ(exporter.options.centre, 1);
}

TEST(MemoryDialog, WindowOperationsFollowTheWindowSystem) {
    MemoryDialog window(qsx::OptionsDialogTemplate(), nullptr);
    char buffer[4];
    window.SetText(IDC_SCALEFACTOR, "123456");
    EXPECT_EQ(window.GetText(IDC_SCALEFACTOR, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "123");

    EXPECT_EQ(window.InsertString(IDC_SCALETYPE, -1, "b"), 0);
    EXPECT_EQ(window.InsertString(IDC_SCALETYPE, 0, "a"), 0);
    EXPECT_EQ(window.InsertString(IDC_SCALETYPE, 5, "z"), host::CB_ERR);
    EXPECT_EQ(window.Items(IDC_SCALETYPE), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(window.SetCurSel(IDC_SCALETYPE, 1), 1);
    EXPECT_EQ(window.SetCurSel(IDC_SCALETYPE, 2), host::CB_ERR);
    EXPECT_EQ(window.GetCurSel(IDC_SCALETYPE), host::CB_ERR);

    // Only the box made for capitals changes what is typed, and SetText never does.
    window.Enable(IDC_EXTNAME, true);
    window.Type(IDC_EXTNAME, "aZ9q");
    EXPECT_EQ(window.Text(IDC_EXTNAME), "AZ9Q");
    window.SetText(IDC_EXTNAME, "low");
    EXPECT_EQ(window.Text(IDC_EXTNAME), "low");
    window.Type(IDC_SCALEFACTOR, "abc");
    EXPECT_EQ(window.Text(IDC_SCALEFACTOR), "abc");
}

TEST_F(OptionsDialogTest, BatchRunAppliesEditsThenPressesOk) {
    std::string message = "untouched";
    const std::vector<ControlEdit> edits = {
        {ControlEdit::Check, IDC_OVERRIDEEXT, 1, ""},
        {ControlEdit::Text, IDC_EXTNAME, 0, "png"},
        {ControlEdit::Select, IDC_HIERARCHY, 2, ""},
    };
    EXPECT_EQ(qsxhost::RunBatchDialog(qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc,
                                      reinterpret_cast<intptr_t>(&exporter), edits, &message),
              1);
    const ExportOptions want{.hierarchyType = qsx::HIER_FLAT_MULTIPLE,
                             .textureFlags = qsx::TEX_SHOW | qsx::TEX_OVERRIDE_EXT,
                             .extName = "PNG"};
    EXPECT_EQ(exporter.options, want);
    EXPECT_EQ(Stored(), want);
}

TEST_F(OptionsDialogTest, BatchRunRefusedByACheckAnswersTheWarning) {
    std::string message;
    const std::vector<ControlEdit> edits = {{ControlEdit::Text, IDC_SCALEFACTOR, 0, "0"}};
    EXPECT_EQ(qsxhost::RunBatchDialog(qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc,
                                      reinterpret_cast<intptr_t>(&exporter), edits, &message),
              -1);
    EXPECT_EQ(message, "Please enter a positive number");
    EXPECT_FALSE(AnythingStored());
}

TEST_F(OptionsDialogTest, BatchRunEditsReachDisabledBoxesAndClearedChecks) {
    Store({.saveHeader = 1});
    const std::vector<ControlEdit> edits = {
        {ControlEdit::Text, IDC_EXTNAME, 0, "tga"},  // override left off
        {ControlEdit::Check, IDC_SAVEHEADER, 0, ""},
        {ControlEdit::Select, IDC_HINTS, -1, ""},
    };
    EXPECT_EQ(qsxhost::RunBatchDialog(qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc,
                                      reinterpret_cast<intptr_t>(&exporter), edits, nullptr),
              1);
    EXPECT_EQ(Stored(), (ExportOptions{.hints = -1, .extName = "TGA"}));
}

using Change = std::function<void(ExportOptions&)>;
Change Field(int32_t ExportOptions::*field, int32_t v) {
    return [=](ExportOptions& o) { o.*field = v; };
}
Change Bit(uint32_t bit, bool on) {
    return [=](ExportOptions& o) { o.textureFlags = on ? o.textureFlags | bit : o.textureFlags & ~bit; };
}

// Each export flag through the command line and the batch dialog, from stored
// options it changes: it changes its own option and nothing else. A flag that
// takes no value refuses one given after '=', naming itself.
TEST_F(OptionsDialogTest, EachExportFlagReachesItsControl) {
    const qsxhost::CommandFeatures features{{"", {}, ""}};
    const uint32_t allBits = qsx::TEX_SHOW | qsx::TEX_LIT | qsx::TEX_FORESHORTEN | qsx::TEX_FILTER | qsx::TEX_OVERRIDE_EXT;
    const ExportOptions starts[] = {
        {1.0f, 1, 0, 0, 0, qsx::HIER_PRESERVE, 0, 0, "BMP"},
        {7.0f, 0, 1, 1, 1, qsx::HIER_SEPARATE, allBits, 2, "TGA"},
    };
    const struct {
        std::vector<std::string> words;
        Change change;
    } cases[] = {
        {{"--scale-to", "2.5"}, [](ExportOptions& o) { o.scaleType = 0, o.scaleFactor = 2.5f; }},
        {{"--scale-by=4"}, [](ExportOptions& o) { o.scaleType = 1, o.scaleFactor = 4.0f; }},
        {{"--centre"}, Field(&ExportOptions::centre, 1)},
        {{"--no-centre"}, Field(&ExportOptions::centre, 0)},
        {{"--hierarchy", "preserve"}, Field(&ExportOptions::hierarchyType, qsx::HIER_PRESERVE)},
        {{"--hierarchy", "single"}, Field(&ExportOptions::hierarchyType, qsx::HIER_FLAT_SINGLE)},
        {{"--hierarchy", "multiple"}, Field(&ExportOptions::hierarchyType, qsx::HIER_FLAT_MULTIPLE)},
        {{"--hierarchy=separate"}, Field(&ExportOptions::hierarchyType, qsx::HIER_SEPARATE)},
        {{"--hints", "none"}, Field(&ExportOptions::hints, 0)},
        {{"--hints", "hidden-surface"}, Field(&ExportOptions::hints, 1)},
        {{"--hints", "editable"}, Field(&ExportOptions::hints, 2)},
        {{"--textures"}, Bit(qsx::TEX_SHOW, true)},
        {{"--no-textures"}, Bit(qsx::TEX_SHOW, false)},
        {{"--lit"}, Bit(qsx::TEX_LIT, true)},
        {{"--no-lit"}, Bit(qsx::TEX_LIT, false)},
        {{"--foreshorten"}, Bit(qsx::TEX_FORESHORTEN, true)},
        {{"--no-foreshorten"}, Bit(qsx::TEX_FORESHORTEN, false)},
        {{"--filter"}, Bit(qsx::TEX_FILTER, true)},
        {{"--no-filter"}, Bit(qsx::TEX_FILTER, false)},
        {{"--ext", "png"}, [](ExportOptions& o) { o.textureFlags |= qsx::TEX_OVERRIDE_EXT, o.extName = "PNG"; }},
        {{"--no-ext"}, Bit(qsx::TEX_OVERRIDE_EXT, false)},
        {{"--header"}, Field(&ExportOptions::saveHeader, 1)},
        {{"--no-header"}, Field(&ExportOptions::saveHeader, 0)},
        {{"--animation"}, Field(&ExportOptions::saveAnimation, 1)},
        {{"--no-animation"}, Field(&ExportOptions::saveAnimation, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words[0]);
        std::vector<std::string> argv = {"qsxexport"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        argv.insert(argv.end(), {"scene.json", "out.QSX"});
        for (const ExportOptions& start : starts) {
            registry.keys.clear();
            Store(start);
            qsxhost::Args args;
            ASSERT_EQ(qsxhost::ParseArgs(argv, features, &args), -1);
            ASSERT_EQ(qsxhost::RunBatchDialog(qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc,
                                              reinterpret_cast<intptr_t>(&exporter), args.edits, nullptr),
                      1);
            ExportOptions want = start;
            c.change(want);
            EXPECT_EQ(exporter.options, want);
        }
        if (c.words.size() > 1 || c.words[0].find('=') != std::string::npos) continue;
        qsxhost::Args args;
        testing::internal::CaptureStderr();
        EXPECT_EQ(qsxhost::ParseArgs({"qsxexport", c.words[0] + "=1", "scene.json", "out.QSX"}, features, &args),
                  qsxhost::kExitUsage);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "qsxexport: option " + c.words[0] + " takes no value (see --help)\n");
    }
}

TEST_F(OptionsDialogTest, BatchRunEndingInAnEditAnswersThatEnding) {
    const std::vector<ControlEdit> edits = {{ControlEdit::Check, host::IDCANCEL, 0, ""},
                                            {ControlEdit::Text, IDC_SCALEFACTOR, 0, "0"}};
    EXPECT_EQ(qsxhost::RunBatchDialog(qsx::OptionsDialogTemplate(), qsx::OptionsDialogProc,
                                      reinterpret_cast<intptr_t>(&exporter), edits, nullptr),
              0);
    EXPECT_FALSE(AnythingStored());
}

}  // namespace
