// qsxexport.exe: the stand-alone host on Windows, for JSON scenes. The export
// options are the same flags as on Linux (DialogFlags); the dialog is the
// real Windows dialog from the plug-in's resources, the settings live in the
// registry, and names on the command line may use any characters (UTF-8
// inside, wide characters towards the system).
#include <chrono>
#include <clocale>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "QsxExp/Options.h"
#include "qsxhost/app/CommandLine.h"
#include "qsxhost/app/ExportCommand.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/OutputGate.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/settings/win32/Registry.h"
#include "qsxhost/sources/OpenScene.h"
#include "qsxhost/ui/win32/Dialog.h"
#include "util/Files.h"
#include "util/win32/Wide.h"

// Last: <windows.h> defines macros named like the host's constants.
#include <windows.h>
#include <shellapi.h>

using qsxhost::kExitFailed;
using qsxhost::kExitOk;
using qsxhost::kExitUsage;
using qsxhost::PrintMessage;

namespace {

const qsxhost::CommandFeatures kFeatures{
    {"usage: qsxexport [OPTIONS] SCENE OUTPUT\n"
     "       qsxexport [OPTIONS] -o OUTPUT SCENE\n"
     "\n"
     "Exports SCENE (a JSON scene file; - reads standard input) as a QSX script at\n"
     "OUTPUT, with the header and animation files beside it when asked: OUTPUT's\n"
     "name with .qsh and .qsv in place of its extension. This Windows build reads\n"
     "JSON scenes only: the Assimp importer for other 3D files is not built for it.\n"
     "\n"
     "Without --batch the options dialog opens showing the stored options (in the\n"
     "registry, HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter)\n"
     "with the flags below already applied; OK exports and stores what the dialog\n"
     "shows. With --batch the export runs with the stored options as the flags\n"
     "change them, and nothing is stored unless --save-defaults is given.\n"
     "\n",
     {
         {"--plugin", nullptr, "the exporter library to load (default: qsexp.dle\nbeside qsxexport.exe)"},
         {"--list-input-formats", nullptr, "list the 3D file extensions that can be read (none\non Windows)"},
         {"--check", "--check, --preview PNG",
          "not in this build: checking scripts, reading them\nback and drawing the preview are Linux only"},
     },
     "Exit status: 0 written, 1 a file could not be written, 2 usage error or\n"
     "refused input, 3 cancelled in the dialog. A file is put in place only once it\n"
     "is complete: until then it is written beside its destination as\n"
     "NAME.partial-PID.\n"},
    qsxhost::kUnreadFormats, false};

long long FileSize(const std::string& path) {
    std::wstring wide;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!qsx::util::Utf8ToWide(path, &wide) || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::unique_ptr<qsxhost::Plugin> LoadExporter(const std::string& explicitPath) {
    const std::string path = qsxhost::PluginSearchPath(explicitPath).front();
    std::string error;
    if (auto p = qsxhost::Plugin::Load(path, &error)) return p;
    PrintMessage(path, error + (explicitPath.empty() ? " (use --plugin PATH)" : ""));
    return nullptr;
}

int Run(const std::vector<std::string>& argv) {
    qsxhost::Args a;
    if (int rc = qsxhost::ParseArgs(argv, kFeatures, &a); rc >= 0) return rc;
    if (a.listInputFormats) {
        std::printf("(none: %s)\n", qsxhost::kUnreadFormats);
        if (!a.listFormats) return kExitOk;
    }
    auto plugin = LoadExporter(a.plugin);
    if (!plugin) return kExitUsage;
    if (a.version || a.listFormats) return qsxhost::DescribeExporter(*plugin, a.version);

    // The scene, read whole through its wide-character name (or from standard input).
    const auto loadStart = std::chrono::steady_clock::now();
    qsxhost::OutputGate gate;
    qsxhost::SceneRequest request{a.scene, a.inputFormat, a.assimp, {}, {}};
    request.beforeReading = [&](const std::string& scenePath) -> qsxhost::SceneProblem {
        gate.AddInput(scenePath, "scene file");
        if (a.output == "-") return {};
        if (const std::string m = gate.Refusal(a.output, "script"); !m.empty()) return {a.output, m};
        return {};
    };
    qsxhost::OpenedScene opened = qsxhost::OpenScene(request);
    for (const std::string& w : opened.warnings) PrintMessage(opened.name, w);
    if (!opened.scene) {
        PrintMessage(opened.problem.file, opened.problem.what);
        return opened.problem.outOfMemory ? kExitFailed : kExitUsage;
    }
    std::unique_ptr<qsxhost::SceneSource> scene = std::move(opened.scene);
    const std::string& sceneName = opened.name;
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();

    const bool interactive = !a.batch;
    qsxhost::Registry registry;
    registry.SetReadOnly(!interactive && !a.saveDefaults);
    qsxhost::ExportPlatform platform;
    // The registry key, as a registry editor shows it: where the user finds the value.
    platform.settingsName = std::string(qsxhost::Registry::Name()) + "\\" + qsx::kOptionsKey;
    platform.settingsError = [&] { return registry.LastError(); };
    platform.sayNotSaved = [](const std::string& e) { PrintMessage(e, "settings not saved"); };
    platform.dialogFailed = qsxhost::kDialogFailed;
    platform.dialogFailedMessage = "the options dialog could not be shown; use --batch";
    platform.fileSize = FileSize;
    const qsxhost::ExportRun run{*scene, sceneName, opened.path, loadSeconds, interactive, false};
    bool ok = false;
    if (const int rc = qsxhost::RunExport(a, run, registry, *plugin, platform, gate, &ok); rc >= 0) return rc;
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

// The host's custom controls, which the plug-in looks up in the program that
// loaded it: the common controls are all this host has.
extern "C" __declspec(dllexport) void InitCustomControls(void*) {}

int main() {
    std::setlocale(LC_ALL, "");
    std::vector<std::string> args;
    int argc = 0;
    if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 0; i < argc; ++i) args.push_back(qsx::util::WideToUtf8(argv[i]));
        LocalFree(argv);
    }
    try {
        return Run(args);
    } catch (const std::bad_alloc&) {
        std::fputs("qsxexport: out of memory\n", stderr);
        return kExitFailed;
    }
}
