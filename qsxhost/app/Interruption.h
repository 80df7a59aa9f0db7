// SIGINT, SIGTERM and SIGHUP end a run cleanly: the exporter's temporary
// files go, and the user learns which files were already complete. A watcher
// thread takes the signals; the command runs on a thread it can stop.
#pragma once

#include <pthread.h>

#include <string>
#include <vector>

namespace qsxhost {

// First thing in main, before any other thread is made: blocks the signals
// (those not ignored at start) in every thread to come and starts the watcher.
void StartSignalWatch();

// Starts the command's thread (false: none made, the caller's thread is the
// command's) so that the watcher knows which thread to stop.
bool StartCommandThread(pthread_t* thread, const pthread_attr_t* attr, void* (*run)(void*), void* arg);

// Before the export: what stands at the run's destinations, and the folders
// its temporaries go to (beside the targets of destinations that are links,
// and beside the settings file).
void PrepareForInterruption(const std::string& output, const std::string& settingsPath);

// Whether the file at path is the one that stood there before the export.
bool UnchangedSinceExportBegan(const std::string& path);

// The run's files that were put in place since the export began (the script
// or the per-node scripts, the header, the animation file), in the order of
// the export's passes.
std::vector<std::string> FilesWrittenSinceExportBegan();

// The command has ended and its files are in place: a signal from now on
// ends the process as it would have.
void CommandFinished();

}  // namespace qsxhost
