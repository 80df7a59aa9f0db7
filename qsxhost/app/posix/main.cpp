// qsxexport: the stand-alone host. Loads a scene, loads the exporter plug-in,
// shows its options dialog (or runs in batch) and exports.
#include <pthread.h>

#include <clocale>
#include <csignal>
#include <cstddef>
#include <string>
#include <vector>

#include "qsxhost/app/Command.h"
#include "qsxhost/app/Interruption.h"

namespace {

struct ThreadCall {
    int argc;
    char** argv;
    int rc;
};

void* ThreadMain(void* p) {
    auto* call = static_cast<ThreadCall*>(p);
    call->rc = qsxhost::RunCommand(std::vector<std::string>(call->argv, call->argv + call->argc),
                                   qsxhost::ThisPlatform());
    qsxhost::CommandFinished();
    return nullptr;
}

}  // namespace

// The host's custom controls: nothing to prepare in a terminal.
extern "C" __attribute__((visibility("default"))) void InitCustomControls(void*) {}

int main(int argc, char** argv) {
    // The user's locale is honoured for everything but the files, whose
    // numbers never follow it.
    std::setlocale(LC_ALL, "");
    // A file-size limit is a write failure like a full disk, not the end of the process.
    std::signal(SIGXFSZ, SIG_IGN);
    qsxhost::StartSignalWatch();

    // Scene trees may be thousands of levels deep and the exporter's walks
    // over them recurse; run on a stack large enough for that (only touched pages cost).
    ThreadCall call{argc, argv, qsxhost::kExitFailed};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t{1} << 30);
    pthread_t thread;
    const bool ownThread = qsxhost::StartCommandThread(&thread, &attr, ThreadMain, &call);
    if (ownThread) {
        pthread_join(thread, nullptr);
    } else {
        ThreadMain(&call);
    }
    pthread_attr_destroy(&attr);
    return call.rc;
}
