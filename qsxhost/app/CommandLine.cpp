#include "qsxhost/app/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

#include "qsxhost/app/DialogFlags.h"
#include "qsxhost/app/Messages.h"
#include "util/Text.h"

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

constexpr int kGoOn = -1;

// The line as read so far.
struct Reading {
    const CommandFeatures& features;
    Args* a;
    std::vector<std::string> positional;
    bool outputOption = false;
    bool optionsEnded = false;
    std::optional<Outcome> refusal = std::nullopt;  // set once the line is refused

    int Refuse(std::string message) {
        refusal = Fail(kExitUsage, "", std::move(message));
        return kExitUsage;
    }
};

// What a run option needs of the build. Without an importer or the preview
// their options are refused, naming why, and not listed; a build that does
// not read scripts back does not know the options that do. A setting of the
// importer's is taken by every build: a JSON scene ignores it with a warning.
enum class Needs { Nothing, ReadBack, Importer, Preview };

struct RunOption {
    const char* name;
    const char* shortName;  // or nullptr
    const char* valueName;  // the value it takes, or nullptr when it takes none
    // Its --help description, lines split by '\n'; "" for the names alone,
    // nullptr when another option's entry tells of it.
    const char* help;
    // Takes the option (and its value): kGoOn, or the exit status (a refusal with r.refusal set).
    int (*take)(Reading& r, const std::string& value);
    Needs needs = Needs::Nothing;
    const char* label = nullptr;  // the entry's left column, when not the names and value
};

// A setting of the importer's, which a JSON scene does not use.
int FileOnly(Reading& r, const char* option) {
    r.a->fileOnlyOptions.push_back(option);
    return kGoOn;
}

int Set(bool& flag) {
    flag = true;
    return kGoOn;
}

