// qsxexport: the stand-alone host. Loads a scene, loads the exporter plug-in,
// shows its options dialog (or runs in batch) and exports.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "qsxhost/app/CheckCommand.h"
#include "qsxhost/app/CommandLine.h"
#include "qsxhost/app/ExportCommand.h"
#include "qsxhost/app/ImportGuard.h"
#include "qsxhost/app/Interruption.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/OutputGate.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/app/SceneReport.h"
#include "qsxhost/settings/posix/FileRegistry.h"
#include "qsxhost/sources/OpenScene.h"
#include "qsxhost/sources/assimp/AssimpScene.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "qsxhost/ui/posix/TerminalDialog.h"
#include "util/Files.h"
#include "util/Paths.h"
#include "util/Text.h"

using qsx::util::DirName;
using qsx::util::ErrnoText;
using qsx::util::SideFileName;
using qsxhost::PrintMessage;

using qsxhost::kExitFailed;
using qsxhost::kExitOk;
using qsxhost::kExitUsage;

namespace {

const qsxhost::CommandFeatures kFeatures{
    {"usage: qsxexport [OPTIONS] SCENE OUTPUT\n"
     "       qsxexport [OPTIONS] -o OUTPUT SCENE\n"
     "       qsxexport --check FILE...\n"
     "       qsxexport --preview PNG [--preview-size WxH] SCRIPT\n"
     "       qsxexport --info [--json] SCENE\n"
     "\n"
     "Exports SCENE (a JSON scene file, a QSX script, or any 3D file the importer\n"
     "reads; - reads standard input) as a QSX script at OUTPUT, with the header and animation files\n"
     "beside it when asked: OUTPUT's name with .qsh and .qsv in place of its\n"
     "extension.\n"
     "\n"
     "Without --batch, and when standard input and output are terminals, the options\n"
     "dialog opens showing the stored options with the flags below already applied;\n"
     "OK exports and stores what the dialog shows. With --batch (or without a\n"
     "terminal) the export runs with the stored options as the flags change them, and\n"
     "nothing is stored unless --save-defaults is given.\n"
     "\n",
     {
#ifndef QSX_HAVE_PREVIEW
         {"--preview", nullptr, "not in this build: the preview is drawn on Linux only"},
         {"--preview-size"},
#endif
     },
     "Exit status: 0 written, 1 a file could not be written, 2 usage error or\n"
     "refused input, 3 cancelled in the dialog, 128 + the signal when interrupted\n"
     "(130 by Ctrl-C). A file is put in place only once it is complete: until then\n"
     "it is written beside its destination as NAME.partial-PID.\n"},
    nullptr, true};

// The size of a file the run put in place, for -v; -1 when it cannot be told.
long long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::unique_ptr<qsxhost::Plugin> LoadExporter(const std::string& explicitPath) {
    std::string firstError, firstPath;
    for (const std::string& path : qsxhost::PluginSearchPath(explicitPath)) {
        if (explicitPath.empty() && access(path.c_str(), F_OK) != 0) continue;
        std::string error;
        if (auto p = qsxhost::Plugin::Load(path, &error)) return p;
        // The loader's reason may begin with the path already; name it once.
        if (error.rfind(path + ": ", 0) == 0) error.erase(0, path.size() + 2);
        PrintMessage(path, error);
        return nullptr;
    }
    PrintMessage("qsexp.so", "the exporter library was not found beside qsxexport or in " +
                                 qsxhost::PluginSearchPath("").back() + " (use --plugin PATH)");
    return nullptr;
}

// --preview: the scripts drawn into one picture.
int Preview(const qsxhost::Args& a, const std::vector<std::string>& scripts) {
#ifdef QSX_HAVE_PREVIEW
    // The drawing library is loaded here and left loaded until the program ends.
    using WritePreviewFn = bool (*)(const std::vector<std::string>&, const std::string&, int, int, std::string*, bool*);
    const std::vector<std::string> places = qsxhost::ModuleSearchPath("qsxpreview.so");
    WritePreviewFn write = nullptr;
    std::string why;
    for (const std::string& path : places) {
        if (::access(path.c_str(), F_OK) != 0) continue;
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* e = ::dlerror();
            why = path + ": " + (e ? e : "could not be loaded");
            break;
        }
        write = reinterpret_cast<WritePreviewFn>(::dlsym(module, "QsxWritePreview"));
        if (!write) why = path + ": not the preview library";
        break;
    }
    if (!write) {
        if (why.empty()) why = "qsxpreview.so: not found beside qsxexport or in " + places.back().substr(0, places.back().rfind('/'));
        PrintMessage(a.preview, "not drawn: " + why);
        return kExitFailed;
    }
    std::string error;
    bool scriptRefused = false;
    if (write(scripts, a.preview, a.previewWidth, a.previewHeight, &error, &scriptRefused)) return kExitOk;
    PrintMessage("", error);
    // An unreadable or faulty script is refused input, like a scene; a picture
    // that could not be drawn or written is a failed file.
    return scriptRefused ? kExitUsage : kExitFailed;
#else
    static_cast<void>(scripts);
    PrintMessage(a.preview, "not drawn: the preview is drawn on Linux only");
    return kExitUsage;
#endif
}

