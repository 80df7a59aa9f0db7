// The importer may give up with an abort on some malformed files, after
// printing its own assertion text. Nothing is open for writing while it runs,
// so the process can end with one clear message. Meanwhile standard error
// goes to an unnamed in-memory file, so that the library's words reach the
// user only inside that message. One guard at a time.
#pragma once

#include <string>

namespace qsxhost {

// Exit status of a process that the importer gave up in.
inline constexpr int kImportCrashExit = 2;

class ImportGuard {
public:
    explicit ImportGuard(const std::string& path);
    ~ImportGuard();
    ImportGuard(const ImportGuard&) = delete;
    ImportGuard& operator=(const ImportGuard&) = delete;

    // The user's standard error while a guard is up (for progress lines).
    static int UserStderr();
};

}  // namespace qsxhost
