// Ctrl-C, Ctrl-Break and a closed console end a run cleanly on Windows as
// the signals do on Linux: the system calls a console control handler on a
// thread of its own. Before the run's files are approved nothing of it is on
// disk and the process ends at once. After, the command's thread is asked to
// end the run at its next interruption point (a file put in place, a node
// written), where it holds no lock and has left no file half moved: it
// removes this process's temporaries from every folder the run may write to,
// says which files were already in place, and ends the process with 130.
// A thread that reaches no such point soon (inside one large mesh, on a slow
// disk) is stopped where it stands, outside the system's libraries, whose
// locks (the heap's) the handler's own clean-up needs.
// The console shows the program's UTF-8 text while the command runs, and
// gets its own code page back however the run ends.
#include "qsxhost/app/Interruption.h"

#include <atomic>
#include <cstdint>
#include <mutex>

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
    std::atomic<bool> finished{false};  // the command has ended: Ctrl-C ends the process as it always did
    std::atomic<bool> prepared{false};
    std::atomic<bool> requested{false};  // the command's thread is to end the run at its next stop point
    std::atomic<bool> ending{false};     // one thread has begun to end the run
    const OutputGate* gate = nullptr;
    std::vector<std::string> folders;
    std::atomic<UINT> consoleCodePage{0};  // the console's own, while it shows UTF-8
    std::string nothingWritten;            // made before any interruption: the heap may be held then
};
// Never destroyed: the handler may still look at it while the process exits.
Interruption& gInterruption = *new Interruption;

// Removes the temporaries, says what is complete, and ends the process.
[[noreturn]] void EndRun() {
    Interruption& in = gInterruption;
    std::string complete;  // nothing is allocated unless files were approved
    if (in.prepared.load()) {
        for (const std::string& folder : in.folders) qsx::util::RemoveTemporariesOf(folder, GetCurrentProcessId());
        for (const std::string& p : in.gate->WrittenFiles()) complete += (complete.empty() ? "" : ", ") + p;
    }
    // Not through the C library: a stopped thread may hold its lock.
    if (complete.empty())
        WriteWhole(GetStdHandle(STD_ERROR_HANDLE), in.nothingWritten);
    else
        WriteWhole(GetStdHandle(STD_ERROR_HANDLE), qsxhost::FormatMessage("", "interrupted; complete: " + complete) + "\n");
    if (const UINT cp = in.consoleCodePage.load()) SetConsoleOutputCP(cp);
    TerminateProcess(GetCurrentProcess(), 130);
    for (;;) Sleep(INFINITE);
}

DWORD WINAPI CleanUpFor(void*) { EndRun(); }

// The system's libraries whose locks a stopped thread may hold.
struct CodeRange {
    uintptr_t begin = 0, end = 0;
};
CodeRange gSystemCode[4];

CodeRange RangeOf(const wchar_t* module) {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(module));
    if (!base) return {};
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return {reinterpret_cast<uintptr_t>(base), reinterpret_cast<uintptr_t>(base) + nt->OptionalHeader.SizeOfImage};
}

// Stops the command's thread at an instruction of the program's own: tried
// again and again for a while, then wherever it is.
void StopWorker(HANDLE worker) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        if (SuspendThread(worker) == static_cast<DWORD>(-1)) return;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (!GetThreadContext(worker, &context)) return;
#if defined(_M_X64) || defined(__x86_64__)
        const uintptr_t at = context.Rip;
#else
        const uintptr_t at = context.Eip;
#endif
        bool inSystem = false;
        for (const CodeRange& r : gSystemCode) inSystem = inSystem || (at >= r.begin && at < r.end);
        if (!inSystem) return;
        ResumeThread(worker);
        Sleep(1);
    }
    SuspendThread(worker);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    Interruption& in = gInterruption;
    {
        std::lock_guard<std::mutex> hold(in.lock);
        if (in.finished.load()) return FALSE;
        // Nothing on disk yet, and the run cannot approve its files while this is held.
        if (!in.prepared.load() && !in.ending.exchange(true)) EndRun();
        in.requested.store(true);
    }
    for (int i = 0; i < 50; ++i) {
        Sleep(10);
        if (in.finished.load()) return FALSE;
    }
    std::lock_guard<std::mutex> hold(in.lock);
    if (in.finished.load()) return FALSE;
    if (in.ending.exchange(true)) {
        for (;;) Sleep(INFINITE);  // the command's thread is ending the run
    } else {
        if (in.worker) StopWorker(in.worker);
        // The stopped thread may hold a lock the clean-up needs (the heap's):
        // it gets a few seconds, then the process ends all the same.
        if (const HANDLE t = CreateThread(nullptr, 0, CleanUpFor, nullptr, 0, nullptr)) {
            WaitForSingleObject(t, 5000);
            CloseHandle(t);
        }
    }
    if (const UINT cp = in.consoleCodePage.load()) SetConsoleOutputCP(cp);
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
}

}  // namespace

void StartSignalWatch() {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &gInterruption.worker,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    gInterruption.nothingWritten = qsxhost::FormatMessage("", "interrupted; nothing written") + "\n";
    int n = 0;
    for (const wchar_t* module : {L"ntdll.dll", L"kernelbase.dll", L"kernel32.dll", L"msvcrt.dll"})
        gSystemCode[n++] = RangeOf(module);
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

void InterruptionPoint() {
    Interruption& in = gInterruption;
    if (in.requested.load() && !in.ending.exchange(true)) EndRun();
}

void CommandFinished() {
    std::lock_guard<std::mutex> hold(gInterruption.lock);
    gInterruption.finished = true;
    if (const UINT cp = gInterruption.consoleCodePage.exchange(0u)) SetConsoleOutputCP(cp);
}

}  // namespace qsxhost
