// qsxexport: the stand-alone host. Loads a scene, loads the exporter plug-in,
// shows its options dialog (or runs in batch) and exports.
#include <pthread.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qsxhost/app/CheckCommand.h"
#include "qsxhost/app/DialogFlags.h"
#include "qsxhost/app/HostApp.h"
#include "qsxhost/app/ImportGuard.h"
#include "qsxhost/app/Interruption.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/OutputPlan.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/app/SceneReport.h"
#include "qsxhost/settings/FileRegistry.h"
#include "qsxhost/sources/assimp/AssimpScene.h"
#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#ifdef QSX_HAVE_PREVIEW
#include "qsxhost/preview/Preview.h"
#endif
#include "qsxhost/ui/TerminalDialog.h"
#include "util/Files.h"
#include "util/Paths.h"
#include "util/Text.h"

using qsxhost::ControlEdit;
using qsxhost::FlagMatch;
using qsx::util::DirName;
using qsx::util::EndsWithNoCase;
using qsx::util::ErrnoText;
using qsx::util::SideFileName;
using qsxhost::PrintMessage;

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

const char kUsage[] =
    "usage: qsxexport [OPTIONS] SCENE OUTPUT\n"
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
    "  --plugin PATH            the exporter library to load\n"
    "  --input-format EXT       the 3D file format of a SCENE read from standard\n"
    "                           input or a pipe (obj, gltf, ...; see\n"
    "                           --list-input-formats); a JSON scene there is\n"
    "                           recognised by its content\n"
    "  --up-axis y|z|auto       up axis of a 3D file's world (default auto)\n"
    "  --fps N                  frame rate for a 3D file's animation (default 30)\n"
    "  --animation-index N      which animation of a 3D file to use (default 0)\n"
    "  --extract-textures       write a 3D file's embedded textures beside OUTPUT\n"
    "  --info [--json]          describe SCENE instead of exporting it (no OUTPUT):\n"
    "                           nodes, meshes, materials, textures, animations,\n"
    "                           up axis and unit; --json prints a JSON document\n"
    "  -v, --verbose            say what was read, and each file written with its\n"
    "                           size\n"
    "  --list-formats           list what the loaded exporter writes\n"
    "  --list-input-formats     list the 3D file extensions that can be read\n"
    "  --check FILE...          check scripts (with the .qsh and .qsv beside them),\n"
    "                           headers and animation files as the exporter writes\n"
    "                           them: one line per problem, a summary per file; exit\n"
    "                           0 clean, 1 problems, 2 a file not readable\n"
#ifdef QSX_HAVE_PREVIEW
    "  --preview PNG            after the export, draw what was written into PNG;\n"
    "                           with SCRIPT alone, draw that script\n"
    "  --preview-size WxH       the picture's size (default 800x600)\n"
#else
    "  --preview PNG            not in this build: the preview is drawn on Linux only\n"
#endif
    "  -h, --help, -V, --version\n"
    "  --                       the words after it are SCENE and OUTPUT, even if\n"
    "                           they begin with -\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 usage error or\n"
    "refused input, 3 cancelled in the dialog, 128 + the signal when interrupted\n"
    "(130 by Ctrl-C). A file is put in place only once it is complete: until then\n"
    "it is written beside its destination as NAME.partial-PID.\n";

struct Args {
    std::string scene, output, plugin, inputFormat;
    std::vector<ControlEdit> edits;
    bool batch = false, saveDefaults = false, verbose = false;
    bool version = false, listFormats = false, listInputFormats = false, extractTextures = false;
    bool check = false;
    std::vector<std::string> files;  // --check's files, or the script --preview draws alone
    std::string preview;
    int previewWidth = 800, previewHeight = 600;
    bool info = false, infoJson = false;
    std::vector<std::string> fileOnlyOptions;  // given, and meaningful for 3D files only
    qsxhost::AssimpOptions assimp;
};

