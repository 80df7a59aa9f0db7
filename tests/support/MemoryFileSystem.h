// Files kept in memory, with faults on demand: the k-th open or the k-th
// write (counted over all files) fails. A file is in `files` once it is
// committed, in place of what was there; one that fails or is dropped leaves
// that as it was, as on disk. Publish reports the committed files in order.
// Used by tests, fuzzing and benchmarks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "QsxExp/FileSink.h"

namespace qsx {

class MemoryFileSystem final : public FileSystem {
public:
    std::unique_ptr<OutputFile> Open(const std::string& path, std::string* error) override;
    void Publish(const Published& done) override;
    void DropUnpublished() override { committed_.clear(); }

    // 0 disables; counters restart with each call.
    void FailOpenAt(long k) { failOpenAt_ = k; opens = 0; }
    void FailWriteAt(long k) { failWriteAt_ = k; writes = 0; }

    std::map<std::string, std::string> files;  // the committed files
    long opens = 0;
    long writes = 0;

private:
    friend class MemoryFile;
    std::vector<std::string> committed_;  // not yet published
    long failOpenAt_ = 0;
    long failWriteAt_ = 0;
};

}  // namespace qsx
