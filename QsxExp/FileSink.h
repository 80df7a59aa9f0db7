// The file layer under the script writer. Output goes through a FileSystem so
// that tests can make any open or write fail, or keep the files in memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qsx {

// One file being written. Nothing is at its path until Commit publishes it
// whole; a file dropped without a successful Commit leaves whatever was at
// the path as it was.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // False when the bytes could not be written; Error() then says why.
    virtual bool Write(const char* data, size_t size) = 0;
    // Flushes the file and puts it in place of whatever was at its path;
    // false when any of it failed, and then nothing was put in place.
    virtual bool Commit() = 0;
    // Drops what was written.
    virtual void Discard() = 0;
    virtual std::string Error() const = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Starts a new file for path; null with *error set when it cannot be made.
    virtual std::unique_ptr<OutputFile> Open(const std::string& path, std::string* error) = 0;
};

// Buffered files on disk, each written beside its destination and renamed
// over it when committed (util::AtomicFile). The buffer: as fast here as
// larger ones (under a thousand writes for 200 MB of script), and small
// beside any scene.
inline constexpr size_t kDiskFileBufferSize = size_t{1} << 18;
FileSystem& DiskFileSystem();

}  // namespace qsx
