// The qsxexport command, one run for every build: the line read, the
// exporter loaded, SCENE opened and described or exported (with the dialog or
// in batch), textures extracted, the preview drawn. What a platform does its
// own way comes in a CommandPlatform, filled in posix/ or win32/.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Registry.h"
#include "qsxhost/app/CommandLine.h"
#include "qsxhost/app/ExportCommand.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/OutputGate.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/sources/OpenScene.h"
#include "qsxhost/sources/assimp/AssimpScene.h"

namespace qsxhost {

// The settings store, opened for one run.
struct SettingsStore {
    std::unique_ptr<host::Registry> registry;
    std::string file;  // the file it keeps the settings in, an input of the run; "" for none
};

// What the build reads beyond JSON scenes. Those a build without the
// features that lead to them never calls may be null.
struct CommandReaders {
    // --list-input-formats' line.
    std::string (*inputFormats)() = nullptr;
    // Shapes the import of a 3D file: its progress (when shown) and what
    // runs around it. May be null.
    void (*prepareImport)(SceneRequest& request, bool progress) = nullptr;
    // --extract-textures: the embedded textures planned, then written.
    bool (*planTextures)(SceneSource& scene, const std::string& outputDir, std::vector<TextureFile>* files,
                         std::string* error) = nullptr;
    bool (*writeTextures)(const std::vector<TextureFile>& files, const std::function<void(const std::string&)>& written,
                          std::string* error) = nullptr;
    // Scripts read back: which written file is one, --check, --preview.
    bool (*isScript)(const std::string& path) = nullptr;
    int (*check)(const std::vector<std::string>& files) = nullptr;
    Outcome (*preview)(const Args& a, const std::vector<std::string>& scripts) = nullptr;
};

struct CommandPlatform {
    CommandFeatures features;
    CommandReaders readers;
    // The exporter library as --plugin names it or as found; null with *why
    // saying why not.
    std::unique_ptr<Plugin> (*loadExporter)(const std::string& explicitPath, Outcome* why) = nullptr;
    // Whether the options dialog can be shown (without --batch), and whether
    // progress can be shown on standard error while there is no dialog.
    bool dialogShown = false, progressShown = false;
    // Opens the store, read-only or not, and names it and its errors in *exporting.
    SettingsStore (*openSettings)(bool readOnly, ExportPlatform* exporting) = nullptr;
    // The rest of the export's platform parts.
    ExportPlatform exporting;
    // Told the run's destinations once they are approved, for an
    // interruption to clean up after; may be null.
    void (*interruptible)(const OutputGate& gate, const std::vector<std::string>& destinations,
                          const std::string& settingsFile) = nullptr;
};

// This build's platform parts.
CommandPlatform ThisPlatform();

// The whole command on argv (argv[0] the program): says how it ended, once,
// and answers the exit status.
int RunCommand(const std::vector<std::string>& argv, const CommandPlatform& platform);

}  // namespace qsxhost
