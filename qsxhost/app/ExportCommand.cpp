#include "qsxhost/app/ExportCommand.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "qsxhost/app/DialogFlags.h"
#include "qsxhost/app/HostApp.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/SceneReport.h"
#include "util/Text.h"

namespace qsxhost {

Outcome DescribeExporter(const Plugin& plugin, bool version) {
    auto exporter = plugin.CreateExporter();
    if (!exporter) return Fail(kExitFailed, plugin.Path(), "the exporter could not be created");
    if (version) {
        PrintTo(stdout, "exporter %s: %s, version %u\n", plugin.Path().c_str(), plugin.Description(),
                exporter->Version());
        for (const auto& [k, v] : plugin.VersionRecord()) PrintTo(stdout, "  %s: %s\n", k.c_str(), v.c_str());
        return {};
    }
    for (int i = 0; i < exporter->ExtCount(); ++i)
        PrintTo(stdout, "%s (%s)\t%s\n", exporter->LongDesc(), exporter->ShortDesc(), exporter->Ext(i));
    return {};
}

void PrintWritten(const std::string& path, long long (*fileSize)(const std::string& path)) {
    const long long size = fileSize(path);
    if (size < 0) return;
    PrintTo(stderr, "qsxexport: wrote %s (%lld bytes)\n", path.c_str(), size);
}

bool IsStreamOutput(const std::string& output) {
    if (output == "-") return true;
    struct stat st {};
    return ::stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::optional<Outcome> RunExport(const Args& a, const ExportRun& run, host::Registry& registry, const Plugin& plugin,
                                 const ExportPlatform& platform, OutputGate& gate, bool* ok) {
    *ok = false;
    std::string output = a.output;
    std::vector<ControlEdit> edits = a.edits;
    if (IsStreamOutput(output)) {
        if (output == "-") {
            if (platform.standardOutput.empty())
                return Fail(kExitUsage, "", "OUTPUT - (standard output) is not in this build; name a file");
            output = platform.standardOutput;
            gate.SetStandardOutput(output);
        }
        // A stream takes the script; side files from the stored settings would
        // land beside a device or a pipe. The flags may still ask for them.
        std::vector<ControlEdit> streamEdits;
        std::string unused;
        for (const char* flag : {"--no-header", "--no-animation"})
            TakeDialogFlag(flag, [](std::string*) { return false; }, streamEdits, &unused);
        edits.insert(edits.begin(), streamEdits.begin(), streamEdits.end());
    }
    // A stored value the dialog would refuse would fail every batch run; the
    // run goes on with its default (the dialog shows it as stored).
    if (!run.interactive)
        for (const std::string& note : ReplaceRefusedStoredValues(registry, edits))
            PrintMessage(platform.settingsName, note);

    if (platform.approved) gate.OnApproved(platform.approved);

    HostApp app(run.scene, registry);
    app.SetDialog(run.interactive ? DialogMode::Terminal : DialogMode::Batch, std::move(edits));
    app.SetProgressShown(run.progress);
    app.SetTerminal(run.terminal);
    app.SetGate(&gate);
    app.SetSceneName(run.sceneName);

    auto exporter = plugin.CreateExporter();
    if (!exporter) return Fail(kExitFailed, plugin.Path(), "the exporter could not be created (out of memory)");
    const auto exportStart = std::chrono::steady_clock::now();
    const int result = exporter->DoExport(output.c_str(), nullptr, &app, 0);
    app.ClearProgress();
    const double exportSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - exportStart).count();
    exporter.reset();

    if (const std::string e = platform.settingsReadError ? platform.settingsReadError() : ""; !e.empty())
        PrintMessage("", "warning: " + e + "; the default options are used");
    std::string settingsError = platform.settingsError();
    // The plug-in's own store (the real dialog on Windows): the plug-in tells.
    if (const auto why = app.OptionsNotSavedReason(); settingsError.empty() && why)
        settingsError = why->empty() ? platform.settingsName : *why;
    if (!settingsError.empty()) platform.sayNotSaved(settingsError);
    if (app.DialogResult() == -1) return Fail(kExitUsage, a.output, app.DialogMessage());
    if (app.DialogResult() == platform.dialogFailed) return Fail(kExitUsage, "", platform.dialogFailedMessage);
    if (app.DialogResult() != 1) return Fail(kExitCancelled, a.output, "export cancelled; nothing was written");
    if (!app.Refusal().empty()) return Fail(kExitUsage, "", app.Refusal());
    const std::vector<std::string> written = gate.WrittenFiles();
    ReportExport(run.scene, run.sceneName, written);
    for (const auto& f : app.Failures()) {
        // A failed file never replaces the one that was there.
        const bool kept = gate.ExistedBefore(f.path);
        PrintMessage(f.path, "not written: " + f.reason + (kept ? "; the earlier file is unchanged" : ""));
    }
    if (app.AssertCount() > 0)
        PrintMessage("", qsx::util::Count(app.AssertCount(), "internal consistency report", "internal consistency reports") +
                             " during the export");

    if (a.verbose) {
        const SceneStats s = run.scene.Stats();
        PrintTo(stderr,
                "qsxexport: read %s in %.3f s: %lld nodes, %lld meshes, %lld vertices, %lld triangles, "
                "%lld materials\n",
                run.sceneName.c_str(), run.loadSeconds, static_cast<long long>(s.nodes),
                static_cast<long long>(s.meshes), static_cast<long long>(s.vertices),
                static_cast<long long>(s.faces), static_cast<long long>(s.materials));
        PrintTo(stderr, "qsxexport: exported in %.3f s\n", exportSeconds);
        // Which stored options this run started from, and whether it changed them.
        PrintTo(stderr, "qsxexport: settings: %s (%s)\n", platform.settingsName.c_str(),
                run.interactive || a.saveDefaults ? "read and saved" : "read only");
        for (const std::string& p : written) PrintWritten(p, platform.fileSize);
    }
    // Settings that were to be stored and were not make the run fail as well.
    *ok = result == 1 && app.Failures().empty() && settingsError.empty();
    return std::nullopt;
}

}  // namespace qsxhost
