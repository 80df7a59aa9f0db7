// Ctrl-C, Ctrl-Break and a closed console end a run cleanly on Windows as
// the signals do on Linux: the system calls a console control handler on a
// thread of its own, which stops the command's thread where it stands (so
// that it makes no new temporary and moves nothing more into place), removes
// this process's temporaries from every folder the run may write to, says
// which files were already in place, and ends the process with 130.
// The console shows the program's UTF-8 text while the command runs, and
// gets its own code page back however the run ends.
#include "qsxhost/app/Interruption.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "qsxhost/app/Messages.h"
#include "qsxhost/app/win32/Console.h"
#include "util/win32/AtomicFile.h"

#include <windows.h>
#undef FormatMessage  // the command's own, not the macro for FormatMessageA/W

namespace qsxhost {
namespace {

struct Interruption {
    HANDLE worker = nullptr;  // the command's thread
    std::mutex lock;          // held while an interruption is handled
    bool finished = false;    // the command has ended: Ctrl-C ends the process as it always did
    std::atomic<bool> prepared{false};
    const OutputGate* gate = nullptr;
    std::vector<std::string> folders;
    UINT consoleCodePage = 0;  // the console's own, while it shows UTF-8
};
// Never destroyed: the handler may still look at it while the process exits.
Interruption& gInterruption = *new Interruption;

DWORD WINAPI CleanUp(void*) {
    Interruption& in = gInterruption;
    std::string complete;
    if (in.prepared.load()) {
        for (const std::string& folder : in.folders) qsx::util::RemoveTemporariesOf(folder, GetCurrentProcessId());
        for (const std::string& p : in.gate->WrittenFiles()) complete += (complete.empty() ? "" : ", ") + p;
    }
    // Not through the C library: the stopped thread may hold its lock.
    WriteWhole(GetStdHandle(STD_ERROR_HANDLE), qsxhost::FormatMessage("", complete.empty() ? "interrupted; nothing written"
                                                  : "interrupted; complete: " + complete) +
               "\n");
    return 0;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    Interruption& in = gInterruption;
    in.lock.lock();
    if (in.finished) {
        in.lock.unlock();
        return FALSE;
    }
    if (in.worker) SuspendThread(in.worker);
    // The stopped thread may hold a lock the clean-up needs (the heap's):
    // it gets a few seconds, then the process ends all the same.
    if (const HANDLE t = CreateThread(nullptr, 0, CleanUp, nullptr, 0, nullptr)) {
        WaitForSingleObject(t, 5000);
        CloseHandle(t);
    }
    if (in.consoleCodePage) SetConsoleOutputCP(in.consoleCodePage);
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
}

}  // namespace

void StartSignalWatch() {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &gInterruption.worker,
                    THREAD_SUSPEND_RESUME, FALSE, 0);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != 0 && codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) gInterruption.consoleCodePage = codePage;
}

void PrepareForInterruption(const OutputGate& gate, const std::vector<std::string>& destinations,
                            const std::string& settingsPath) {
    Interruption& in = gInterruption;
    std::lock_guard<std::mutex> hold(in.lock);
    in.prepared.store(false);
    in.gate = &gate;
    in.folders = TemporaryFolders(destinations, settingsPath);
    in.prepared.store(true);
}

void CommandFinished() {
    std::lock_guard<std::mutex> hold(gInterruption.lock);
    gInterruption.finished = true;
    if (gInterruption.consoleCodePage) SetConsoleOutputCP(std::exchange(gInterruption.consoleCodePage, 0u));
}

}  // namespace qsxhost
