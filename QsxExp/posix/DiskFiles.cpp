#include <cerrno>
#include <memory>

#include "QsxExp/DiskFile.h"
#include "util/Files.h"

namespace qsx {
namespace {

// Written beside its destination and renamed over it (util::AtomicFile).
class DiskFile final : public BufferedDiskFile {
public:
    bool Open(const std::string& path, std::string* error) { return file_.Open(path, error); }

private:
    bool WriteThrough(const char* data, size_t size) override {
        if (util::WriteAll(file_.Descriptor(), data, size)) return true;
        error_ = util::ErrnoText(errno);
        return false;
    }
    bool Publish() override { return file_.Commit(&error_); }
    void Abandon() override { file_.Discard(); }

    util::AtomicFile file_;
};

}  // namespace

std::unique_ptr<BufferedDiskFile> OpenDiskFile(const std::string& path, std::string* error) {
    auto file = std::make_unique<DiskFile>();
    if (!file->Open(path, error)) return nullptr;
    return file;
}

}  // namespace qsx
