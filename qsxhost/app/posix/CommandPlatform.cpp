// The command's platform parts on Linux: every reader, the settings file,
// terminals, the shared-library loader and the interruption's clean-up.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qsxhost/app/CheckCommand.h"
#include "qsxhost/app/Command.h"
#include "qsxhost/app/ImportGuard.h"
#include "qsxhost/app/Interruption.h"
#include "qsxhost/preview/Preview.h"
#include "qsxhost/settings/posix/FileRegistry.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "qsxhost/ui/posix/TerminalDialog.h"

namespace qsxhost {

namespace {

const CommandFeatures kFeatures{
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
    nullptr, true, AssimpInputExtensions};

// The size of a file the run put in place, for -v; -1 when it cannot be told.
long long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::unique_ptr<Plugin> LoadExporter(const std::string& explicitPath, Outcome* why) {
    for (const std::string& path : PluginSearchPath(explicitPath)) {
        if (explicitPath.empty() && access(path.c_str(), F_OK) != 0) continue;
        std::string error;
        if (auto p = Plugin::Load(path, &error)) return p;
        // The loader's reason may begin with the path already; name it once.
        if (error.rfind(path + ": ", 0) == 0) error.erase(0, path.size() + 2);
        *why = Fail(kExitUsage, path, error);
        return nullptr;
    }
    *why = Fail(kExitUsage, "qsexp.so",
                "the exporter library was not found beside qsxexport or in " + PluginSearchPath("").back() +
                    " (use --plugin PATH)");
    return nullptr;
}

// The importer may print or crash; its progress goes where standard error was.
void PrepareImport(SceneRequest& request, bool progress) {
    if (progress) {
        request.assimp.progress = [](float f) {
            dprintf(ImportGuard::UserStderr(), "\rqsxexport: importing %3d%%\033[K", static_cast<int>(f * 100));
        };
    }
    request.aroundImport = [progress](const std::string& name, const std::function<void()>& import) {
        {
            ImportGuard guard(name);
            import();
        }
        if (progress) std::fputs("\r\033[K", stderr);  // standard error is back
    };
}

// --preview: the scripts drawn into one picture.
Outcome Preview(const Args& a, const std::vector<std::string>& scripts) {
#ifdef QSX_HAVE_PREVIEW
    // The drawing library is loaded here and left loaded until the program ends.
    using WritePreviewFn = bool (*)(const std::vector<std::string>&, const std::string&, int, int, std::string*, bool*,
                                    std::vector<PreviewNote>*);
    const std::vector<std::string> places = ModuleSearchPath("qsxpreview.so");
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
        return Fail(kExitFailed, a.preview, "not drawn: " + why);
    }
    std::string error;
    bool scriptRefused = false;
    std::vector<PreviewNote> notes;
    const bool drawn = write(scripts, a.preview, a.previewWidth, a.previewHeight, &error, &scriptRefused, &notes);
    for (const PreviewNote& n : notes) PrintMessage(n.file, n.what);
    if (drawn) {
        if (a.verbose) PrintWritten(a.preview, FileSize);
        return {};
    }
    // An unreadable or faulty script is refused input, like a scene; a picture
    // that could not be drawn or written is a failed file.
    return Fail(scriptRefused ? kExitUsage : kExitFailed, "", error);
#else
    static_cast<void>(scripts);
    return Fail(kExitUsage, a.preview, "not drawn: the preview is drawn on Linux only");
#endif
}

SettingsStore OpenSettings(bool readOnly, ExportPlatform* exporting) {
    auto registry = std::make_unique<FileRegistry>(FileRegistry::DefaultPath());
    registry->SetReadOnly(readOnly);
    const FileRegistry* r = registry.get();
    exporting->settingsName = r->Path();
    exporting->settingsError = [r] { return r->LastError(); };
    exporting->settingsReadError = [r] { return r->ReadError(); };
    exporting->sayNotSaved = [r](const std::string& e) { PrintMessage(r->Path(), "settings not saved: " + e); };
    std::string file = r->Path();
    return {std::move(registry), std::move(file)};
}

}  // namespace

CommandPlatform ThisPlatform() {
    CommandPlatform p;
    p.features = kFeatures;
    p.readers.inputFormats = AssimpInputExtensions;
    p.readers.prepareImport = PrepareImport;
    p.readers.planTextures = PlanEmbeddedTextures;
    p.readers.writeTextures = WriteTextureFiles;
    p.readers.isScript = IsQsxScriptName;
    p.readers.check = RunCheck;
    p.readers.preview = Preview;
    p.loadExporter = LoadExporter;
    p.dialogShown = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    p.progressShown = isatty(STDERR_FILENO);
    p.openSettings = OpenSettings;
    p.exporting.dialogFailed = kTerminalTooSmall;
    p.exporting.dialogFailedMessage = "the options dialog needs an 80\u00d720 terminal; enlarge it or use --batch";
    p.exporting.standardOutput = "/dev/stdout";
    p.exporting.fileSize = FileSize;
    p.interruptible = PrepareForInterruption;
    return p;
}

}  // namespace qsxhost
