// qsxexport.exe: the stand-alone host on Windows, for JSON scenes. The export
// options are the same flags as on Linux (DialogFlags); the dialog is the
// real Windows dialog from the plug-in's resources, the settings live in the
// registry, and names on the command line may use any characters (UTF-8
// inside, wide characters towards the system).
#include <clocale>
#include <string>
#include <vector>

#include "qsxhost/app/Command.h"
#include "qsxhost/app/Interruption.h"
#include "util/win32/Wide.h"

// Last: <windows.h> defines macros named like the host's constants.
#include <windows.h>
#include <shellapi.h>

// The host's custom controls, which the plug-in looks up in the program that
// loaded it: the common controls are all this host has.
extern "C" __declspec(dllexport) void InitCustomControls(void*) {}

int main() {
    std::setlocale(LC_ALL, "");
    qsxhost::StartSignalWatch();
    std::vector<std::string> args;
    int argc = 0;
    if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 0; i < argc; ++i) args.push_back(qsx::util::WideToUtf8(argv[i]));
        LocalFree(argv);
    }
    const int rc = qsxhost::RunCommand(args, qsxhost::ThisPlatform());
    qsxhost::CommandFinished();
    return rc;
}
