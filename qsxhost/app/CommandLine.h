// The qsxexport command line, read the same way by the Linux and the Windows
// command; each build says which of the options beyond the export it has.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "qsxhost/app/Messages.h"
#include "qsxhost/sources/assimp/AssimpScene.h"
#include "qsxhost/ui/MemoryDialog.h"

namespace qsxhost {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

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
    AssimpOptions assimp;
};

// A build's own words in --help for one run option, in place of the option's
// usual entry: for an option it describes differently, or for one it lacks.
struct OptionHelp {
    const char* option;           // the option's long name, or its only one
    const char* label = nullptr;  // the entry's left column, when not the option's names and value
    const char* text = nullptr;   // the description, lines split by '\n'; nullptr leaves the entry out
};

// The --help text in the build's own words around the entries both builds share.
struct UsageText {
    const char* intro;                // the synopsis and what the command does, up to the value syntax
    std::vector<OptionHelp> options;  // the run options this build describes in its own words
    const char* exitStatus;           // from "Exit status:" to the end
};

struct CommandFeatures {
    UsageText usage;
    // Why 3D files other than JSON scenes are not read, or nullptr when they
    // are; their options are then refused with this reason, and not listed.
    const char* noImporter = nullptr;
    // --info, --check and --preview; a build without them does not know them.
    bool readBack = true;
    // The 3D file extensions the importer reads, space-separated, lower case
    // (what --input-format may name); null where there is no importer.
    std::string (*inputExtensions)() = nullptr;
    // Why --preview is not in this build, or nullptr when it is; it is then
    // refused with this reason.
    const char* noPreview = nullptr;
};

std::string Usage(const CommandFeatures& features);

// argv[0] is the program. Answers nothing to go on, else how the command
// ends: after --help, or refused with the reason.
std::optional<Outcome> ReadArgs(const std::vector<std::string>& argv, const CommandFeatures& features, Args* a);
// ReadArgs for a caller that ends at once: says the refusal, answers -1 to go
// on or else the exit status.
int ParseArgs(const std::vector<std::string>& argv, const CommandFeatures& features, Args* a);

}  // namespace qsxhost
