// Every file a run writes passes this gate before anything is written: the
// exporter's files as it plans them, and the host's own (the preview picture,
// extracted textures). A file that is one of the run's inputs, or another
// file of the same run (also through "./", links or hard links), or a new
// file in /dev, refuses the run with both files named. The gate then keeps
// what became of each file, for the report and for an interruption. Files
// whose estimated sizes together would not fit in the space free on their
// file system refuse the run too, before a byte is written.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Interface.h"
#include "util/FileIdentity.h"

namespace qsxhost {

class OutputGate {
public:
    // A file the run reads ("scene file", "settings file", ...).
    void AddInput(const std::string& path, std::string kind);
    // A file the host writes after the export ("preview picture", ...).
    void AddHostFile(const std::string& path, std::string kind);
    // The script goes to standard output under this path: shown as "standard
    // output", and it takes the script alone.
    void SetStandardOutput(std::string path) { standardOutput_ = std::move(path); }

    // Before the scene is read: a file the run will surely write against the
    // inputs alone; the message, or "".
    std::string Refusal(const std::string& path, const std::string& kind) const;

    // The exporter's planned files with the host's: the first collision as a
    // message naming both files, or "" when the run may write them all. Once
    // approved, the paths are the run's destinations.
    std::string Approve(const host::PlannedFile* files, size_t count);
    // The approved files' estimates together: what the run is about to write.
    uint64_t EstimatedBytes() const { return estimated_; }
    // Where Approve learns the space free for a file (util's SpaceFor unless told).
    void SetSpaceQuery(std::function<qsx::util::FreeSpace(const std::string& path)> q) { spaceQuery_ = std::move(q); }
    // Told once the run's destinations are known (every file it may write).
    void OnApproved(std::function<void(const std::vector<std::string>& destinations)> f) { onApproved_ = std::move(f); }
    const std::vector<std::string>& Destinations() const { return destinations_; }

    // A file of the run is in place; safe from any thread.
    void Written(const std::string& path);
    std::vector<std::string> WrittenFiles() const;
    // Whether a file stood at path when the run's files were approved.
    bool ExistedBefore(const std::string& path) const;

private:
    struct Entry {
        std::string path, kind;
    };
    std::string Shown(const Entry& e) const;
    // The first file system the planned files would not fit on, as a refusal; "".
    std::string SpaceRefusal(const std::vector<Entry>& outputs, const std::vector<qsx::util::PathIdentity>& ids,
                             const host::PlannedFile* files, size_t count);

    std::vector<Entry> inputs_, hostFiles_;
    std::string standardOutput_;
    std::vector<std::string> destinations_;
    std::unordered_map<std::string, bool> existed_;
    std::function<void(const std::vector<std::string>&)> onApproved_;
    std::function<qsx::util::FreeSpace(const std::string&)> spaceQuery_;
    uint64_t estimated_ = 0;
    mutable std::mutex lock_;
    std::vector<std::string> written_;
};

// The folders a run's temporaries may be in: beside each destination, beside
// the target of a destination that is a link, and beside the settings file
// ("" when there is none), each once.
std::vector<std::string> TemporaryFolders(const std::vector<std::string>& destinations, const std::string& settingsPath);

}  // namespace qsxhost
