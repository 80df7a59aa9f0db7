// The export step of the qsxexport command, shared by the Linux and the
// Windows command: each hands over its loaded scene, its settings store and
// what its platform does differently.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/Registry.h"
#include "qsxhost/app/CommandLine.h"
#include "qsxhost/app/Messages.h"
#include "qsxhost/app/OutputGate.h"
#include "qsxhost/app/PluginLoader.h"
#include "qsxhost/sources/SceneSource.h"

namespace qsxhost {

// --version's or --list-formats' answer from the loaded exporter.
Outcome DescribeExporter(const Plugin& plugin, bool version);

// One line of -v for a file the run put in place; nothing when fileSize
// cannot tell its size (answers less than 0).
void PrintWritten(const std::string& path, long long (*fileSize)(const std::string& path));

struct ExportRun {
    SceneSource& scene;
    std::string sceneName;  // as messages name it
    std::string scenePath;  // as the collision checks find it; "" for none
    double loadSeconds = 0;
    bool interactive = false, progress = false;
    bool terminal = false;  // standard error is one
};

// Where the platforms part ways during the export.
struct ExportPlatform {
    // The settings store: how its notes name it, and what its latest failed
    // write said ("" when none failed).
    std::string settingsName;
    std::function<std::string()> settingsError;
    // Why the stored options could not be read ("" when they were); may be empty.
    std::function<std::string()> settingsReadError;
    std::function<void(const std::string& error)> sayNotSaved;
    // What the dialog ends with when it cannot run, and what is said then.
    intptr_t dialogFailed = 0;
    const char* dialogFailedMessage = "";
    // Told the run's destinations once they are approved; may be empty.
    std::function<void(const std::vector<std::string>& destinations)> approved;
    // The path that writes to standard output, for OUTPUT "-"; "" where the
    // platform has none.
    std::string standardOutput;
    long long (*fileSize)(const std::string& path) = nullptr;
};

// Runs the exporter on run.scene towards a.output, with the dialog or in
// batch, and reports what came of it. Answers nothing when the export ran
// (*ok: every file and the settings were written), else how the command
// ends. The gate holds the run's inputs and the host's own files; the
// exporter's files pass it too, and it keeps which were written.
std::optional<Outcome> RunExport(const Args& a, const ExportRun& run, host::Registry& registry, const Plugin& plugin,
                                 const ExportPlatform& platform, OutputGate& gate, bool* ok);

// Whether OUTPUT is standard output, a device or a pipe: written in place,
// with no side files unless a flag asks for them.
bool IsStreamOutput(const std::string& output);

}  // namespace qsxhost
