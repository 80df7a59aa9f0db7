// The export step of the qsxexport command, shared by the Linux and the
// Windows command: each hands over its loaded scene, its settings store and
// what its platform does differently.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Registry.h"
#include "qsxhost/app/CommandLine.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/sources/SceneSource.h"

namespace qsxhost {

// --version's or --list-formats' answer from the loaded exporter.
int DescribeExporter(const Plugin& plugin, bool version);

// One line of -v for a file the run put in place; nothing when fileSize
// cannot tell its size (answers less than 0).
void PrintWritten(const std::string& path, long long (*fileSize)(const std::string& path));

struct ExportRun {
    SceneSource& scene;
    std::string sceneName;  // as messages name it
    std::string scenePath;  // as the collision checks find it; "" for none
    double loadSeconds = 0;
    bool interactive = false, progress = false;
};

// Where the platforms part ways during the export.
struct ExportPlatform {
    // The settings store: how its notes name it, and what its latest failed
    // write said ("" when none failed).
    std::string settingsName;
    std::function<std::string()> settingsError;
    std::function<void(const std::string& error)> sayNotSaved;
    // What the dialog ends with when it cannot run, and what is said then.
    intptr_t dialogFailed = 0;
    const char* dialogFailedMessage = "";
    std::function<void()> beforeExport;  // may be empty
    // The files the run put in place, where the platform keeps that record;
    // without it the planned files stand in, less those that failed.
    std::function<std::vector<std::string>()> filesWritten;
    // Whether a file that failed left the earlier one untouched; may be empty.
    std::function<bool(const std::string& path)> keptEarlier;
    long long (*fileSize)(const std::string& path) = nullptr;
};

// Runs the exporter on run.scene towards a.output, with the dialog or in
// batch, and says what came of it. Answers -1 when the export ran (*ok: every
// file and the settings were written), else the exit status.
int RunExport(const Args& a, const ExportRun& run, host::Registry& registry, const Plugin& plugin,
              const ExportPlatform& platform, bool* ok);

}  // namespace qsxhost
