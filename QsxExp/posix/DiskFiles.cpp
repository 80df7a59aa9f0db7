#include "QsxExp/FileSink.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "util/Files.h"

namespace qsx {
namespace {

using util::ErrnoText;

// A file written through one large buffer: few system calls, and every
// failure (write, flush, sync, close or rename) is seen and kept.
class DiskFile final : public OutputFile {
public:
    DiskFile() : buffer_(new char[kBufferSize]) {}

    bool Open(const std::string& path, std::string* error) { return file_.Open(path, error); }

    bool Write(const char* data, size_t size) override {
        if (size > kBufferSize - used_) {
            if (!Flush()) return false;
            if (size > kBufferSize) return WriteAll(data, size);
        }
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return true;
    }

    bool Commit() override {
        // A file with a failed write has a gap: it is never put in place.
        if (!error_.empty() || !Flush()) {
            file_.Discard();
            return false;
        }
        return file_.Commit(&error_);
    }

    void Discard() override {
        used_ = 0;
        file_.Discard();
    }

    std::string Error() const override { return error_; }

private:
    static constexpr size_t kBufferSize = kDiskFileBufferSize;

    bool Flush() {
        if (used_ == 0) return true;
        bool ok = WriteAll(buffer_.get(), used_);
        used_ = 0;
        return ok;
    }

    bool WriteAll(const char* data, size_t size) {
        if (util::WriteAll(file_.Descriptor(), data, size)) return true;
        error_ = ErrnoText(errno);
        return false;
    }

    util::AtomicFile file_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    std::string error_;
};

class DiskFileSystemImpl final : public FileSystem {
public:
    std::unique_ptr<OutputFile> Open(const std::string& path, std::string* error) override {
        auto file = std::make_unique<DiskFile>();
        if (!file->Open(path, error)) return nullptr;
        return file;
    }
};

}  // namespace

FileSystem& DiskFileSystem() {
    static DiskFileSystemImpl fs;
    return fs;
}

}  // namespace qsx
