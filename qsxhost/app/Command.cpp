#include "qsxhost/app/Command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <new>
#include <optional>
#include <utility>

#include "qsxhost/app/SceneReport.h"
#include "util/Files.h"
#include "util/Paths.h"

namespace qsxhost {

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// --preview with SCRIPT alone: that script drawn, without an export.
Outcome PreviewAlone(const Args& a, const CommandPlatform& p) {
    for (const std::string& f : a.files)
        if (p.readers.isScript && !p.readers.isScript(f))
            return Fail(kExitUsage, f,
                        "a preview of a scene needs an OUTPUT to export first (qsxexport --preview PNG SCENE OUTPUT); "
                        "a script alone is drawn when its name ends in .QSX");
    OutputGate gate;
    for (const std::string& f : a.files) gate.AddInput(f, "script");
    gate.AddHostFile(a.preview, "preview picture");
    if (const std::string m = gate.Approve(nullptr, 0); !m.empty()) return Fail(kExitUsage, a.preview, m);
    return p.readers.preview(a, a.files);
}

Outcome Describe(SceneSource& scene, const std::string& sceneName, bool json) {
    const SceneInfo info = scene.Describe();
    const std::string text = json ? InfoJson(info, sceneName) : InfoText(info, sceneName);
    if (WriteText(stdout, text) && std::fflush(stdout) == 0) return {};
    const int err = errno;
    return Fail(kExitFailed, "standard output", qsx::util::ErrnoText(err));
}

// Extracted textures never replace a file silently: one with the same bytes
// is left as it is, and a different one that is not this OUTPUT's own (named
// after it) refuses the run before anything is written.
std::optional<Outcome> PlanTextures(const CommandPlatform& p, SceneSource& scene, const std::string& output,
                                    const std::string& ownPrefix, OutputGate& gate, std::vector<TextureFile>* textures) {
    std::string terr;
    if (!p.readers.planTextures(scene, qsx::util::DirName(output), textures, &terr))
        return Fail(kExitFailed, "", "textures not extracted: " + terr);
    for (const TextureFile& t : *textures) {
        gate.AddHostFile(t.path, "extracted texture");
        const std::string name = t.path.substr(qsx::util::LastComponentStart(t.path));
        const bool ours = !ownPrefix.empty() && name.rfind(ownPrefix, 0) == 0;
        const bool fileThere = p.exporting.fileSize(t.path) >= 0;
        if (!t.alreadyThere && !ours && fileThere)
            return Fail(kExitUsage, t.path,
                        "an embedded texture of this name would replace a different file, which this export did not "
                        "write; nothing written (move the file away, or export into another folder)");
    }
    return std::nullopt;
}

// SCENE opened, then described (--info) or exported with everything after.
Outcome OpenAndExport(const Args& a, const Plugin* plugin, const CommandPlatform& p) {
    const bool interactive = !a.batch && p.dialogShown;
    const bool progress = p.progressShown && !interactive;

    const auto loadStart = std::chrono::steady_clock::now();
    // Every file the run writes passes one gate; the plainest refusal, the
    // script over the scene, is said before the scene is read.
    OutputGate gate;
    SceneRequest request{a.scene, a.inputFormat, a.assimp, {}, {}, a.info};
    if (!a.info && a.output != "-") {
        // Textures the file does not name are named after OUTPUT, whose folder they share.
        const std::string name = a.output.substr(qsx::util::LastComponentStart(a.output));
        request.assimp.unnamedTexturePrefix = name.substr(0, std::min(qsx::util::ExtensionDot(name), name.size())) + "_";
    }
    request.beforeReading = [&](const std::string& scenePath) -> SceneProblem {
        gate.AddInput(scenePath, "scene file");
        if (a.info || a.output == "-") return {};
        if (const std::string m = gate.Refusal(a.output, "script"); !m.empty()) return {a.output, m};
        return {};
    };
    if (p.readers.prepareImport) p.readers.prepareImport(request, progress);
    OpenedScene opened = OpenScene(request);
    for (const std::string& w : opened.warnings) PrintMessage(opened.name, w);
    if (!opened.scene)
        return Fail(opened.problem.outOfMemory ? kExitFailed : kExitUsage, opened.problem.file, opened.problem.what);
    SceneSource& scene = *opened.scene;
    const std::string& sceneName = opened.name;
    const bool json = opened.kind == SceneKind::Json;
    const bool script = opened.kind == SceneKind::Script;
    const double loadSeconds = Seconds(loadStart);
    if (json)
        for (const std::string& o : a.fileOnlyOptions)
            PrintMessage(sceneName, "warning: " + o + " applies to 3D files only; a JSON scene ignores it");
    if (a.info) {
        if (const std::string why = scene.UseAnimation(); !why.empty()) return Fail(kExitUsage, "", why);
        return Describe(scene, sceneName, a.infoJson);
    }

    // The settings store; a batch run stores nothing unless asked to.
    ExportPlatform exporting = p.exporting;
    const SettingsStore settings = p.openSettings(!interactive && !a.saveDefaults, &exporting);
    if (p.interruptible)
        exporting.approved = [&](const std::vector<std::string>& destinations) {
            p.interruptible(gate, destinations, settings.file);
        };
    gate.AddInput(settings.file, "settings file");
    if (script) gate.AddInput(qsx::util::SideFileName(a.scene, ".qsv"), "animation file of the scene");
    gate.AddHostFile(a.preview, "preview picture");
    std::vector<TextureFile> textures;
    if (a.extractTextures && !json && !script)
        if (auto end = PlanTextures(p, scene, a.output, request.assimp.unnamedTexturePrefix, gate, &textures)) return *end;

    const ExportRun run{scene, sceneName, opened.path, loadSeconds, interactive, progress, p.progressShown};
    bool ok = false;
    if (auto end = RunExport(a, run, *settings.registry, *plugin, exporting, gate, &ok)) return *end;

    const auto written = [&](const std::string& path) {
        gate.Written(path);
        if (a.verbose) PrintWritten(path, exporting.fileSize);
    };
    std::string terr;
    if (p.readers.writeTextures && !p.readers.writeTextures(textures, written, &terr))
        return Fail(kExitFailed, "", "textures not extracted: " + terr);
    if (ok && !a.preview.empty()) {
        std::vector<std::string> scripts;
        for (const std::string& path : gate.WrittenFiles())
            if (p.readers.isScript(path)) scripts.push_back(path);
        if (!scripts.empty()) return p.readers.preview(a, scripts);
    }
    return Silent(ok ? kExitOk : kExitFailed);
}

Outcome Run(const std::vector<std::string>& argv, const CommandPlatform& p) {
    Args a;
    if (auto end = ReadArgs(argv, p.features, &a)) return *end;
    if (a.check) return Silent(p.readers.check(a.files));
    if (!a.files.empty()) return PreviewAlone(a, p);

    if (a.version) std::printf("qsxexport %s\n", QSX_VERSION);
    if (a.listInputFormats) {
        std::printf("%s\n", p.readers.inputFormats().c_str());
        if (!a.listFormats) return {};
    }
    std::unique_ptr<Plugin> plugin;
    if (!a.info || a.version || a.listFormats) {
        Outcome why;
        plugin = p.loadExporter(a.plugin, &why);
        if (!plugin) return why;
    }
    if (a.version || a.listFormats) return DescribeExporter(*plugin, a.version);
    return OpenAndExport(a, plugin.get(), p);
}

}  // namespace

int RunCommand(const std::vector<std::string>& argv, const CommandPlatform& platform) {
    // Memory that runs out anywhere in the command ends it with one message.
    try {
        return Conclude(Run(argv, platform));
    } catch (const std::bad_alloc&) {
        std::fputs("qsxexport: out of memory\n", stderr);
        return kExitFailed;
    }
}

}  // namespace qsxhost
