#include "qsxhost/app/Interruption.h"

#include <dirent.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "qsxhost/app/ImportGuard.h"
#include "qsxhost/app/Messages.h"
#include "util/posix/AtomicFile.h"

namespace qsxhost {
namespace {

// SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by a
// watcher thread. The exporter writes each file under a temporary name that
// carries this process's id and renames it into place when it is complete.
// On a signal the run ends on one thread while the other stands still (so
// that no new temporary is made and nothing more renamed): this process's
// temporaries go from every folder the run may write to, the user learns
// which files were already in place (as the exporter told the gate), and the
// process ends with 128 + the signal.

// The interrupting signals that this run handles: those the process was not
// started with ignored (as nohup or a shell's background job start it).
sigset_t gInterrupts;

// The signal that holds the command's thread still; its handler never returns.
int FreezeSignal() { return SIGRTMIN; }

std::atomic<bool> gFrozen{false};

extern "C" void OnFreeze(int) {
    gFrozen.store(true);
    for (;;) pause();
}

struct Interruption {
    pthread_t worker{};            // the thread that runs the command
    std::mutex lock;               // held while a signal is handled
    bool finished = false;         // the command has ended: signals no longer stop it
    std::atomic<bool> prepared{false};  // the members below are set
    const OutputGate* gate = nullptr;   // what the run has put in place
    std::vector<std::string> folders;   // where the run's temporaries may be
    bool terminal = false;              // standard input is a terminal, in the state below
    termios terminalState{};
};
// Never destroyed: the watcher may still look at it while the process exits.
Interruption& gInterruption = *new Interruption;


void WriteText(int fd, const std::string& text) { (void)qsx::util::WriteAll(fd, text); }

// Holds the command's thread where it stands; one stuck in the kernel (a slow
// disk) is waited for a while, not for ever.
void FreezeWorker() {
    if (pthread_kill(gInterruption.worker, FreezeSignal()) == 0) {
        for (int i = 0; i < 10000 && !gFrozen.load(); ++i) {
            const timespec ms = {0, 1000000};
            nanosleep(&ms, nullptr);
        }
    }
}

// The signal the command's thread is to end the run for at its next
// interruption point; 0 while none has come.
std::atomic<int> gRequested{0};
std::atomic<bool> gEnding{false};  // one thread has begun to end the run

[[noreturn]] void EndRun(int sig) {
    Interruption& in = gInterruption;
    if (in.terminal) {
        // The options dialog was up: its terminal modes and screen go.
        termios now{};
        if (tcgetattr(STDIN_FILENO, &now) == 0 &&
            (now.c_lflag != in.terminalState.c_lflag || now.c_iflag != in.terminalState.c_iflag)) {
            (void)tcsetattr(STDIN_FILENO, TCSANOW, &in.terminalState);
            WriteText(STDOUT_FILENO, "\033[?1000l\033[?1002l\033[?1003l\033[?1006l\033[?1015l\033[?1049l\033[?25h");
        }
    }
    std::string complete;
    if (in.prepared.load()) {
        for (const std::string& folder : in.folders) qsx::util::RemoveTemporariesOf(folder, ::getpid());
        for (const std::string& p : in.gate->WrittenFiles()) complete += (complete.empty() ? "" : ", ") + p;
    }
    const int fd = qsxhost::ImportGuard::UserStderr();
    std::string message = isatty(fd) ? "\r\033[K" : "";  // over a progress line
    message += qsxhost::FormatMessage(
        "", complete.empty() ? "interrupted; nothing written" : "interrupted; complete: " + complete);
    WriteText(fd, message + "\n");
    _exit(128 + sig);
}

// Before the run's files are approved nothing of it is on disk: the command's
// thread is stopped at once. After, it is asked to end the run at its next
// interruption point, where no file is half moved and the gate's list of
// files in place is whole; one that does not come to one soon (inside one
// large mesh) is stopped where it stands.
void Interrupt(int sig) {
    Interruption& in = gInterruption;
    {
        std::lock_guard<std::mutex> hold(in.lock);
        if (in.finished) return;  // the files are in place; the process ends as it would have
        if (!in.prepared.load()) {
            gEnding.store(true);
            FreezeWorker();
            EndRun(sig);
        }
        gRequested.store(sig);
    }
    const timespec grace = {0, 500000000};
    nanosleep(&grace, nullptr);
    std::lock_guard<std::mutex> hold(in.lock);
    if (in.finished) return;
    if (gEnding.exchange(true)) return;  // the command's thread is ending the run
    FreezeWorker();
    EndRun(sig);
}

void* WatchSignals(void*) {
    for (;;) {
        int sig = 0;
        if (sigwait(&gInterrupts, &sig) == 0) Interrupt(sig);
    }
}

}  // namespace

void StartSignalWatch() {
    // The interrupting signals go to the watcher alone; every thread made from here on inherits the mask.
    sigemptyset(&gInterrupts);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        if (sigaction(s, nullptr, &was) == 0 && was.sa_handler != SIG_IGN) sigaddset(&gInterrupts, s);
    }
    pthread_sigmask(SIG_BLOCK, &gInterrupts, nullptr);
    struct sigaction freeze {};
    freeze.sa_handler = OnFreeze;
    sigfillset(&freeze.sa_mask);
    sigaction(FreezeSignal(), &freeze, nullptr);
    gInterruption.terminal = tcgetattr(STDIN_FILENO, &gInterruption.terminalState) == 0;
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, WatchSignals, nullptr) != 0)
        pthread_sigmask(SIG_UNBLOCK, &gInterrupts, nullptr);  // no watcher: the signals end the process as they always did

}

bool StartCommandThread(pthread_t* thread, const pthread_attr_t* attr, void* (*run)(void*), void* arg) {
    // The watcher learns which thread to stop before it can act on a signal.
    std::lock_guard<std::mutex> hold(gInterruption.lock);
    const bool made = pthread_create(thread, attr, run, arg) == 0;
    gInterruption.worker = made ? *thread : pthread_self();
    return made;
}

void PrepareForInterruption(const OutputGate& gate, const std::vector<std::string>& destinations,
                            const std::string& settingsPath) {
    Interruption& in = gInterruption;
    in.prepared.store(false);
    in.gate = &gate;
    in.folders = TemporaryFolders(destinations, settingsPath);
    in.prepared.store(true);
}

void CommandFinished() {
    std::lock_guard<std::mutex> hold(gInterruption.lock);
    gInterruption.finished = true;
}

void InterruptionPoint() {
    if (const int sig = gRequested.load(); sig != 0 && !gEnding.exchange(true)) EndRun(sig);
}

}  // namespace qsxhost
