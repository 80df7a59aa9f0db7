#include "qsxhost/app/OutputGate.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "util/FileIdentity.h"
#include "util/Paths.h"
#include "util/Text.h"
// The platform's (util/posix/ or util/win32/), for ResolveLinks.
#include "AtomicFile.h"

namespace qsxhost {

void OutputGate::AddInput(const std::string& path, std::string kind) {
    if (!path.empty()) inputs_.push_back({path, std::move(kind)});
}

void OutputGate::AddHostFile(const std::string& path, std::string kind) {
    if (!path.empty()) hostFiles_.push_back({path, std::move(kind)});
}

std::string OutputGate::Shown(const Entry& e) const {
    if (!standardOutput_.empty() && e.path == standardOutput_) return "standard output";
    return "the " + e.kind + " " + e.path;
}

std::string OutputGate::Refusal(const std::string& path, const std::string& kind) const {
    const std::string key = qsx::util::FileIdentity(path);
    for (const Entry& in : inputs_)
        if (qsx::util::FileIdentity(in.path) == key)
            return Shown({path, kind}) + " would overwrite " + Shown(in) + "; nothing written";
    return "";
}

std::string OutputGate::Approve(const host::PlannedFile* files, size_t count) {
    std::vector<Entry> outputs;
    outputs.reserve(count + hostFiles_.size());
    for (size_t i = 0; i < count; ++i) outputs.push_back({files[i].path, files[i].kind});
    outputs.insert(outputs.end(), hostFiles_.begin(), hostFiles_.end());

    if (!standardOutput_.empty())
        for (const Entry& o : outputs)
            if (o.path != standardOutput_ && o.kind != std::string("preview picture") && o.kind != "extracted texture")
                return "standard output takes the script alone, not " + Shown(o) +
                       " (the header, the animation file and one script per node are files); nothing written";

    // Keys of the files seen so far: the inputs first, then each output.
    qsx::util::FolderCache folders;
    std::unordered_map<std::string, const Entry*> seen;
    std::unordered_map<std::string, bool> existed;
    std::vector<qsx::util::PathIdentity> ids;
    ids.reserve(outputs.size());
    for (const Entry& in : inputs_) seen.emplace(qsx::util::IdentifyPath(in.path, &folders).key, &in);
    for (const Entry& o : outputs) {
        const qsx::util::PathIdentity id = qsx::util::IdentifyPath(o.path, &folders);
        if (id.newInDeviceFolder)
            return Shown(o) + " would be a new file in /dev, where only devices belong; nothing written";
        if (!id.device.empty())
            return Shown(o) + " is the device " + id.device + ", not a file; nothing written";
        const auto [at, fresh] = seen.emplace(id.key, &o);
        if (!fresh) return Shown(o) + " would overwrite " + Shown(*at->second) + "; nothing written";
        existed[o.path] = id.exists;
        ids.push_back(id);
    }

    if (std::string refusal = SpaceRefusal(outputs, ids, files, count); !refusal.empty()) return refusal;

    destinations_.clear();
    for (const Entry& o : outputs) destinations_.push_back(o.path);
    existed_ = std::move(existed);
    if (onApproved_) onApproved_(destinations_);
    return "";
}

// The files of a run share the space of their file system, so their
// estimates are summed per file system. A file replaced gives its old bytes
// back only when the new one is renamed over it, once all are written: until
// then both take room, and the old size is not counted as free.
std::string OutputGate::SpaceRefusal(const std::vector<Entry>& outputs, const std::vector<qsx::util::PathIdentity>& ids,
                                     const host::PlannedFile* files, size_t count) {
    struct Use {
        std::string fileSystem;
        uint64_t bytes = 0, free = 0;
        std::vector<std::pair<uint64_t, const Entry*>> files;
    };
    const auto plus = [](uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; };
    std::vector<Use> uses;  // few: one per file system
    qsx::util::SpaceCache folders;
    estimated_ = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t bytes = files[i].estimatedBytes;
        estimated_ = plus(estimated_, bytes);
        if (bytes == 0) continue;
        const qsx::util::FreeSpace space =
            spaceQuery_ ? spaceQuery_(outputs[i].path) : qsx::util::SpaceFor(outputs[i].path, &folders, &ids[i]);
        if (!space.known) continue;
        auto use = std::find_if(uses.begin(), uses.end(), [&](const Use& u) { return u.fileSystem == space.fileSystem; });
        if (use == uses.end()) use = uses.insert(uses.end(), Use{space.fileSystem, 0, space.bytes, {}});
        use->bytes = plus(use->bytes, bytes);
        use->files.emplace_back(bytes, &outputs[i]);
    }
    for (Use& u : uses) {
        if (u.bytes <= u.free) continue;
        // The largest first: the one to do something about.
        std::stable_sort(u.files.begin(), u.files.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        std::string who = Shown(*u.files[0].second);
        if (u.files.size() == 2) who += " and " + Shown(*u.files[1].second);
        if (u.files.size() > 2)
            who += " and " + qsx::util::Count(static_cast<long long>(u.files.size() - 1), "other file", "other files");
        return who + " would take about " + qsx::util::ByteSize(u.bytes) + ", but " +
               (u.files.size() > 1 ? "their" : "its") + " file system has " + qsx::util::ByteSize(u.free) +
               " free; nothing written";
    }
    return "";
}

void OutputGate::Written(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    written_.push_back(path);
}

std::vector<std::string> OutputGate::WrittenFiles() const {
    // An interruption asks while the command's thread is stopped, perhaps
    // holding the lock: it waits a little, then answers what it can.
    for (int i = 0; i < 100; ++i) {
        if (lock_.try_lock()) {
            std::vector<std::string> copy = written_;
            lock_.unlock();
            return copy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {};
}

bool OutputGate::ExistedBefore(const std::string& path) const {
    const auto it = existed_.find(path);
    return it != existed_.end() && it->second;
}

std::vector<std::string> TemporaryFolders(const std::vector<std::string>& destinations, const std::string& settingsPath) {
    std::vector<std::string> folders;
    auto add = [&folders](std::string folder) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(std::move(folder));
    };
    std::vector<std::string> paths = destinations;
    paths.push_back(settingsPath);
    for (const std::string& p : paths) {
        if (p.empty()) continue;
        add(qsx::util::DirName(p));
        std::string target;
        if (qsx::util::ResolveLinks(p, &target) && target != p) add(qsx::util::DirName(target));
    }
    return folders;
}

}  // namespace qsxhost
