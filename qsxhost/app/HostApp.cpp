#include "qsxhost/app/HostApp.h"

#include <cstdio>

#include "qsxhost/app/DialogFlags.h"
#include "qsxhost/app/Interruption.h"
#include "qsxhost/app/Messages.h"
#include "util/Text.h"

namespace qsxhost {

void HostApp::Assert1(int line, const char* file) {
    ClearProgress();
    ++assertCount_;
    PrintMessage("", "warning: internal consistency check failed at line " + std::to_string(line) + " of " +
                         std::string(file ? file : "?"));
}

void HostApp::Warning(std::string_view message) {
    ClearProgress();
    PrintMessage(sceneName_, "warning: " + std::string(message));
}

void HostApp::FileWarning(std::string_view path, std::string_view message) {
    ClearProgress();
    PrintMessage(path, "warning: " + std::string(message));
}

void HostApp::FileFailure(std::string_view path, std::string_view reason) {
    failures_.push_back({std::string(path), std::string(reason)});
    InterruptionPoint();
}

void HostApp::ExportRefused(int control, std::string_view reason) {
    // In the terminal the user may have changed what a flag set before pressing OK.
    std::string source = "the stored options";
    if (dialogMode_ == DialogMode::Terminal) {
        source = "the options dialog";
    } else if (const std::string_view flag = FlagThatSet(edits_, control); !flag.empty()) {
        source = flag;
    }
    refusal_ = source + ": " + std::string(reason) + "; nothing was written";
}

void HostApp::FileWritten(std::string_view path) {
    if (gate_) gate_->Written(std::string(path));
    InterruptionPoint();
}

std::string_view HostApp::ApproveFiles(const host::PlannedFile* files, size_t count) {
    refusalText_ = gate_ ? gate_->Approve(files, count) : std::string();
    // The scene's own animation is read only for an export that writes one.
    for (size_t i = 0; i < count && refusalText_.empty(); ++i)
        if (files[i].kind == std::string_view("animation file"))
            if (const std::string why = scene_.UseAnimation(); !why.empty())
                refusalText_ = "the scene's animation cannot be used: " + why + "; nothing written";
    sizeWarning_.clear();
    // Past a gigabyte a run takes long enough, and enough of the disk, to be
    // worth a word; a pipe (a script, a test) is spared it.
    if (refusalText_.empty() && gate_ && terminal_ && gate_->EstimatedBytes() > 1000000000)
        sizeWarning_ = "warning: about " + qsx::util::ByteSize(gate_->EstimatedBytes()) + " will be written";
    return refusalText_;
}

intptr_t HostApp::RunDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) {
    dialogMessage_.clear();
    if (dialogMode_ == DialogMode::Terminal) {
        const intptr_t rc = RunInteractiveDialog(dlg, proc, param);
        if (rc == kNoDialogRunner) return rc;
        dialogResult_ = rc;
    } else {
        dialogResult_ = RunBatchDialog(dlg, proc, param, edits_, &dialogMessage_);
    }
    if (dialogResult_ == 1 && !sizeWarning_.empty()) PrintMessage(gate_->Destinations().front(), sizeWarning_);
    return dialogResult_ == 1 ? 1 : 0;
}

void HostApp::DialogOpened(host::DialogWindow* window, host::DlgProc proc, const host::DialogTemplate& dlg) {
    for (const ControlEdit& e : edits_) ApplyEdit(window, proc, dlg, e);
}

void HostApp::Progress(std::string_view step, int64_t done, int64_t total) {
    InterruptionPoint();
    if (!progressShown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    std::fprintf(stderr, "\r%s: %.*s %3d%% (%lld/%lld)\033[K", kProgramName, static_cast<int>(step.size()),
                 step.data(), percent, static_cast<long long>(done), static_cast<long long>(total));
    std::fflush(stderr);
    progressOnScreen_ = true;
}

void HostApp::ClearProgress() {
    if (!progressOnScreen_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressOnScreen_ = false;
}

}  // namespace qsxhost
