#include "QsxExp/FileSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "util/Files.h"

namespace qsx {
namespace {

using util::ErrnoText;

// A file written through one large buffer: few system calls, and every
// failure (write, flush or close) is seen and kept.
class DiskFile final : public OutputFile {
public:
    explicit DiskFile(int fd) : fd_(fd), buffer_(new char[kBufferSize]) {}
    ~DiskFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Write(const char* data, size_t size) override {
        if (size > kBufferSize - used_) {
            if (!Flush()) return false;
            if (size > kBufferSize) return WriteAll(data, size);
        }
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return true;
    }

    bool Close() override {
        bool ok = Flush();
        if (fd_ >= 0) {
            if (::close(fd_) != 0 && ok) {
                error_ = ErrnoText(errno);
                ok = false;
            }
            fd_ = -1;
        }
        return ok;
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
        if (util::WriteAll(fd_, data, size)) return true;
        error_ = ErrnoText(errno);
        return false;
    }

    int fd_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    std::string error_;
};

class DiskFileSystemImpl final : public FileSystem {
public:
    std::unique_ptr<OutputFile> Open(const std::string& path, std::string* error) override {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (error) *error = ErrnoText(errno);
            return nullptr;
        }
        return std::make_unique<DiskFile>(fd);
    }
    void Remove(const std::string& path) override { ::unlink(path.c_str()); }
};

}  // namespace

FileSystem& DiskFileSystem() {
    static DiskFileSystemImpl fs;
    return fs;
}

}  // namespace qsx
