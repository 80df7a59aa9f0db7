// Files on disk under Windows: each is written beside its destination as
// "NAME.partial-PID" through the wide-character API (UTF-8 names work), in
// binary (CR LF stays CR LF), flushed to disk, and moved over the destination
// only when every write, the flush and the close succeeded; otherwise the
// temporary is deleted and the destination is as it was.
#include "QsxExp/FileSink.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "util/Files.h"
#include "util/win32/Wide.h"

#include <windows.h>

namespace qsx {
namespace {

using util::WindowsErrorText;

class DiskFile final : public OutputFile {
public:
    DiskFile() : buffer_(new char[kBufferSize]) {}
    ~DiskFile() override { Discard(); }

    bool Open(const std::string& path, std::string* error) {
        if (!util::Utf8ToWide(path, &target_) || target_.empty()) {
            *error = "the name is not valid UTF-8";
            return false;
        }
        const DWORD attributes = GetFileAttributesW(target_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *error = util::ErrnoText(EISDIR);
            return false;
        }
        const std::wstring stem = target_ + L".partial-" + std::to_wstring(GetCurrentProcessId());
        for (unsigned n = 0;; ++n) {
            temporary_ = n == 0 ? stem : stem + L"-" + std::to_wstring(n);
            file_ = CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
            if (file_ != INVALID_HANDLE_VALUE) return true;
            const DWORD err = GetLastError();
            temporary_.clear();
            if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || n >= 1000) {
                *error = WindowsErrorText(err);
                return false;
            }
        }
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

    bool Commit() override {
        // A file with a failed write has a gap: it is never put in place.
        bool ok = error_.empty() && Flush();
        if (ok && !FlushFileBuffers(file_)) ok = Failed(GetLastError());
        const HANDLE h = std::exchange(file_, INVALID_HANDLE_VALUE);
        if (!CloseHandle(h) && ok) ok = Failed(GetLastError());
        if (ok && !MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            ok = Failed(GetLastError());
        if (ok) temporary_.clear();
        Discard();
        return ok;
    }

    void Discard() override {
        used_ = 0;
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
        if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }

    std::string Error() const override { return error_; }

private:
    static constexpr size_t kBufferSize = kDiskFileBufferSize;

    bool Failed(DWORD err) {
        if (error_.empty()) error_ = WindowsErrorText(err);
        return false;
    }

    bool Flush() {
        if (used_ == 0) return true;
        const bool ok = WriteAll(buffer_.get(), used_);
        used_ = 0;
        return ok;
    }

    bool WriteAll(const char* data, size_t size) {
        while (size > 0) {
            const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(file_, data, chunk, &written, nullptr)) return Failed(GetLastError());
            if (written == 0) return Failed(ERROR_DISK_FULL);
            data += written;
            size -= written;
        }
        return true;
    }

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring target_, temporary_;
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
