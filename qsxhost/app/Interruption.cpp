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
// On a signal the watcher stops the thread that runs the command where it
// stands (so that it makes no new temporary and renames nothing more), then
// removes this process's temporaries from every folder the run may write to,
// says which files were already in place (as the exporter told the gate) and
// ends the process with 128 + the signal.

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

[[noreturn]] void EndInterrupted(int sig) {
    Interruption& in = gInterruption;
    // The command's thread stops where it stands; one stuck in the kernel
    // (a slow disk) is waited for a while, not for ever.
    if (pthread_kill(in.worker, FreezeSignal()) == 0) {
        for (int i = 0; i < 10000 && !gFrozen.load(); ++i) {
            const timespec ms = {0, 1000000};
            nanosleep(&ms, nullptr);
        }
    }
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

void* WatchSignals(void*) {
    for (;;) {
        int sig = 0;
        if (sigwait(&gInterrupts, &sig) != 0) continue;
        gInterruption.lock.lock();
        if (!gInterruption.finished) EndInterrupted(sig);
        // The command has ended and its files are in place; the process ends as it would have.
        gInterruption.lock.unlock();
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

}  // namespace qsxhost
