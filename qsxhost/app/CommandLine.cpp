#include "qsxhost/app/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <utility>

#include "qsxhost/app/DialogFlags.h"
#include "qsxhost/app/Messages.h"

namespace qsxhost {

namespace {

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

bool IsFileOption(const std::string& arg) {
    return arg == "--input-format" || arg == "--up-axis" || arg == "--fps" || arg == "--animation-index" ||
           arg == "--extract-textures";
}

bool TakesValue(const std::string& arg, const CommandFeatures& features) {
    return arg == "--plugin" || (IsFileOption(arg) && arg != "--extract-textures") ||
           (features.readBack && (arg == "--preview" || arg == "--preview-size"));
}

}  // namespace

std::string Usage(const UsageText& text) {
    std::string s = text.intro;
    s.append(
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
        "                           otherwise)\n");
    s.append(text.sceneOptions);
    s.append(
        "  -v, --verbose            say what was read, the settings used and whether\n"
        "                           they were saved, and each file written with its size\n"
        "  --list-formats           list what the loaded exporter writes\n");
    s.append(text.moreOptions);
    s.append(
        "  -h, --help, -V, --version\n"
        "  --                       the words after it are SCENE and OUTPUT, even if\n"
        "                           they begin with -\n"
        "\n");
    s.append(text.exitStatus);
    return s;
}

int ParseArgs(const std::vector<std::string>& argv, const CommandFeatures& features, Args* a) {
    std::vector<std::string> positional;
    bool outputOption = false;
    const size_t argc = argv.size();
    for (size_t i = 1; i < argc; ++i) {
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
        if (const FlagMatch m = TakeDialogFlag(arg, value, a->edits, &refusal); m != FlagMatch::NotOurs) {
            if (m == FlagMatch::Refused) {
                if (!refusal.empty()) PrintMessage("", refusal);
                return kExitUsage;
            }
            if (attached) {
                PrintMessage("", "option " + arg + " takes no value (see --help)");
                return kExitUsage;
            }
        } else if (features.noImporter && IsFileOption(arg)) {
            std::string message = "option ";
            message.append(arg).append(" is for 3D files; ").append(features.noImporter);
            PrintMessage("", message);
            return kExitUsage;
        } else if (attached && !TakesValue(arg, features)) {
            PrintMessage("", "option " + arg + " takes no value (see --help)");
            return kExitUsage;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage(features.usage).c_str(), stdout);
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
        } else if (features.readBack && arg == "--info") {
            a->info = true;
        } else if (features.readBack && arg == "--json") {
            a->infoJson = true;
        } else if (features.readBack && arg == "--check") {
            a->check = true;
        } else if (features.readBack && arg == "--preview") {
            if (!value(&a->preview)) return kExitUsage;
            if (a->preview.empty()) {
                PrintMessage("", "--preview takes the path of the PNG file to write, not ''");
                return kExitUsage;
            }
        } else if (features.readBack && arg == "--preview-size") {
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
            a->assimp.upAxis = n == 0 ? UpAxis::Y : n == 1 ? UpAxis::Z : UpAxis::Auto;
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

}  // namespace qsxhost