int Run(int argc, char** argv) {
    qsxhost::Args a;
    if (int rc = qsxhost::ParseArgs(std::vector<std::string>(argv, argv + argc), kFeatures, &a); rc >= 0) return rc;
    if (a.check) return qsxhost::RunCheck(a.files);
    if (!a.files.empty()) {
        qsxhost::OutputGate gate;
        for (const std::string& f : a.files) gate.AddInput(f, "script");
        gate.AddHostFile(a.preview, "preview picture");
        if (const std::string m = gate.Approve(nullptr, 0); !m.empty()) {
            PrintMessage(a.preview, m);
            return kExitUsage;
        }
        return Preview(a, a.files);
    }

    if (a.listInputFormats) {
        std::printf("%s\n", qsxhost::AssimpInputExtensions().c_str());
        if (!a.listFormats) return kExitOk;
    }
    std::unique_ptr<qsxhost::Plugin> plugin;
    if (!a.info || a.version || a.listFormats) {
        plugin = LoadExporter(a.plugin);
        if (!plugin) return kExitUsage;
    }
    if (a.version || a.listFormats) return qsxhost::DescribeExporter(*plugin, a.version);

    const bool interactive = !a.batch && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    const bool progress = isatty(STDERR_FILENO) && !interactive;

    // Load the scene.
    const auto loadStart = std::chrono::steady_clock::now();
    // Every file the run writes passes one gate; the plainest refusal, the
    // script over the scene, is said before the scene is read.
    qsxhost::OutputGate gate;
    qsxhost::SceneRequest request{a.scene, a.inputFormat, a.assimp, {}, {}};
    if (!a.info && a.output != "-") {
        // Textures the file does not name are named after OUTPUT, whose folder they share.
        const std::string name = a.output.substr(qsx::util::LastComponentStart(a.output));
        request.assimp.unnamedTexturePrefix = name.substr(0, std::min(qsx::util::ExtensionDot(name), name.size())) + "_";
    }
    request.beforeReading = [&](const std::string& scenePath) -> qsxhost::SceneProblem {
        gate.AddInput(scenePath, "scene file");
        if (a.info || a.output == "-") return {};
        if (const std::string m = gate.Refusal(a.output, "script"); !m.empty()) return {a.output, m};
        return {};
    };
    if (progress) {
        request.assimp.progress = [](float f) {
            dprintf(qsxhost::ImportGuard::UserStderr(), "\rqsxexport: importing %3d%%\033[K", static_cast<int>(f * 100));
        };
    }
    request.aroundImport = [&](const std::string& name, const std::function<void()>& import) {
        {
            qsxhost::ImportGuard guard(name);
            import();
        }
        if (progress) std::fputs("\r\033[K", stderr);  // standard error is back
    };
    qsxhost::OpenedScene opened = qsxhost::OpenScene(request);
    for (const std::string& w : opened.warnings) PrintMessage(opened.name, w);
    if (!opened.scene) {
        PrintMessage(opened.problem.file, opened.problem.what);
        return opened.problem.outOfMemory ? kExitFailed : kExitUsage;
    }
    std::unique_ptr<qsxhost::SceneSource> scene = std::move(opened.scene);
    const std::string& sceneName = opened.name;
    const std::string& scenePath = opened.path;
    const bool json = opened.kind == qsxhost::SceneKind::Json;
    const bool qsxScript = opened.kind == qsxhost::SceneKind::Script;
    const double loadSeconds = Seconds(loadStart);
    if (json)
        for (const std::string& o : a.fileOnlyOptions)
            PrintMessage(sceneName, "warning: " + o + " applies to 3D files only; a JSON scene ignores it");
    if (a.info) {
        const qsxhost::SceneInfo info = scene->Describe();
        const std::string text = a.infoJson ? qsxhost::InfoJson(info, sceneName) : qsxhost::InfoText(info, sceneName);
        const bool out = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
        if (!out) PrintMessage("standard output", ErrnoText(errno));
        return out ? kExitOk : kExitFailed;
    }

    // The settings store; a batch run stores nothing unless asked to.
    qsxhost::FileRegistry registry(qsxhost::FileRegistry::DefaultPath());
    registry.SetReadOnly(!interactive && !a.saveDefaults);
    qsxhost::ExportPlatform platform;
    platform.settingsName = registry.Path();
    platform.settingsError = [&] { return registry.LastError(); };
    platform.settingsReadError = [&] { return registry.ReadError(); };
    platform.sayNotSaved = [&](const std::string& e) { PrintMessage(registry.Path(), "settings not saved: " + e); };
    platform.dialogFailed = qsxhost::kTerminalTooSmall;
    platform.dialogFailedMessage = "the options dialog needs an 80\u00d720 terminal; enlarge it or use --batch";
    platform.approved = [&](const std::vector<std::string>& destinations) {
        qsxhost::PrepareForInterruption(gate, destinations, registry.Path());
    };
    platform.standardOutput = "/dev/stdout";
    platform.fileSize = FileSize;
    gate.AddInput(registry.Path(), "settings file");
    if (qsxScript) gate.AddInput(SideFileName(a.scene, ".qsv"), "animation file of the scene");
    gate.AddHostFile(a.preview, "preview picture");
    // Extracted textures never replace a file silently: one with the same
    // bytes is left as it is, and a different one that is not this OUTPUT's
    // own (named after it) refuses the run before anything is written.
    std::vector<qsxhost::TextureFile> textures;
    if (a.extractTextures && !json && !qsxScript) {
        std::string terr;
        if (!qsxhost::PlanEmbeddedTextures(*scene, DirName(a.output), &textures, &terr)) {
            PrintMessage("", "textures not extracted: " + terr);
            return kExitFailed;
        }
        for (const qsxhost::TextureFile& t : textures) {
            gate.AddHostFile(t.path, "extracted texture");
            const std::string name = t.path.substr(qsx::util::LastComponentStart(t.path));
            const bool ours = !request.assimp.unnamedTexturePrefix.empty() &&
                              name.rfind(request.assimp.unnamedTexturePrefix, 0) == 0;
            struct stat there {};
            if (!t.alreadyThere && !ours && ::stat(t.path.c_str(), &there) == 0) {
                PrintMessage(t.path, "an embedded texture of this name would replace a different file, which this "
                                     "export did not write; nothing written (move the file away, or export into "
                                     "another folder)");
                return kExitUsage;
            }
        }
    }
    const qsxhost::ExportRun run{*scene, sceneName, scenePath, loadSeconds, interactive, progress};
    bool ok = false;
    if (const int rc = qsxhost::RunExport(a, run, registry, *plugin, platform, gate, &ok); rc >= 0) return rc;

    std::string terr;
    const bool texturesWritten = qsxhost::WriteTextureFiles(
        textures,
        [&](const std::string& path) {
            gate.Written(path);
            if (a.verbose) qsxhost::PrintWritten(path, FileSize);
        },
        &terr);
    if (!texturesWritten) {
        PrintMessage("", "textures not extracted: " + terr);
        return kExitFailed;
    }
    if (ok && !a.preview.empty()) {
        std::vector<std::string> scripts;
        for (const std::string& p : gate.WrittenFiles())
            if (qsxhost::IsQsxScriptName(p)) scripts.push_back(p);
        if (!scripts.empty()) return Preview(a, scripts);
    }
    return ok ? kExitOk : kExitFailed;
}

