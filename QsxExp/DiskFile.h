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
    bool Commit() final;
    void Discard() final;
    std::string Error() const final { return error_; }

protected:
    BufferedDiskFile();
    // The platform's part. WriteThrough writes all of data or fails; Publish
    // syncs, closes and puts the file in place, dropping it when any of that
    // fails; Abandon drops the file. Failures set error_ (the first one stays).
    virtual bool WriteThrough(const char* data, size_t size) = 0;
    virtual bool Publish() = 0;
    virtual void Abandon() = 0;

    std::string error_;

private:
    bool Flush();

    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
};

// The platform's file on disk for path, written beside it; null with *error
// set when it cannot be made.
std::unique_ptr<BufferedDiskFile> OpenDiskFile(const std::string& path, std::string* error);

}  // namespace qsx
