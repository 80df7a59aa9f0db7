// SIGINT, SIGTERM and SIGHUP end a run cleanly: the exporter's temporary
// files go, and the user learns which files were already complete. A watcher
// thread takes the signals; the command runs on a thread it can stop.
#pragma once

#include <pthread.h>

#include <string>
#include <vector>

#include "qsxhost/app/OutputGate.h"

namespace qsxhost {

// First thing in main, before any other thread is made: blocks the signals
// (those not ignored at start) in every thread to come and starts the watcher.
void StartSignalWatch();

// Starts the command's thread (false: none made, the caller's thread is the
// command's) so that the watcher knows which thread to stop.
bool StartCommandThread(pthread_t* thread, const pthread_attr_t* attr, void* (*run)(void*), void* arg);

// Once the run's files are approved: the folders its temporaries go to
// (beside each destination, beside the targets of destinations that are
// links, and beside the settings file), and the gate that knows which files
// are already in place. Called again, it replaces what it was told.
void PrepareForInterruption(const OutputGate& gate, const std::vector<std::string>& destinations,
                            const std::string& settingsPath);

// The command has ended and its files are in place: a signal from now on
// ends the process as it would have.
void CommandFinished();

// Called on the command's thread where ending the run leaves nothing half
// done and the thread holds no lock (as the exporter reports a file in
// place, or its progress): an interruption that has come ends the run here.
void InterruptionPoint();

}  // namespace qsxhost
