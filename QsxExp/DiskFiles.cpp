// Files on disk: each is written beside its destination as "NAME.partial-PID"
// (UTF-8 names on every system, bytes as given), and put in place over the
// destination with the others of the run only when every write and its
// finishing succeeded; otherwise the temporary is deleted and the destination
// is as it was. The platform's util::AtomicFile does the system's part.
#include <memory>
#include <utility>
#include <vector>

#include "QsxExp/DiskFile.h"
// The platform's AtomicFile.h (util/posix/ or util/win32/, on qsx_util's include path).
#include "AtomicFile.h"

namespace qsx {

// Finished temporaries, in the order they were finished, with the paths the
// exporter named them by.
struct DiskFiles::Pending {
    std::vector<std::string> paths;
    std::vector<util::FinishedFile> files;
};

namespace {

class DiskFile final : public BufferedDiskFile {
public:
    DiskFile(std::string path, DiskFiles::Pending& pending) : path_(std::move(path)), pending_(pending) {}
    bool Open(std::string* error) { return file_.Open(path_, error); }

private:
    bool WriteThrough(const char* data, size_t size) override {
        std::string why;
        if (file_.Write(data, size, &why)) return true;
        if (error_.empty()) error_ = why;
        return false;
    }
    bool Finish() override {
        util::FinishedFile finished;
        std::string why;
        if (!file_.Finish(&finished, &why)) {
            if (error_.empty()) error_ = why;
            return false;
        }
        pending_.paths.push_back(path_);
        pending_.files.push_back(std::move(finished));
        return true;
    }
    void Abandon() override { file_.Discard(); }

    std::string path_;
    DiskFiles::Pending& pending_;
    util::AtomicFile file_;
};

}  // namespace

DiskFiles::DiskFiles() : pending_(std::make_unique<Pending>()) {}

DiskFiles::~DiskFiles() { DropUnpublished(); }

void DiskFiles::Publish(const Published& done) {
    Pending batch = std::move(*pending_);
    *pending_ = Pending();
    util::PublishTogether(batch.files, [&](size_t i, const std::string& error) { done(batch.paths[i], error); });
}

void DiskFiles::DropUnpublished() {
    util::DropFinished(pending_->files);
    *pending_ = Pending();
}

std::unique_ptr<BufferedDiskFile> OpenDiskFile(const std::string& path, DiskFiles::Pending& pending,
                                               std::string* error) {
    auto file = std::make_unique<DiskFile>(path, pending);
    if (!file->Open(error)) return nullptr;
    return file;
}

}  // namespace qsx
