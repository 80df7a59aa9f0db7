// The file layer under the script writer. Output goes through a FileSystem so
// that tests can make any open or write fail, or keep the files in memory.
#pragma once

#include <cstddef>
#include <functional>
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
    // Where a writer that builds its text in place may put the next bytes
    // instead of handing them to Write: at least `size` bytes from
    // window->begin up to window->end, ready to be filled. Bytes put there
    // belong to the file once Put(end) says where they end; any other call
    // before that drops them. The window is left empty when this file takes
    // bytes through Write only (the default) or has no such room (a size
    // larger than its buffer). False when making room failed (a write of
    // what was put before); Error() then says why.
    struct Window {
        char* begin = nullptr;
        char* end = nullptr;
    };
    virtual bool Room(size_t size, Window* window) {
        (void)size;
        *window = {};
        return true;
    }
    virtual void Put(const char* end) { (void)end; }
    // The file is complete: flushes and closes it, to be put in place of
    // whatever is at its path by the file system's Publish. False when any
    // of that failed; the file is then dropped.
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
    // Puts every file committed since the last call in place, together, in
    // the order they were committed; done(path, error) for each, error ""
    // when it is in place. One that fails leaves its path as it was.
    using Published = std::function<void(const std::string& path, const std::string& error)>;
    virtual void Publish(const Published& done) = 0;
    // Drops every committed file not yet published: their paths stay as they were.
    virtual void DropUnpublished() = 0;
};

// Buffered files on disk, each written beside its destination and renamed
// over it when published (util::AtomicFile, util::PublishTogether). The buffer: as fast here as
// larger ones (under a thousand writes for 200 MB of script), and small
// beside any scene.
inline constexpr size_t kDiskFileBufferSize = size_t{1} << 18;
FileSystem& DiskFileSystem();

}  // namespace qsx
