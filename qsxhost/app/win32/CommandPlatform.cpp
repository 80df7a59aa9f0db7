// The command's platform parts on Windows: JSON scenes and QSX scripts, the
// settings in the registry, the real dialog, qsexp.dle beside the program,
// Ctrl-C's clean-up.
#include <memory>
#include <string>
#include <utility>

#include "QsxExp/Options.h"
#include "qsxhost/app/CheckCommand.h"
#include "qsxhost/app/Command.h"
#include "qsxhost/app/Interruption.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "qsxhost/settings/win32/Registry.h"
#include "qsxhost/app/HostApp.h"
#include "util/win32/Wide.h"

// Last: <windows.h> defines macros named like the host's constants.
#include <windows.h>

namespace qsxhost {

namespace {

const char* const kNoPreview = "the preview is drawn on Linux only";

const CommandFeatures kFeatures{
    {"usage: qsxexport [OPTIONS] SCENE OUTPUT\n"
     "       qsxexport [OPTIONS] -o OUTPUT SCENE\n"
     "       qsxexport --check FILE...\n"
     "       qsxexport --info [--json] SCENE\n"
     "\n"
     "Exports SCENE (a JSON scene file or a QSX script; - reads standard input) as a\n"
     "QSX script at OUTPUT, with the header and animation files beside it when asked:\n"
     "OUTPUT's name with .qsh and .qsv in place of its extension. This Windows build\n"
     "reads no other 3D files: the Assimp importer is not built for it.\n"
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
         {"--preview", "--preview PNG", "not in this build: the preview is drawn on Linux only"},
         {"--preview-size"},
     },
     "Exit status: 0 written, 1 a file could not be written, 2 usage error or\n"
     "refused input, 3 cancelled in the dialog, 130 interrupted (Ctrl-C). A file is\n"
     "put in place only once it is complete: until then it is written beside its\n"
     "destination as NAME.partial-PID.\n"},
    kUnreadFormats, true, nullptr, kNoPreview};

long long FileSize(const std::string& path) {
    std::wstring wide;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!qsx::util::Utf8ToWide(path, &wide) || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::string InputFormats() {
    return std::string("(none: ") + kUnreadFormats + ")";
}

std::unique_ptr<Plugin> LoadExporter(const std::string& explicitPath, Outcome* why) {
    const std::string path = PluginSearchPath(explicitPath).front();
    std::string error;
    if (auto p = Plugin::Load(path, &error)) return p;
    *why = Fail(kExitUsage, path, error + (explicitPath.empty() ? " (use --plugin PATH)" : ""));
    return nullptr;
}

SettingsStore OpenSettings(bool readOnly, ExportPlatform* exporting) {
    auto registry = std::make_unique<Registry>();
    registry->SetReadOnly(readOnly);
    const Registry* r = registry.get();
    // The registry key, as a registry editor shows it: where the user finds the value.
    exporting->settingsName = std::string(Registry::Name()) + "\\" + qsx::kOptionsKey;
    exporting->settingsError = [r] { return r->LastError(); };
    exporting->sayNotSaved = [](const std::string& e) { PrintMessage(e, "settings not saved"); };
    return {std::move(registry), ""};
}

}  // namespace

CommandPlatform ThisPlatform() {
    CommandPlatform p;
    p.features = kFeatures;
    p.readers.inputFormats = InputFormats;
    p.readers.isScript = IsQsxScriptName;
    p.readers.check = RunCheck;
    p.loadExporter = LoadExporter;
    p.dialogShown = true;
    p.openSettings = OpenSettings;
    p.exporting.dialogFailed = kDialogNotShown;
    p.exporting.dialogFailedMessage = "the options dialog could not be shown; use --batch";
    p.exporting.fileSize = FileSize;
    p.interruptible = PrepareForInterruption;
    return p;
}

}  // namespace qsxhost
