// The stand-alone host application object: a loaded scene plus the services
// an exporter asks of its host (reports, progress), and the extension through
// which it runs the options dialog (batch, terminal) and keeps the settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/Interface.h"
#include "qsxhost/app/OutputGate.h"
#include "qsxhost/ui/MemoryDialog.h"
#include "qsxhost/sources/SceneSource.h"

namespace qsxhost {

enum class DialogMode { Batch, Terminal };

// What the dialog ended with when the window system could not make it.
constexpr intptr_t kDialogNotShown = -3;

class HostApp final : public host::Interface, public host::Extension {
public:
    HostApp(SceneSource& scene, host::Registry& registry) : scene_(scene), registry_(registry) {}

    void SetDialog(DialogMode mode, std::vector<ControlEdit> edits) {
        dialogMode_ = mode;
        edits_ = std::move(edits);
    }
    void SetProgressShown(bool shown) { progressShown_ = shown; }
    // Standard error is a terminal: a run that will write a lot says so first.
    void SetTerminal(bool terminal) { terminal_ = terminal; }
    // The gate the exporter's files pass: it approves them when OK is
    // pressed and hears of each one put in place.
    void SetGate(OutputGate* gate) { gate_ = gate; }

    host::Interval GetAnimRange() override { return scene_.GetAnimRange(); }
    host::INode* GetRootNode() override { return scene_.GetRootNode(); }
    int GetTicksPerFrame() override { return scene_.GetTicksPerFrame(); }

    void Assert1(int line, const char* file) override;
    void Warning(std::string_view message) override;
    void FileWarning(std::string_view path, std::string_view message) override;
    // How warnings about the scene name it.
    void SetSceneName(std::string name) { sceneName_ = std::move(name); }
    void FileFailure(std::string_view path, std::string_view reason) override;
    void FileWritten(std::string_view path) override;
    std::string_view ApproveFiles(const host::PlannedFile* files, size_t count) override;
    void ExportRefused(int control, std::string_view reason) override;
    void Progress(std::string_view step, int64_t done, int64_t total) override;
    // Takes the progress line off the screen, before anything else is said.
    void ClearProgress();
    host::Extension* GetExtension() override { return this; }

    // --- the extension ---
    intptr_t RunDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) override;
    // The edits, made in the real dialog as in the batch one.
    void DialogOpened(host::DialogWindow* window, host::DlgProc proc, const host::DialogTemplate& dlg) override;
    void DialogEnded(intptr_t result) override { dialogResult_ = result == -1 ? kDialogNotShown : result; }
    // The platform's: the store the command opened, or (for the real dialog,
    // which keeps the settings where the plug-in does) none.
    host::Registry* GetRegistry() override;
    void OptionsNotSaved(std::string_view reason) override {
        optionsNotSaved_ = true;
        if (!reason.empty()) notSavedReason_ = reason;
    }

    // What the last dialog ended with: 1 OK, 0 cancelled, -1 refused by a
    // check, kDialogNotShown.
    intptr_t DialogResult() const { return dialogResult_; }
    const std::string& DialogMessage() const { return dialogMessage_; }
    int AssertCount() const { return assertCount_; }
    struct Failure {
        std::string path, reason;
    };
    const std::vector<Failure>& Failures() const { return failures_; }
    // Why the exporter refused the export, naming where the refused setting
    // came from (the flag that set it, the stored options or the dialog); "" when it did not.
    const std::string& Refusal() const { return refusal_; }
    // The plug-in could not store the options: why, as its own store told it
    // ("" when it did not say); nothing when every save succeeded.
    std::optional<std::string> OptionsNotSavedReason() const {
        return optionsNotSaved_ ? std::optional<std::string>(notSavedReason_) : std::nullopt;
    }

private:
    // The platform's interactive dialog (app/posix/ or app/win32/): the
    // terminal form, or kNoDialogRunner for the real dialog the plug-in makes.
    intptr_t RunInteractiveDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param);

    SceneSource& scene_;
    host::Registry& registry_;
    DialogMode dialogMode_ = DialogMode::Batch;
    std::vector<ControlEdit> edits_;
    intptr_t dialogResult_ = 0;
    std::string dialogMessage_;
    int assertCount_ = 0;
    std::vector<Failure> failures_;
    std::string refusal_;
    bool optionsNotSaved_ = false;
    std::string notSavedReason_;
    OutputGate* gate_ = nullptr;
    std::string sceneName_;
    std::string refusalText_;  // the last refusal ApproveFiles answered
    bool progressShown_ = false;
    bool terminal_ = false;
    std::string sizeWarning_;  // for the files approved, said once the dialog has ended
    bool progressOnScreen_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace qsxhost
