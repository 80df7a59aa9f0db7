#include "tests/support/MemoryFileSystem.h"

namespace qsx {

class MemoryFile final : public OutputFile {
public:
    MemoryFile(MemoryFileSystem* fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    bool Write(const char* data, size_t size) override {
        ++fs_->writes;
        if (fs_->failWriteAt_ != 0 && fs_->writes == fs_->failWriteAt_) {
            error_ = "No space left on device";
            return false;
        }
        text_.append(data, size);
        return true;
    }
    bool Commit() override {
        if (!error_.empty()) return false;
        fs_->files[path_] = std::move(text_);
        fs_->committed_.push_back(path_);
        text_.clear();
        return true;
    }
    void Discard() override { text_.clear(); }
    std::string Error() const override { return error_; }

private:
    MemoryFileSystem* fs_;
    std::string path_;
    std::string text_;
    std::string error_;
};

void MemoryFileSystem::Publish(const Published& done) {
    const std::vector<std::string> batch = std::move(committed_);
    committed_.clear();
    for (const std::string& path : batch) done(path, "");
}

std::unique_ptr<OutputFile> MemoryFileSystem::Open(const std::string& path, std::string* error) {
    ++opens;
    if (failOpenAt_ != 0 && opens == failOpenAt_) {
        if (error) *error = "Permission denied";
        return nullptr;
    }
    return std::make_unique<MemoryFile>(this, path);
}

}  // namespace qsx