// In --help order.
const RunOption kRunOptions[] = {
    {"-o", nullptr, "OUTPUT", "the script's path, in place of the second operand",
     [](Reading& r, const std::string& v) {
         r.a->output = v;
         if (r.outputOption) return r.Refuse("option -o given twice (see --help)");
         r.outputOption = true;
         return kGoOn;
     }},
    {"--batch", nullptr, nullptr, "no dialog: export with the stored options as changed",
     [](Reading& r, const std::string&) { return Set(r.a->batch); }},
    {"--save-defaults", nullptr, nullptr, "store the options used (batch runs store nothing\notherwise)",
     [](Reading& r, const std::string&) { return Set(r.a->saveDefaults); }},
    {"--plugin", nullptr, "PATH", "the exporter library to load",
     [](Reading& r, const std::string& v) {
         r.a->plugin = v;
         return kGoOn;
     }},
    {"--input-format", nullptr, "EXT",
     "the 3D file format of a SCENE read from standard\ninput or a pipe (obj, gltf, ...; see\n"
     "--list-input-formats); a JSON scene there is\nrecognised by its content",
     [](Reading& r, const std::string& v) {
         r.a->inputFormat = v;
         bool known = !v.empty();
         if (known && r.features.inputExtensions) {
             // Built by appending: GCC 12 warns falsely (-Wrestrict) on the same as one expression.
             std::string all = " ", word = " ";
             all += r.features.inputExtensions();
             all += ' ';
             word += qsx::util::ToAsciiLower(v);
             word += ' ';
             known = all.find(word) != std::string::npos;
         }
         return known ? kGoOn
                      : r.Refuse("--input-format takes a 3D file extension the importer reads (see "
                                 "--list-input-formats), not '" + v + "'");
     },
     Needs::Importer},
    {"--up-axis", nullptr, "y|z|auto", "up axis of a 3D file's world (default auto)",
     [](Reading& r, const std::string& v) {
         const int n = Index(v, {"y", "z", "auto"});
         if (n < 0) return r.Refuse("--up-axis takes y, z or auto, not '" + v + "'");
         r.a->assimp.upAxis = n == 0 ? UpAxis::Y : n == 1 ? UpAxis::Z : UpAxis::Auto;
         return FileOnly(r, "--up-axis");
     },
     Needs::Nothing},
    {"--fps", nullptr, "N", "frame rate for a 3D file's animation (default 30)",
     [](Reading& r, const std::string& v) {
         if (!ParseInt(v, 1, 4800, &r.a->assimp.fps))
             return r.Refuse("--fps takes a whole number from 1 to 4800, not '" + v + "'");
         return FileOnly(r, "--fps");
     },
     Needs::Nothing},
    {"--animation-index", nullptr, "N", "which animation of a 3D file to use (default 0)",
     [](Reading& r, const std::string& v) {
         if (!ParseInt(v, 0, 1 << 30, &r.a->assimp.animationIndex))
             return r.Refuse("--animation-index takes a whole number from 0, not '" + v + "'");
         return FileOnly(r, "--animation-index");
     },
     Needs::Nothing},
    {"--extract-textures", nullptr, nullptr, "write a 3D file's embedded textures beside OUTPUT",
     [](Reading& r, const std::string&) {
         r.a->extractTextures = true;
         return FileOnly(r, "--extract-textures");
     },
     Needs::Nothing},
    {"--info", nullptr, nullptr,
     "describe SCENE instead of exporting it (no OUTPUT):\nnodes, meshes, materials, textures, animations,\n"
     "up axis and unit; --json prints a JSON document",
     [](Reading& r, const std::string&) { return Set(r.a->info); }, Needs::ReadBack, "--info [--json]"},
    {"--json", nullptr, nullptr, nullptr, [](Reading& r, const std::string&) { return Set(r.a->infoJson); },
     Needs::ReadBack},
    {"--verbose", "-v", nullptr,
     "say what was read, the settings used and whether\nthey were saved, and each file written with its size",
     [](Reading& r, const std::string&) { return Set(r.a->verbose); }},
    {"--list-formats", nullptr, nullptr, "list what the loaded exporter writes",
     [](Reading& r, const std::string&) { return Set(r.a->listFormats); }},
    {"--list-input-formats", nullptr, nullptr, "list the 3D file extensions that can be read",
     [](Reading& r, const std::string&) { return Set(r.a->listInputFormats); }},
    {"--check", nullptr, nullptr,
     "check scripts (with the .qsh and .qsv beside them),\nheaders and animation files as the exporter writes\n"
     "them: one line per problem, a summary per file; exit\n0 clean, 1 problems, 2 a file not readable",
     [](Reading& r, const std::string&) { return Set(r.a->check); }, Needs::ReadBack, "--check FILE..."},
    {"--preview", nullptr, "PNG", "after the export, draw what was written into PNG;\nwith SCRIPT alone, draw that script",
     [](Reading& r, const std::string& v) {
         r.a->preview = v;
         return v.empty() ? r.Refuse("--preview takes the path of the PNG file to write, not ''") : kGoOn;
     },
     Needs::Preview},
    {"--preview-size", nullptr, "WxH", "the picture's size (default 800x600)",
     [](Reading& r, const std::string& v) {
         const size_t x = v.find('x');
         if (x == std::string::npos || !ParseInt(v.substr(0, x), 16, 8192, &r.a->previewWidth) ||
             !ParseInt(v.substr(x + 1), 16, 8192, &r.a->previewHeight))
             return r.Refuse("--preview-size takes WIDTHxHEIGHT, each from 16 to 8192 (800x600)");
         return kGoOn;
     },
     Needs::Preview},
    {"--help", "-h", nullptr, "",
     [](Reading& r, const std::string&) {
         std::fputs(Usage(r.features).c_str(), stdout);
         return static_cast<int>(kExitOk);
     },
     Needs::Nothing, "-h, --help, -V, --version"},
    {"--version", "-V", nullptr, nullptr,
     [](Reading& r, const std::string&) {
         return Set(r.a->version);  // the run says its version once the whole line is taken
     }},
    {"--", nullptr, nullptr, "the words after it are SCENE and OUTPUT, even if\nthey begin with -",
     [](Reading& r, const std::string&) { return Set(r.optionsEnded); }},
};

bool Present(const RunOption& o, const CommandFeatures& features) {
    return (o.needs != Needs::ReadBack && o.needs != Needs::Preview) || features.readBack;
}

// Why this build refuses the option, or nullptr when it takes it.
const char* Absent(const RunOption& o, const CommandFeatures& features) {
    if (o.needs == Needs::Importer) return features.noImporter;
    if (o.needs == Needs::Preview) return features.noPreview;
    return nullptr;
}

// The option named arg that this build has, or nullptr.
const RunOption* FindRunOption(const std::string& arg, const CommandFeatures& features) {
    for (const RunOption& o : kRunOptions)
        if ((arg == o.name || (o.shortName && arg == o.shortName)) && Present(o, features)) return &o;
    return nullptr;
}

// "  LABEL   description" with the description's further lines under its first.
void AppendEntry(std::string& s, const std::string& label, std::string_view help) {
    constexpr size_t kColumn = 27;
    s.append("  ").append(label);
    if (!help.empty()) s.append(label.size() + 3 <= kColumn ? kColumn - 2 - label.size() : 1, ' ');
    for (size_t from = 0, nl; from < help.size(); from = nl + 1) {
        nl = help.find('\n', from);
        if (nl == std::string_view::npos) nl = help.size();
        if (from > 0) s.append("\n").append(kColumn, ' ');
        s.append(help.substr(from, nl - from));
    }
    s.append("\n");
}

std::string Label(const RunOption& o) {
    if (o.label) return o.label;
    std::string label = o.shortName ? std::string(o.shortName) + ", " : std::string();
    label.append(o.name);
    if (o.valueName) label.append(" ").append(o.valueName);
    return label;
}

}  // namespace

