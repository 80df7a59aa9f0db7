// Files that appear at their destination whole or not at all, on POSIX
// systems: written under a temporary name beside the destination and renamed
// over it once complete and on disk.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Files.h"

namespace qsx::util {

// A complete, closed temporary and the destination it is to replace;
// temporary is empty for a file that was written in place.
struct FinishedFile {
    std::string temporary, target;
};

// A file that appears at its destination whole or not at all. It is written
// under a temporary name in the destination's folder ("NAME.partial-PID",
// so that whoever finds one left by a killed process sees what it is) and
// renamed over the destination only once it is complete and on disk. The
// destination is the file a symbolic link at the path leads to; a device or
// pipe there is written directly, as nothing partial can be left in it.
// Nothing is ever created under /dev: a name there that does not exist is
// refused. /dev/stdout is the process's standard output as it stands (a file
// it was redirected to is written through, not replaced).
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { Discard(); }

    // Whether a destination that this process may not write is refused, as
    // writing it in place would be, or replaced all the same.
    enum class Protected { Refuse, Replace };

    // Makes the temporary. A new file gets newMode less the umask; a file it
    // replaces keeps its permission bits (and owner where that can be kept).
    // False with *error set to the cause (without the path).
    bool Open(const std::string& path, std::string* error, mode_t newMode = 0666,
              Protected protectedFile = Protected::Refuse);
    int Descriptor() const { return fd_.Get(); }
    // All of data, or false with *error set.
    bool Write(const char* data, size_t size, std::string* error);
    // Syncs and closes the temporary and renames it over the destination.
    // False with *error set; the temporary is gone and the destination as it was.
    bool Commit(std::string* error);
    // Closes the complete temporary without syncing or renaming it and hands
    // it over to be put in place with others (PublishTogether); a file written
    // in place is simply closed. False with *error set, the temporary gone.
    bool Finish(FinishedFile* out, std::string* error);
    // Closes and removes the temporary; the destination is as it was.
    void Discard();

private:
    Fd fd_;
    std::string target_, temporary_;  // temporary_ empty when written in place
};

// The system calls that putting files in place makes, so that a test can
// watch their order or make one fail.
struct PublishCalls {
    int (*syncfs)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*fsync)(int fd);
};
const PublishCalls& SystemPublishCalls();

// Puts finished files in place together, paying for safety once rather than
// per file: one sync of each file system the temporaries are on, then every
// rename, then one sync of each folder that received one. A power cut at any
// point leaves each destination with its earlier file or the whole new one.
// done(i, error) is called for every file in order as it goes in place (before
// the folders' sync), error "" when it is in place; a file whose sync or rename
// failed is removed and its destination left as it was.
void PublishTogether(const std::vector<FinishedFile>& files,
                     const std::function<void(size_t index, const std::string& error)>& done,
                     const PublishCalls& calls = SystemPublishCalls());
// Removes finished temporaries that will not be put in place.
void DropFinished(const std::vector<FinishedFile>& files);

// data as the whole of the file at path, through an AtomicFile.
bool PublishFile(const std::string& path, const char* data, size_t size, std::string* error);

// The file that writing to path reaches: path itself, or where the chain of
// symbolic links that starts at path ends (the name a new file would get when
// the last link dangles). False with errno set when the chain does not end.
bool ResolveLinks(const std::string& path, std::string* target);

// Removes from folder every temporary of process pid; answers how many.
size_t RemoveTemporariesOf(const std::string& folder, unsigned long pid);

}  // namespace qsx::util
