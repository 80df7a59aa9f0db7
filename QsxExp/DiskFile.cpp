#include "QsxExp/DiskFile.h"

#include <cstring>

namespace qsx {

BufferedDiskFile::BufferedDiskFile() : buffer_(new char[kDiskFileBufferSize]) {}

bool BufferedDiskFile::Write(const char* data, size_t size) {
    if (size > kDiskFileBufferSize - used_) {
        if (!Flush()) return false;
        if (size > kDiskFileBufferSize) return WriteThrough(data, size);
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
    return true;
}

bool BufferedDiskFile::Room(size_t size, Window* window) {
    *window = {};
    if (size > kDiskFileBufferSize - used_) {
        if (!Flush()) return false;
        if (size > kDiskFileBufferSize) return true;
    }
    window->begin = buffer_.get() + used_;
    window->end = buffer_.get() + kDiskFileBufferSize;
    return true;
}

bool BufferedDiskFile::Commit() {
    // A file with a failed write has a gap: it is never put in place.
    if (!error_.empty() || !Flush()) {
        Abandon();
        return false;
    }
    return Finish();
}

void BufferedDiskFile::Discard() {
    used_ = 0;
    Abandon();
}

bool BufferedDiskFile::Flush() {
    if (used_ == 0) return true;
    const bool ok = WriteThrough(buffer_.get(), used_);
    used_ = 0;
    return ok;
}

std::unique_ptr<OutputFile> DiskFiles::Open(const std::string& path, std::string* error) {
    return OpenDiskFile(path, *pending_, error);
}

FileSystem& DiskFileSystem() {
    static DiskFiles fs;
    return fs;
}

}  // namespace qsx
