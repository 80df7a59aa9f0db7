// Files that appear at their destination whole or not at all, on Windows:
// written under a temporary name beside the destination and moved over it
// once complete and flushed, as on POSIX systems (util/posix/AtomicFile.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Files.h"

namespace qsx::util {

// A complete, closed temporary and the destination it is to replace, as the
// system names them (a link's target, not the link).
struct FinishedFile {
    std::wstring temporary, target;
};

// Written as "NAME.partial-PID" in the folder of the file the path reaches
// (through a symbolic link, at its target), and only moved over that file
// when finished. A destination marked read-only is refused as writing it in
// place would be; the hidden, system and archive marks of the file it
// replaces are kept. A name the system keeps for a device (NUL, AUX, COM1,
// "aux.QSX", ...) is refused, naming the device.
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { Discard(); }

    // False with *error set to the cause (without the path).
    bool Open(const std::string& path, std::string* error);
    // All of data, or false with *error set.
    bool Write(const char* data, size_t size, std::string* error);
    // Flushes and closes the temporary and hands it over for PublishTogether.
    // False with *error set, the temporary gone.
    bool Finish(FinishedFile* out, std::string* error);
    // Closes and removes the temporary; the destination is as it was.
    void Discard();

private:
    void* file_ = nullptr;  // the temporary's handle while open
    std::wstring target_, temporary_;
    unsigned long keptAttributes_ = 0;
};

// Moves finished files over their destinations in order; done(i, error) for
// each, error "" when it is in place. One that fails is removed and its
// destination left as it was.
void PublishTogether(const std::vector<FinishedFile>& files,
                     const std::function<void(size_t index, const std::string& error)>& done);
// Removes finished temporaries that will not be put in place.
void DropFinished(const std::vector<FinishedFile>& files);

// The device that path's last component names ("AUX" for "aux.QSX", "COM1"
// for "C:\\x\\com1"), upper case; "" for the name of a file.
std::string ReservedDeviceName(std::string_view path);

// The file that writing to path reaches: where the symbolic links that lead
// from it end, or path itself when it does not exist. False when the name is
// not usable.
bool ResolveLinks(const std::string& path, std::string* target);

// Removes from folder every temporary of process pid; answers how many. The
// temporaries are opened so that this works while they are still open.
size_t RemoveTemporariesOf(const std::string& folder, unsigned long pid);

}  // namespace qsx::util
