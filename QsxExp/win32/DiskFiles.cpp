// Files on disk under Windows: each is written beside its destination as
// "NAME.partial-PID" through the wide-character API (UTF-8 names work), in
// binary (CR LF stays CR LF), flushed to disk and closed when finished, and
// moved over the destination with the others of the run only when every
// write, the flush and the close succeeded; otherwise the temporary is
// deleted and the destination is as it was.
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "QsxExp/DiskFile.h"
#include "util/Files.h"
#include "util/win32/Wide.h"

#include <windows.h>

namespace qsx {

// A finished temporary and its destination, and the path the exporter named.
struct DiskFiles::Pending {
    struct File {
        std::string path;
        std::wstring temporary, target;
    };
    std::vector<File> files;
};

namespace {

using util::WindowsErrorText;

class DiskFile final : public BufferedDiskFile {
public:
    DiskFile(std::string path, DiskFiles::Pending& pending) : path_(std::move(path)), pending_(pending) {}
    ~DiskFile() override { Abandon(); }

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

private:
    bool WriteThrough(const char* data, size_t size) override {
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

    bool Finish() override {
        bool ok = true;
        if (!FlushFileBuffers(file_)) ok = Failed(GetLastError());
        const HANDLE h = std::exchange(file_, INVALID_HANDLE_VALUE);
        if (!CloseHandle(h) && ok) ok = Failed(GetLastError());
        if (ok) pending_.files.push_back({path_, std::exchange(temporary_, std::wstring()), target_});
        Abandon();
        return ok;
    }

    void Abandon() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
        if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }

    bool Failed(DWORD err) {
        if (error_.empty()) error_ = WindowsErrorText(err);
        return false;
    }

    std::string path_;
    DiskFiles::Pending& pending_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring target_, temporary_;
};

}  // namespace

DiskFiles::DiskFiles() : pending_(std::make_unique<Pending>()) {}

DiskFiles::~DiskFiles() { DropUnpublished(); }

void DiskFiles::Publish(const Published& done) {
    std::vector<Pending::File> batch = std::move(pending_->files);
    pending_->files.clear();
    for (const Pending::File& f : batch) {
        if (MoveFileExW(f.temporary.c_str(), f.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            done(f.path, "");
            continue;
        }
        const std::string why = WindowsErrorText(GetLastError());
        DeleteFileW(f.temporary.c_str());
        done(f.path, why);
    }
}

void DiskFiles::DropUnpublished() {
    for (const Pending::File& f : pending_->files) DeleteFileW(f.temporary.c_str());
    pending_->files.clear();
}

std::unique_ptr<BufferedDiskFile> OpenDiskFile(const std::string& path, DiskFiles::Pending& pending,
                                               std::string* error) {
    auto file = std::make_unique<DiskFile>(path, pending);
    if (!file->Open(path, error)) return nullptr;
    return file;
}

}  // namespace qsx
