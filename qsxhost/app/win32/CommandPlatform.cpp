// The command's platform parts on Windows: JSON scenes only, the settings in
// the registry, the real dialog, qsexp.dle beside the program.
#include <memory>
#include <string>
#include <utility>

#include "QsxExp/Options.h"
#include "qsxhost/app/Command.h"
#include "qsxhost/settings/win32/Registry.h"
#include "qsxhost/app/HostApp.h"
#include "util/win32/Wide.h"

// Last: <windows.h> defines macros named like the host's constants.
#include <windows.h>

namespace qsxhost {

namespace {

const CommandFeatures kFeatures{
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
    kUnreadFormats, false};

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
    p.loadExporter = LoadExporter;
    p.dialogShown = true;
    p.openSettings = OpenSettings;
    p.exporting.dialogFailed = kDialogNotShown;
    p.exporting.dialogFailedMessage = "the options dialog could not be shown; use --batch";
    p.exporting.fileSize = FileSize;
    return p;
}

}  // namespace qsxhost
