// What the disk files of every platform share: one large buffer in front of
// the platform's writes (few system calls), every failure kept, and a file
// with a failed write never put in place.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "QsxExp/FileSink.h"

namespace qsx {

class BufferedDiskFile : public OutputFile {
public:
    bool Write(const char* data, size_t size) final;
    bool Room(size_t size, Window* window) final;
    void Put(const char* end) final { used_ = static_cast<size_t>(end - buffer_.get()); }
    bool Commit() final;
    void Discard() final;
    std::string Error() const final { return error_; }

protected:
    BufferedDiskFile();
    // The platform's part. WriteThrough writes all of data or fails; Finish
    // closes the complete file and hands it to the platform's pending list,
    // dropping it when that fails; Abandon drops the file. Failures set
    // error_ (the first one stays).
    virtual bool WriteThrough(const char* data, size_t size) = 0;
    virtual bool Finish() = 0;
    virtual void Abandon() = 0;

    std::string error_;

private:
    bool Flush();

    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
};

// The platform's files on disk: each written beside its destination, and
// those finished put in place together.
class DiskFiles final : public FileSystem {
public:
    DiskFiles();
    ~DiskFiles() override;
    std::unique_ptr<OutputFile> Open(const std::string& path, std::string* error) override;
    void Publish(const Published& done) override;
    void DropUnpublished() override;

    struct Pending;  // the platform's record of finished files

private:
    std::unique_ptr<Pending> pending_;
};

// The platform's file on disk for path, written beside it and, once
// finished, recorded in pending; null with *error set when it cannot be made.
std::unique_ptr<BufferedDiskFile> OpenDiskFile(const std::string& path, DiskFiles::Pending& pending,
                                               std::string* error);

}  // namespace qsx
