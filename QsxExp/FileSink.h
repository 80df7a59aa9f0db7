// The file layer under the script writer. Output goes through a FileSystem so
// that tests can make any open or write fail, or keep the files in memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qsx {

class OutputFile {
public:
    virtual ~OutputFile() = default;
    // False when the bytes could not be written; Error() then says why.
    virtual bool Write(const char* data, size_t size) = 0;
    // Flushes and closes; false when any of it failed.
    virtual bool Close() = 0;
    virtual std::string Error() const = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates or truncates path for writing; null with *error set on failure.
    virtual std::unique_ptr<OutputFile> Open(const std::string& path, std::string* error) = 0;
    virtual void Remove(const std::string& path) = 0;
};

// Buffered files on disk. The buffer: as fast here as larger ones (under a
// thousand writes for 200 MB of script), and small beside any scene.
inline constexpr size_t kDiskFileBufferSize = size_t{1} << 18;
FileSystem& DiskFileSystem();

}  // namespace qsx
