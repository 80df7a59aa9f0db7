// The host application object handed to an exporter: the scene, its time
// line, and the services of the host (assertions, progress, reports to the
// user); and the extension through which our own host may run the options
// dialog and keep the settings in place of the window system and registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/Dialog.h"
#include "host/Registry.h"
#include "host/Scene.h"

namespace host {

// A file an export is about to write, what it is ("script", "header file", ...),
// and about how many bytes it will take (0 when the export cannot tell).
struct PlannedFile {
    const char* path;
    const char* kind;
    uint64_t estimatedBytes = 0;
};

class Extension;

class Interface {
public:
    virtual ~Interface() = default;

    virtual Interval GetAnimRange() = 0;
    virtual INode* GetRootNode() = 0;
    virtual int GetTicksPerFrame() = 0;

    // Internal consistency report; the run goes on.
    virtual void Assert1(int line, const char* file) = 0;
    // Something the user should know that does not stop the export.
    virtual void Warning(std::string_view message) = 0;
    // The same about one file of the export (the header, say).
    virtual void FileWarning(std::string_view path, std::string_view message) {
        (void)path;
        Warning(message);
    }
    // A file the export should have written and could not; it was not written,
    // and whatever stood at its path before is as it was.
    virtual void FileFailure(std::string_view path, std::string_view reason) = 0;
    // A file of the export has been put in place whole.
    virtual void FileWritten(std::string_view path) { (void)path; }
    // Asked when the options dialog's OK is pressed, before anything is
    // written: the files the export will write with the options chosen.
    // Answers "" to go ahead, or why the host will not have them written (the
    // text stays valid until the next call); the dialog then stays open.
    virtual std::string_view ApproveFiles(const PlannedFile* files, size_t count) {
        (void)files;
        (void)count;
        return {};
    }
    // The export cannot go ahead with a setting of the exporter's options:
    // `control` is the options dialog's control that holds it, `reason` says
    // why. Nothing has been written, and DoExport answers 0. A host that does
    // not take the report sees only that answer.
    virtual void ExportRefused(int control, std::string_view reason) {
        (void)control;
        (void)reason;
    }

    virtual void Progress(std::string_view step, int64_t done, int64_t total) = 0;

    // The services below, when this host has them; a plain host has none, and
    // the plug-in then uses the platform's window system and registry itself.
    virtual Extension* GetExtension() { return nullptr; }
};

class Extension {
public:
    // What RunDialog answers when the host leaves the dialog to the window
    // system: a value no handler ends a dialog with.
    static constexpr intptr_t kNoDialogRunner = INTPTR_MIN;

    // Runs the options dialog without a window (a batch run's stand-in, a
    // terminal form); answers what the handler passed to EndDialog, or
    // kNoDialogRunner.
    virtual intptr_t RunDialog(const DialogTemplate& dlg, DlgProc proc, intptr_t param) = 0;
    // A dialog the window system made: the host hears of it once the handler
    // has opened it (and may then make edits of its own through the window),
    // and of what it ended with (-1: it could not be made).
    virtual void DialogOpened(DialogWindow* window, DlgProc proc, const DialogTemplate& dlg) {
        (void)window;
        (void)proc;
        (void)dlg;
    }
    virtual void DialogEnded(intptr_t result) { (void)result; }
    // The store the options are kept in; null leaves them to the platform's own.
    virtual Registry* GetRegistry() = 0;
    // The options chosen in the dialog could not be stored. `reason` names
    // the value and says why when the store was the platform's own; it is
    // empty when the store was the host's, which knows why itself.
    virtual void OptionsNotSaved(std::string_view reason) { (void)reason; }

protected:
    ~Extension() = default;
};

}  // namespace host