bool ParseInt(const std::string& s, int lo, int hi, int* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

int Index(const std::string& value, std::initializer_list<const char*> names) {
    int i = 0;
    for (const char* n : names) {
        if (value == n) return i;
        ++i;
    }
    return -1;
}

// Answers -1 to go on, else the exit status.
int ParseArgs(int argc, char** argv, Args* a) {
    std::vector<std::string> positional;
    bool outputOption = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // --name=value gives an option its value in the same word.
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
        std::string v, refusal;
        int n = 0;
        if (const FlagMatch m = qsxhost::TakeDialogFlag(arg, value, a->edits, &refusal); m != FlagMatch::NotOurs) {
            if (m == FlagMatch::Refused) {
                if (!refusal.empty()) PrintMessage("", refusal);
                return kExitUsage;
            }
            if (attached) {
                PrintMessage("", "option " + arg + " takes no value (see --help)");
                return kExitUsage;
            }
        } else if (attached && arg != "--plugin" && arg != "--input-format" && arg != "--up-axis" && arg != "--fps" &&
                   arg != "--animation-index" && arg != "--preview" && arg != "--preview-size") {
            PrintMessage("", "option " + arg + " takes no value (see --help)");
            return kExitUsage;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--version" || arg == "-V") {
            std::printf("qsxexport %s\n", QSX_VERSION);
            a->version = true;  // also names the exporter library and its version record
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
        } else if (arg == "--extract-textures") {
            a->extractTextures = true;
            a->fileOnlyOptions.push_back(arg);
        } else if (arg == "--info") {
            a->info = true;
        } else if (arg == "--json") {
            a->infoJson = true;
        } else if (arg == "--check") {
            a->check = true;
        } else if (arg == "--preview") {
            if (!value(&a->preview)) return kExitUsage;
            if (a->preview.empty()) {
                PrintMessage("", "--preview takes the path of the PNG file to write, not ''");
                return kExitUsage;
            }
        } else if (arg == "--preview-size") {
            const size_t x = value(&v) ? v.find('x') : std::string::npos;
            if (x == std::string::npos || !ParseInt(v.substr(0, x), 16, 8192, &a->previewWidth) ||
                !ParseInt(v.substr(x + 1), 16, 8192, &a->previewHeight)) {
                PrintMessage("", "--preview-size takes WIDTHxHEIGHT, each from 16 to 8192 (800x600)");
                return kExitUsage;
            }
        } else if (arg == "-o") {
            if (!value(&a->output)) return kExitUsage;
            if (outputOption) {
                PrintMessage("", "option -o given twice (see --help)");
                return kExitUsage;
            }
            outputOption = true;
        } else if (arg == "--plugin") {
            if (!value(&a->plugin)) return kExitUsage;
        } else if (arg == "--input-format") {
            if (!value(&a->inputFormat)) return kExitUsage;
            if (a->inputFormat.empty()) {
                PrintMessage("", "--input-format takes a 3D file extension (see --list-input-formats), not ''");
                return kExitUsage;
            }
        } else if (arg == "--up-axis") {
            if (!value(&v)) return kExitUsage;
            if ((n = Index(v, {"y", "z", "auto"})) < 0) {
                PrintMessage("", "--up-axis takes y, z or auto, not '" + v + "'");
                return kExitUsage;
            }
            a->assimp.upAxis = n == 0 ? qsxhost::UpAxis::Y : n == 1 ? qsxhost::UpAxis::Z : qsxhost::UpAxis::Auto;
            a->fileOnlyOptions.push_back(arg);
        } else if (arg == "--fps") {
            if (!value(&v) || !ParseInt(v, 1, 4800, &a->assimp.fps)) {
                PrintMessage("", "--fps takes a whole number from 1 to 4800");
                return kExitUsage;
            }
            a->fileOnlyOptions.push_back(arg);
        } else if (arg == "--animation-index") {
            if (!value(&v) || !ParseInt(v, 0, 1 << 30, &a->assimp.animationIndex)) {
                PrintMessage("", "--animation-index takes a whole number from 0");
                return kExitUsage;
            }
            a->fileOnlyOptions.push_back(arg);
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
    if (a->infoJson && !a->info) {
        PrintMessage("", "--json goes with --info (see --help)");
        return kExitUsage;
    }
    if (a->info) {
        if (positional.size() != 1 || outputOption) {
            PrintMessage("", "--info takes one SCENE and no OUTPUT (see --help)");
            return kExitUsage;
        }
        a->scene = positional[0];
        return -1;
    }
    if (a->check) {
        if (positional.empty() || outputOption || !a->preview.empty()) {
            PrintMessage("", "--check takes the files to check and no other operand (see --help)");
            return kExitUsage;
        }
        a->files = positional;
        return -1;
    }
    if (!a->preview.empty() && !outputOption && positional.size() == 1) {
        a->files = positional;
        return -1;
    }
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

// A JSON scene's text: it opens like one and names the format near the start.
bool IsJsonText(std::string_view text) {
    const std::string_view head = text.substr(0, 4096);
    return qsxhost::LooksLikeJsonScene(head) && head.find("\"qsxScene\"") != std::string_view::npos;
}

// A JSON scene when so named, or when the file opens like one.
bool IsJsonScene(const std::string& path) {
    if (EndsWithNoCase(path, ".json")) return true;
    if (EndsWithNoCase(path, ".gltf")) return false;
    std::ifstream in(path, std::ios::binary);
    char buf[4096];
    in.read(buf, sizeof buf);
    return IsJsonText(std::string_view(buf, static_cast<size_t>(in.gcount())));
}

// One line of -v for a file the run put in place.
void PrintWritten(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    std::fprintf(stderr, "qsxexport: wrote %s (%lld bytes)\n", path.c_str(), static_cast<long long>(st.st_size));
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
int Preview(const Args& a, const std::vector<std::string>& scripts) {
#ifdef QSX_HAVE_PREVIEW
    std::string error;
    bool scriptRefused = false;
    if (qsxhost::WritePreview(scripts, a.preview, a.previewWidth, a.previewHeight, &error, &scriptRefused))
        return kExitOk;
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
    Args a;
    if (int rc = ParseArgs(argc, argv, &a); rc >= 0) return rc;
    if (a.check) return qsxhost::RunCheck(a.files);
    if (!a.files.empty()) return Preview(a, a.files);

    if (a.listInputFormats) {
        std::printf("%s\n", qsxhost::AssimpInputExtensions().c_str());
        if (!a.listFormats) return kExitOk;
    }
    std::unique_ptr<qsxhost::Plugin> plugin;
    if (!a.info || a.version || a.listFormats) {
        plugin = LoadExporter(a.plugin);
        if (!plugin) return kExitUsage;
    }
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

    const bool interactive = !a.batch && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    const bool progress = isatty(STDERR_FILENO) && !interactive;

    // Load the scene.
    const auto loadStart = std::chrono::steady_clock::now();
    std::unique_ptr<qsxhost::SceneSource> scene;
    std::string error;
    // The scene as messages name it, and as the collision checks find it.
    const bool fromStdin = a.scene == "-";
    const std::string sceneName = fromStdin ? "standard input" : a.scene;
    const std::string scenePath = fromStdin ? "/dev/stdin" : a.scene;
    struct stat st {};
    if (fromStdin ? fstat(STDIN_FILENO, &st) != 0 : stat(a.scene.c_str(), &st) != 0) {
        PrintMessage(sceneName, ErrnoText(errno));
        return kExitUsage;
    }
    if (S_ISDIR(st.st_mode)) {
        PrintMessage(sceneName, "is a directory, not a scene file");
        return kExitUsage;
    }
    if (!a.inputFormat.empty() && S_ISREG(st.st_mode) && !fromStdin) {
        PrintMessage("", "--input-format is for a scene read from a pipe or standard input, not the file " + a.scene);
        return kExitUsage;
    }
    if (const std::string m = a.info ? "" : qsxhost::OutputIsScene(a.output, scenePath); !m.empty()) {
        PrintMessage(a.output, m);
        return kExitUsage;
    }
    // A pipe, FIFO or device gives its bytes once: they are read whole here,
    // then looked at and parsed from memory.
    std::string streamed;
    const bool fromMemory = fromStdin || !S_ISREG(st.st_mode);
    if (fromMemory) {
        const int fd = fromStdin ? STDIN_FILENO : open(a.scene.c_str(), O_RDONLY | O_CLOEXEC);
        const bool whole = fd >= 0 && qsx::util::ReadAll(fd, streamed, SIZE_MAX, &error);
        if (fd < 0) error = ErrnoText(errno);
        if (fd >= 0 && !fromStdin) close(fd);
        if (!whole) {
            PrintMessage(sceneName, error);
            return kExitUsage;
        }
        if (streamed.empty()) {
            PrintMessage(sceneName, "is empty");
            return kExitUsage;
        }
    }
    const bool json = fromMemory ? IsJsonText(streamed) : IsJsonScene(a.scene);
    const bool qsxScript = !json && !fromMemory && qsxhost::IsQsxScriptName(a.scene);
    std::string inputFormat = a.inputFormat;
    if (fromMemory && !json && inputFormat.empty()) {
        const size_t dot = qsx::util::ExtensionDot(a.scene);
        const std::string ext = dot == std::string::npos ? std::string() : a.scene.substr(dot + 1);
        if (fromStdin || ext.empty()) {
            PrintMessage(sceneName, "not a JSON scene; give --input-format EXT (obj, gltf, ...) for a 3D file");
            return kExitUsage;
        }
        inputFormat = ext;
    }
    if (json) {
        std::vector<std::string> warnings;
        scene = fromMemory ? qsxhost::ParseJsonScene(streamed, &error, &warnings)
                           : qsxhost::LoadJsonScene(a.scene, &error, &warnings);
        for (const std::string& w : warnings) PrintMessage(sceneName, w);
    } else if (qsxScript) {
        scene = qsxhost::LoadQsxScene(a.scene, &error);
    } else {
        if (progress) {
            a.assimp.progress = [](float f) {
                dprintf(qsxhost::ImportGuard::UserStderr(), "\rqsxexport: importing %3d%%\033[K", static_cast<int>(f * 100));
            };
        }
        // The importer's parsers are not all free of the user's number format.
        const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
        std::setlocale(LC_NUMERIC, "C");
        {
            qsxhost::ImportGuard guard(sceneName);
            scene = fromMemory ? qsxhost::LoadAssimpSceneFromMemory(streamed, inputFormat, a.assimp, &error)
                               : qsxhost::LoadAssimpScene(a.scene, a.assimp, &error);
        }
        std::setlocale(LC_NUMERIC, numeric.c_str());
        if (progress) std::fputs("\r\033[K", stderr);  // standard error is back
    }
    if (!scene) {
        if (error == qsxhost::kOutOfMemory) {
            PrintMessage("", error);
            return kExitFailed;
        }
        PrintMessage(qsxScript ? "" : sceneName, error);  // a script's own message names file and line
        return kExitUsage;
    }
    streamed = std::string();  // the scene holds what it needs
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

    // A stored value the dialog would refuse would fail every batch run; the
    // run goes on with its default (the dialog in the terminal shows it as stored).
    if (!interactive)
        for (const std::string& note : qsxhost::ReplaceRefusedStoredValues(registry, a.edits))
            PrintMessage(registry.Path(), note);

    qsxhost::HostApp app(*scene, registry);
    app.SetDialog(interactive ? qsxhost::DialogMode::Terminal : qsxhost::DialogMode::Batch, a.edits);
    app.SetProgressShown(progress);
    qsxhost::DialogChoices chosen;
    app.SetOkCheck([&](const host::DialogWindow& dialog) {
        chosen = qsxhost::ReadDialogChoices(dialog);
        const auto plan = qsxhost::PlanOutputs(a.output, chosen, scene->GetRootNode());
        return qsxhost::FindCollision(plan, scenePath);
    });

    auto exporter = plugin->CreateExporter();
    if (!exporter) {
        PrintMessage(plugin->Path(), "the exporter could not be created (out of memory)");
        return kExitFailed;
    }
    qsxhost::PrepareForInterruption(a.output, registry.Path());
    const auto exportStart = std::chrono::steady_clock::now();
    const int result = exporter->DoExport(a.output.c_str(), nullptr, &app, 0);
    const double exportSeconds = Seconds(exportStart);
    exporter.reset();

    if (!registry.LastError().empty()) PrintMessage(registry.Path(), "settings not saved: " + registry.LastError());
    if (app.DialogResult() == -1) {
        PrintMessage(a.output, app.DialogMessage());
        return kExitUsage;
    }
    if (app.DialogResult() == qsxhost::kTerminalTooSmall) {
        PrintMessage("", "the options dialog needs an 80\u00d720 terminal; enlarge it or use --batch");
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
    qsxhost::ReportExport(*scene, sceneName, chosen, qsxhost::FilesWrittenSinceExportBegan());
    for (const auto& f : app.Failures()) {
        // A failed file never replaces the one that was there.
        const bool kept = qsxhost::UnchangedSinceExportBegan(f.path);
        PrintMessage(f.path, "not written: " + f.reason + (kept ? "; the earlier file is unchanged" : ""));
    }
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
        for (const std::string& p : qsxhost::FilesWrittenSinceExportBegan()) PrintWritten(p);
    }
    if (a.extractTextures && !json && !qsxScript) {
        const std::string dir = DirName(a.output);
        std::vector<std::string> written;
        std::string terr;
        if (!qsxhost::ExtractEmbeddedTextures(*scene, dir, &written, &terr)) {
            PrintMessage(dir, "textures not extracted: " + terr);
            return kExitFailed;
        }
        if (a.verbose)
            for (const auto& w : written) PrintWritten(w);
    }
    // Settings that were to be stored and were not make the run fail as well.
    const bool ok = result == 1 && app.Failures().empty() && registry.LastError().empty();
    if (ok && !a.preview.empty()) {
        std::vector<std::string> scripts;
        for (const std::string& p : qsxhost::FilesWrittenSinceExportBegan())
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