std::string Usage(const CommandFeatures& features) {
    const UsageText& text = features.usage;
    std::string s = text.intro;
    s.append(
        "An option's value may follow it as the next word or after '=' (--hints=none).\n"
        "Numbers are plain decimal (1.5, 2e3), read the same in every locale.\n"
        "\n"
        "Export options (each changes one stored option for this run):\n"
        "  --scale-to SIZE          scale the scene's largest extent to SIZE (1e-45 to\n"
        "                           3e+38, needing a factor this scene can take)\n"
        "  --scale-by FACTOR        scale every position by FACTOR (3e-39 to 3e+38 at\n"
        "                           most; a scene takes only the factors that keep its\n"
        "                           numbers finite, and a refusal says which)\n"
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
        "Run options:\n");
    for (const RunOption& o : kRunOptions) {
        const OptionHelp* own = nullptr;
        for (const OptionHelp& h : text.options)
            if (std::string_view(h.option) == o.name) own = &h;
        if (own) {
            if (own->text) AppendEntry(s, own->label ? own->label : Label(o), own->text);
        } else if (o.help && Present(o, features) && !Absent(o, features)) {
            AppendEntry(s, Label(o), o.help);
        }
    }
    s.append("\n");
    s.append(text.exitStatus);
    return s;
}

std::optional<Outcome> ReadArgs(const std::vector<std::string>& argv, const CommandFeatures& features, Args* a) {
    Reading r{features, a, {}};
    auto refused = [](std::string message) { return Fail(kExitUsage, "", std::move(message)); };
    const size_t argc = argv.size();
    for (size_t i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (r.optionsEnded) {
            r.positional.push_back(arg);
            continue;
        }
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
                r.Refuse("option " + arg + " needs a value (see --help)");
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string refusal;
        if (const FlagMatch m = TakeDialogFlag(arg, value, a->edits, &refusal); m != FlagMatch::NotOurs) {
            if (m == FlagMatch::Refused) {
                if (!refusal.empty()) return refused(refusal);
                // A flag without its value has been refused by value().
                return r.refusal ? *r.refusal : Silent(kExitUsage);
            }
            if (attached) return refused("option " + arg + " takes no value (see --help)");
            continue;
        }
        const RunOption* option = FindRunOption(arg, features);
        if (const char* why = option ? Absent(*option, features) : nullptr) {
            std::string message = "option ";
            message.append(arg).append(option->needs == Needs::Importer ? " is for 3D files; " : " is not in this build: ")
                .append(why);
            return refused(message);
        }
        if (attached && !(option && option->valueName)) return refused("option " + arg + " takes no value (see --help)");
        if (option) {
            std::string v;
            if (option->valueName && !value(&v)) return *r.refusal;
            if (const int status = option->take(r, v); status != kGoOn) return r.refusal ? *r.refusal : Silent(status);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return refused("unknown option " + arg + " (see --help)");
        } else {
            r.positional.push_back(arg);
        }
    }
    const std::vector<std::string>& positional = r.positional;
    const bool outputOption = r.outputOption;
    if (a->version || a->listFormats || a->listInputFormats) {
        if (!positional.empty() || outputOption)
            return refused(std::string(a->version ? "--version" : a->listFormats ? "--list-formats" : "--list-input-formats") +
                           " takes no operand (see --help)");
        return std::nullopt;
    }
    if (a->infoJson && !a->info) return refused("--json goes with --info (see --help)");
    if (a->info) {
        if (positional.size() != 1 || outputOption) return refused("--info takes one SCENE and no OUTPUT (see --help)");
        a->scene = positional[0];
        return std::nullopt;
    }
    if (a->check) {
        if (positional.empty()) return refused("--check needs at least one FILE to check (see --help)");
        if (outputOption || !a->preview.empty())
            return refused("--check takes the files to check and no other operand (see --help)");
        a->files = positional;
        return std::nullopt;
    }
    if (!a->preview.empty() && !outputOption && positional.size() == 1) {
        a->files = positional;
        return std::nullopt;
    }
    if (positional.size() != (outputOption ? 1u : 2u))
        return refused(outputOption ? "expected SCENE and -o OUTPUT, no second operand (see --help)"
                                    : "expected SCENE and OUTPUT (see --help)");
    a->scene = positional[0];
    if (!outputOption) a->output = positional[1];
    if (a->scene.empty() || a->output.empty())
        return refused(std::string(a->scene.empty() ? "SCENE" : "OUTPUT") + " is an empty path (see --help)");
    return std::nullopt;
}

int ParseArgs(const std::vector<std::string>& argv, const CommandFeatures& features, Args* a) {
    const std::optional<Outcome> end = ReadArgs(argv, features, a);
    return end ? Conclude(*end) : -1;
}

}  // namespace qsxhost
