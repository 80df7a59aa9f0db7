// qsxexport.exe: the stand-alone host on Windows, for JSON scenes. The export
// options are the same flags as on Linux (DialogFlags); the dialog is the
// real Windows dialog from the plug-in's resources, the settings live in the
// registry, and names on the command line may use any characters (UTF-8
// inside, wide characters towards the system).
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qsxhost/app/DialogFlags.h"
#include "qsxhost/app/HostApp.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/OutputPlan.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/app/SceneReport.h"
#include "qsxhost/settings/Win32Registry.h"
#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/ui/Win32Dialog.h"
#include "util/Files.h"
#include "util/win32/Wide.h"

// Last: <windows.h> defines macros named like the host's constants.
#include <windows.h>
#include <shellapi.h>

using qsxhost::ControlEdit;
using qsxhost::FlagMatch;
using qsxhost::PrintMessage;

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

constexpr const char* kNoImporter =
    "3D files other than JSON scenes are not read on Windows: the Assimp importer is not built for it";

const char kUsage[] =
    "usage: qsxexport [OPTIONS] SCENE OUTPUT\n"
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
    "\n"
    "An option's value may follow it as the next word or after '=' (--hints=none).\n"
    "Numbers are plain decimal (1.5, 2e3), read the same in every locale.\n"
    "\n"
    "Export options (each changes one stored option for this run):\n"
    "  --scale-to SIZE          scale the scene's largest extent to SIZE (above 0)\n"
    "  --scale-by FACTOR        scale every position by FACTOR (3e-39 to 3e+38)\n"
    "  --centre, --no-centre    move the scene's centre to the origin, or not\n"
    "  --hierarchy MODE         preserve | single | multiple | separate\n"
    "  --hints MODE             none | hidden-surface | editable\n"
    "  --textures, --no-textures          name textures in the script\n"
    "  --lit, --no-lit, --foreshorten, --no-foreshorten, --filter, --no-filter\n"
    "                           texture modes\n"
    "  --ext EXT                replace texture file extensions by EXT (1 to 3\n"
    "                           letters or digits, written in capitals)\n"
    "  --no-ext                 keep the texture files' own extensions\n"
    "  --header, --no-header    write the header file OUTPUT.qsh, or not\n"
    "  --animation, --no-animation        write the animation file OUTPUT.qsv,\n"
    "                           or not\n"
    "\n"
    "Run options:\n"
    "  -o OUTPUT                the script's path, in place of the second operand\n"
    "  --batch                  no dialog: export with the stored options as changed\n"
    "  --save-defaults          store the options used (batch runs store nothing\n"
    "                           otherwise)\n"
    "  --plugin PATH            the exporter library to load (default: qsexp.dle\n"
    "                           beside qsxexport.exe)\n"
    "  -v, --verbose            say what was read, and each file written with its\n"
    "                           size\n"
    "  --list-formats           list what the loaded exporter writes\n"
    "  --list-input-formats     list the 3D file extensions that can be read (none\n"
    "                           on Windows)\n"
    "  --check, --preview PNG   not in this build: checking scripts, reading them\n"
    "                           back and drawing the preview are Linux only\n"
    "  -h, --help, -V, --version\n"
    "  --                       the words after it are SCENE and OUTPUT, even if\n"
    "                           they begin with -\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 usage error or\n"
    "refused input, 3 cancelled in the dialog. A file is put in place only once it\n"
    "is complete: until then it is written beside its destination as\n"
    "NAME.partial-PID.\n";

struct Args {
    std::string scene, output, plugin;
    std::vector<ControlEdit> edits;
    bool batch = false, saveDefaults = false, verbose = false;
    bool version = false, listFormats = false, listInputFormats = false;
};