struct ThreadCall {
    int argc;
    char** argv;
    int rc;
};

void* ThreadMain(void* p) {
    auto* call = static_cast<ThreadCall*>(p);
    // Memory that runs out anywhere in the command ends it with one message.
    try {
        call->rc = Run(call->argc, call->argv);
    } catch (const std::bad_alloc&) {
        std::fputs("qsxexport: out of memory\n", stderr);
        call->rc = kExitFailed;
    }
    qsxhost::CommandFinished();
    return nullptr;
}

}  // namespace

// The host's custom controls: nothing to prepare in a terminal.
extern "C" __attribute__((visibility("default"))) void InitCustomControls(void*) {}

int main(int argc, char** argv) {
    // The user's locale is honoured for everything but the files, whose
    // numbers never follow it.
    std::setlocale(LC_ALL, "");
    // A file-size limit is a write failure like a full disk, not the end of the process.
    std::signal(SIGXFSZ, SIG_IGN);
    qsxhost::StartSignalWatch();

    // Scene trees may be thousands of levels deep and the exporter's walks
    // over them recurse; run on a stack large enough for that (only touched pages cost).
    ThreadCall call{argc, argv, kExitFailed};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t{1} << 30);
    pthread_t thread;
    const bool ownThread = qsxhost::StartCommandThread(&thread, &attr, ThreadMain, &call);
    if (ownThread) {
        pthread_join(thread, nullptr);
    } else {
        ThreadMain(&call);
    }
    pthread_attr_destroy(&attr);
    return call.rc;
}
