// The host application object handed to an exporter: the scene, its time
// line, and the services of the host (assertions, dialogs, cursor, progress,
// the settings store, reports to the user).
#pragma once

#include <cstdint>
#include <string_view>

#include "host/Dialog.h"
#include "host/Registry.h"
#include "host/Scene.h"

namespace host {

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
    // A file the export should have written and could not; it was not written,
    // and whatever stood at its path before is as it was.
    virtual void FileFailure(std::string_view path, std::string_view reason) = 0;
    // The export cannot go ahead with a setting of the exporter's options:
    // `control` is the options dialog's control that holds it, `reason` says
    // why. Nothing has been written, and DoExport answers 0. A host that does
    // not take the report sees only that answer.
    virtual void ExportRefused(int control, std::string_view reason) {
        (void)control;
        (void)reason;
    }

    // Runs a modal dialog; answers what the handler passed to EndDialog.
    virtual intptr_t DialogBoxParam(const DialogTemplate& dlg, DlgProc proc, intptr_t param) = 0;

    // The wait cursor: answers a token for the cursor it replaced.
    virtual intptr_t SetWaitCursor() = 0;
    virtual void RestoreCursor(intptr_t previous) = 0;
    virtual void Progress(std::string_view step, int64_t done, int64_t total) = 0;

    virtual Registry* GetRegistry() = 0;
};

}  // namespace host
