#include "qsxhost/app/ImportGuard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "qsxhost/app/Messages.h"

namespace qsxhost {
namespace {

// Read by the signal handler: prepared before the import, never allocated there.
char gAbortMessage[4200];
size_t gAbortLength = 0;
int gSavedStderr = -1;  // the real standard error while an import runs
int gImportLog = -1;    // what the importer wrote to standard error

constexpr int kSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

extern "C" void OnImportCrash(int) {
    const int fd = ImportGuard::UserStderr();
    ssize_t ignored = write(fd, gAbortMessage, gAbortLength);
    char said[512];
    const ssize_t n = gImportLog >= 0 ? pread(gImportLog, said, sizeof said, 0) : 0;
    ssize_t len = 0;
    while (len < n && said[len] != '\n' && said[len] != '\r') ++len;
    if (len > 0) {
        ignored = write(fd, " [", 2);
        ignored = write(fd, said, static_cast<size_t>(len));
        ignored = write(fd, "]", 1);
    }
    ignored = write(fd, "\n", 1);
    (void)ignored;
    _exit(kImportCrashExit);
}

}  // namespace

int ImportGuard::UserStderr() { return gSavedStderr >= 0 ? gSavedStderr : STDERR_FILENO; }

ImportGuard::ImportGuard(const std::string& path) {
    std::fflush(stderr);
    const std::string m = FormatMessage(path, "the importer gave up on this file (it is damaged or not supported)");
    gAbortLength = std::min(m.size(), sizeof gAbortMessage);
    std::memcpy(gAbortMessage, m.data(), gAbortLength);
    gImportLog = memfd_create("qsxexport-import", MFD_CLOEXEC);
    if (gImportLog >= 0) {
        gSavedStderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (gSavedStderr < 0 || dup2(gImportLog, STDERR_FILENO) < 0) {
            if (gSavedStderr >= 0) close(gSavedStderr);
            gSavedStderr = -1;
        }
    }
    for (int s : kSignals) std::signal(s, OnImportCrash);
}

ImportGuard::~ImportGuard() {
    std::fflush(stderr);
    if (gSavedStderr >= 0) {
        dup2(gSavedStderr, STDERR_FILENO);
        close(gSavedStderr);
        gSavedStderr = -1;
    }
    if (gImportLog >= 0) {
        close(gImportLog);
        gImportLog = -1;
    }
    for (int s : kSignals) std::signal(s, SIG_DFL);
}

}  // namespace qsxhost