// Answers -1 to go on, else the exit status.
int ParseArgs(const std::vector<std::string>& argv, Args* a) {
    std::vector<std::string> positional;
    bool outputOption = false;
    const size_t argc = argv.size();
    for (size_t i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> attached;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos && eq > 2) {
            attached = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto value = [&](std::string* out) {
            if (attached) {
                *out = *std::exchange(attached, std::nullopt);
                return true;
            }
            if (i + 1 >= argc) {
                PrintMessage("", "option " + arg + " needs a value (see --help)");
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string refusal;
        if (const FlagMatch m = qsxhost::TakeDialogFlag(arg, value, a->edits, &refusal); m != FlagMatch::NotOurs) {
            if (m == FlagMatch::Refused) {
                if (!refusal.empty()) PrintMessage("", refusal);
                return kExitUsage;
            }
            if (attached) {
                PrintMessage("", "option " + arg + " takes no value (see --help)");
                return kExitUsage;
            }
        } else if (arg == "--input-format" || arg == "--up-axis" || arg == "--fps" || arg == "--animation-index" ||
                   arg == "--extract-textures") {
            PrintMessage("", "option " + arg + " is for 3D files; " + kNoImporter);
            return kExitUsage;
        } else if (attached && arg != "--plugin") {
            PrintMessage("", "option " + arg + " takes no value (see --help)");
            return kExitUsage;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--version" || arg == "-V") {
            std::printf("qsxexport %s\n", QSX_VERSION);
            a->version = true;
        } else if (arg == "--batch") {
            a->batch = true;
        } else if (arg == "--save-defaults") {
            a->saveDefaults = true;
        } else if (arg == "-v" || arg == "--verbose") {
            a->verbose = true;
        } else if (arg == "--list-formats") {
            a->listFormats = true;
        } else if (arg == "--list-input-formats") {
            a->listInputFormats = true;
        } else if (arg == "-o") {
            if (!value(&a->output)) return kExitUsage;
            if (outputOption) {
                PrintMessage("", "option -o given twice (see --help)");
                return kExitUsage;
            }
            outputOption = true;
        } else if (arg == "--plugin") {
            if (!value(&a->plugin)) return kExitUsage;
        } else if (arg == "--") {
            for (++i; i < argc; ++i) positional.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            PrintMessage("", "unknown option " + arg + " (see --help)");
            return kExitUsage;
        } else {
            positional.push_back(arg);
        }
    }
    if (a->version || a->listFormats || a->listInputFormats) return -1;
    if (positional.size() != (outputOption ? 1u : 2u)) {
        PrintMessage("", outputOption ? "expected SCENE and -o OUTPUT, no second operand (see --help)"
                                      : "expected SCENE and OUTPUT (see --help)");
        return kExitUsage;
    }
    a->scene = positional[0];
    if (!outputOption) a->output = positional[1];
    if (a->scene.empty() || a->output.empty()) {
        PrintMessage("", std::string(a->scene.empty() ? "SCENE" : "OUTPUT") + " is an empty path (see --help)");
        return kExitUsage;
    }
    return -1;
}

bool IsJsonText(std::string_view text) {
    const std::string_view head = text.substr(0, 4096);
    return qsxhost::LooksLikeJsonScene(head) && head.find("\"qsxScene\"") != std::string_view::npos;
}

void PrintWritten(const std::string& path) {
    std::wstring wide;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!qsx::util::Utf8ToWide(path, &wide) || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
        return;
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::fprintf(stderr, "qsxexport: wrote %s (%llu bytes)\n", path.c_str(), size);
}

std::unique_ptr<qsxhost::Plugin> LoadExporter(const std::string& explicitPath) {
    const std::string path = qsxhost::PluginSearchPath(explicitPath).front();
    std::string error;
    if (auto p = qsxhost::Plugin::Load(path, &error)) return p;
    PrintMessage(path, error + (explicitPath.empty() ? " (use --plugin PATH)" : ""));
    return nullptr;
}

int Run(const std::vector<std::string>& argv) {
    Args a;
    if (int rc = ParseArgs(argv, &a); rc >= 0) return rc;
    if (a.listInputFormats) {
        std::printf("(none: %s)\n", kNoImporter);
        if (!a.listFormats) return kExitOk;
    }
    auto plugin = LoadExporter(a.plugin);
    if (!plugin) return kExitUsage;
    if (a.version || a.listFormats) {
        auto exporter = plugin->CreateExporter();
        if (!exporter) {
            PrintMessage(plugin->Path(), "the exporter could not be created");
            return kExitFailed;
        }
        if (a.version) {
            std::printf("exporter %s: %s, version %u\n", plugin->Path().c_str(), plugin->Description(),
                        exporter->Version());
            for (const auto& [k, v] : plugin->VersionRecord()) std::printf("  %s: %s\n", k.c_str(), v.c_str());
            return kExitOk;
        }
        for (int i = 0; i < exporter->ExtCount(); ++i)
            std::printf("%s (%s)\t%s\n", exporter->LongDesc(), exporter->ShortDesc(), exporter->Ext(i));
        return kExitOk;
    }

    // The scene, read whole through its wide-character name (or from standard input).
    const auto loadStart = std::chrono::steady_clock::now();
    const bool fromStdin = a.scene == "-";
    const std::string sceneName = fromStdin ? "standard input" : a.scene;
    std::string text, error;
    if (fromStdin) {
        _setmode(_fileno(stdin), _O_BINARY);
        if (!qsx::util::ReadAll(_fileno(stdin), text, SIZE_MAX, &error)) {
            PrintMessage(sceneName, error);
            return kExitUsage;
        }
    } else if (const auto state = qsx::util::ReadWholeFile(a.scene, text, SIZE_MAX, &error);
               state != qsx::util::ReadState::Read) {
        PrintMessage(sceneName, state == qsx::util::ReadState::Absent ? "No such file or directory" : error);
        return kExitUsage;
    }
    if (text.empty()) {
        PrintMessage(sceneName, "is empty");
        return kExitUsage;
    }
    if (!fromStdin) {
        if (const std::string m = qsxhost::OutputIsScene(a.output, a.scene); !m.empty()) {
            PrintMessage(a.output, m);
            return kExitUsage;
        }
    }
    // A byte-order mark may open a JSON scene.
    const std::string_view body = std::string_view(text).substr(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
    if (!IsJsonText(body)) {
        PrintMessage(sceneName, std::string("not a JSON scene; ") + kNoImporter);
        return kExitUsage;
    }
    std::unique_ptr<qsxhost::SceneSource> scene = qsxhost::ParseJsonScene(text, &error);
    if (!scene) {
        PrintMessage(error == qsxhost::kOutOfMemory ? "" : sceneName, error);
        return error == qsxhost::kOutOfMemory ? kExitFailed : kExitUsage;
    }
    text = std::string();
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();

    const bool interactive = !a.batch;
    qsxhost::Win32Registry registry;
    registry.SetReadOnly(!interactive && !a.saveDefaults);

    qsxhost::HostApp app(*scene, registry);
    app.SetDialog(interactive ? qsxhost::DialogMode::Terminal : qsxhost::DialogMode::Batch, a.edits);
    qsxhost::OutputPlan plan;
    qsxhost::DialogChoices chosen;
    app.SetOkCheck([&](const host::DialogWindow& dialog) {
        chosen = qsxhost::ReadDialogChoices(dialog);
        plan = qsxhost::PlanOutputs(a.output, chosen, scene->GetRootNode());
        return qsxhost::FindCollision(plan, fromStdin ? std::string() : a.scene);
    });

    auto exporter = plugin->CreateExporter();
    if (!exporter) {
        PrintMessage(plugin->Path(), "the exporter could not be created (out of memory)");
        return kExitFailed;
    }
    const auto exportStart = std::chrono::steady_clock::now();
    const int result = exporter->DoExport(a.output.c_str(), nullptr, &app, 0);
    const double exportSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - exportStart).count();
    exporter.reset();

    if (!registry.LastError().empty()) PrintMessage(registry.LastError(), "settings not saved");
    if (app.DialogResult() == -1) {
        PrintMessage(a.output, app.DialogMessage());
        return kExitUsage;
    }
    if (app.DialogResult() == qsxhost::kWin32DialogFailed) {
        PrintMessage("", "the options dialog could not be shown; use --batch");
        return kExitUsage;
    }
    if (app.DialogResult() != 1) {
        PrintMessage(a.output, "export cancelled; nothing was written");
        return kExitCancelled;
    }
    if (!app.Refusal().empty()) {
        PrintMessage("", app.Refusal());
        return kExitUsage;
    }
    qsxhost::ReportExport(*scene, sceneName, chosen, plan.files);
    for (const auto& f : app.Failures()) PrintMessage(f.path, "not written: " + f.reason);
    if (app.AssertCount() > 0)
        PrintMessage("", std::to_string(app.AssertCount()) + " internal consistency report(s) during the export");
    if (a.verbose) {
        const qsxhost::SceneStats s = scene->Stats();
        std::fprintf(stderr,
                     "qsxexport: read %s in %.3f s: %lld nodes, %lld meshes, %lld vertices, %lld triangles, "
                     "%lld materials\n",
                     sceneName.c_str(), loadSeconds, static_cast<long long>(s.nodes), static_cast<long long>(s.meshes),
                     static_cast<long long>(s.vertices), static_cast<long long>(s.faces),
                     static_cast<long long>(s.materials));
        std::fprintf(stderr, "qsxexport: exported in %.3f s\n", exportSeconds);
        std::vector<std::string> files = plan.nodeFiles;
        files.insert(files.end(), plan.files.begin(), plan.files.end());
        for (const std::string& p : files) {
            bool failed = false;
            for (const auto& f : app.Failures()) failed = failed || f.path == p;
            if (!failed) PrintWritten(p);
        }
    }
    return (result == 1 && app.Failures().empty() && registry.LastError().empty()) ? kExitOk : kExitFailed;
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
