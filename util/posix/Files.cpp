#include "util/posix/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "util/FileIdentity.h"
#include "util/Paths.h"

namespace qsx::util {

std::string ErrnoText(int err) {
    char buf[256];
#if defined(_GNU_SOURCE)
    // GNU strerror_r answers a pointer that may or may not be buf.
    return std::string(strerror_r(err, buf, sizeof buf));
#else
    if (strerror_r(err, buf, sizeof buf) != 0) return "error " + std::to_string(err);
    return std::string(buf);
#endif
}

void Fd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

ReadState OpenRegularFile(const std::string& path, Fd* fd, std::string* error, unsigned* mode) {
    // Never blocking: a named pipe at path is refused below, not waited on.
    fd->Reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd->Get() < 0) {
        if (errno == ENOENT) return ReadState::Absent;
        if (error) *error = ErrnoText(errno);
        return ReadState::Failed;
    }
    struct stat st {};
    if (::fstat(fd->Get(), &st) != 0) {
        if (error) *error = ErrnoText(errno);
        return ReadState::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = "not a regular file";
        return ReadState::Failed;
    }
    if (mode) *mode = static_cast<unsigned>(st.st_mode & 07777);
    return ReadState::Read;
}

int OpenToRead(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

long long WriteSome(int fd, const char* data, size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

long long FileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long ReadSome(int fd, char* into, size_t size, std::string* error) {
    for (;;) {
        const ssize_t n = ::read(fd, into, size);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (error) *error = ErrnoText(errno);
        return -1;
    }
}

namespace {

// "NAME.partial-PID", or with "-N" after it when that name is taken; NAME
// shortened where the whole would be longer than a file name may be.
std::string TemporaryName(const std::string& target, unsigned n) {
    const size_t start = LastComponentStart(target);
    static const long pid = static_cast<long>(::getpid());  // the process's own: no fork writes files
    std::string suffix = std::string(kTemporaryMark) + std::to_string(pid);
    if (n > 0) suffix += "-" + std::to_string(n);
    size_t nameLength = target.size() - start;
    if (nameLength + suffix.size() > NAME_MAX) nameLength = NAME_MAX > suffix.size() ? NAME_MAX - suffix.size() : 0;
    return target.substr(0, start + nameLength) + suffix;
}

void SyncFolderOf(const std::string& path) {
    Fd dir(::open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) (void)::fsync(dir.Get());
}

}  // namespace

bool ResolveLinks(const std::string& path, std::string* target) {
    std::string p = path;
    // The system's own limit on links followed in one lookup.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *target = std::move(p);
            return true;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
        if (n <= 0) {
            *target = std::move(p);
            return true;
        }
        link.resize(static_cast<size_t>(n));
        p = link[0] == '/' ? link : std::string(FolderOf(p)) + link;
    }
    errno = ELOOP;
    return false;
}

bool AtomicFile::Open(const std::string& path, std::string* error, mode_t newMode, Protected protectedFile) {
    Discard();
    auto fail = [&](int err) {
        if (error) *error = ErrnoText(err);
        Discard();
        return false;
    };
    // Standard output as it is: a terminal, a pipe, or a file the shell opened
    // (replacing that file would leave the shell's descriptor on the old one).
    if (path == "/dev/stdout") {
        fd_.Reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        return fd_.Get() >= 0 || fail(errno);
    }
    // One lstat answers for a path that is no link, or names nothing at all:
    // a run of many new files then looks at each once. Links, and paths the
    // lstat cannot see, take the long way.
    struct stat st {};
    bool exists = ::lstat(path.c_str(), &st) == 0;
    const bool direct = exists ? !S_ISLNK(st.st_mode) : errno == ENOENT;
    if (!direct) {
        exists = ::stat(path.c_str(), &st) == 0;
        if (!exists && errno != ENOENT) return fail(errno);
    }
    if (exists && S_ISDIR(st.st_mode)) return fail(EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        fd_.Reset(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        return fd_.Get() >= 0 || fail(errno);
    }
    if (direct)
        target_ = path;
    else if (!ResolveLinks(path, &target_))
        return fail(errno);
    if (!exists && IsDeviceFolder(DirName(target_))) return fail(ENXIO);
    if (exists && protectedFile == Protected::Refuse && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
        return fail(errno);
    for (unsigned n = 0;; ++n) {
        temporary_ = TemporaryName(target_, n);
        fd_.Reset(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newMode));
        if (fd_.Get() >= 0) break;
        const int err = errno;
        temporary_.clear();
        if (err != EEXIST || n >= 1000) return fail(err);
    }
    if (exists) {
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(fd_.Get(), st.st_uid, st.st_gid);
        if (::fchmod(fd_.Get(), st.st_mode & 07777) != 0) return fail(errno);
    }
    return true;
}

bool AtomicFile::Commit(std::string* error) {
    if (fd_.Get() < 0) {
        if (error) *error = ErrnoText(EBADF);
        return false;
    }
    int err = 0;
    if (!temporary_.empty() && ::fsync(fd_.Get()) != 0) err = errno;
    if (::close(fd_.Release()) != 0 && err == 0) err = errno;
    if (err == 0 && !temporary_.empty()) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            err = errno;
        } else {
            temporary_.clear();
            SyncFolderOf(target_);
        }
    }
    if (err != 0) {
        if (error) *error = ErrnoText(err);
        Discard();
        return false;
    }
    return true;
}

bool AtomicFile::Finish(FinishedFile* out, std::string* error) {
    if (fd_.Get() < 0) {
        if (error) *error = ErrnoText(EBADF);
        return false;
    }
    if (::close(fd_.Release()) != 0) {
        if (error) *error = ErrnoText(errno);
        Discard();
        return false;
    }
    out->temporary = std::move(temporary_);
    out->target = std::move(target_);
    temporary_.clear();
    target_.clear();
    return true;
}

const PublishCalls& SystemPublishCalls() {
    static const PublishCalls calls{::syncfs, ::rename, ::fsync};
    return calls;
}

void PublishTogether(const std::vector<FinishedFile>& files,
                     const std::function<void(size_t index, const std::string& error)>& done,
                     const PublishCalls& calls) {
    // The data of every temporary reaches the disk before any rename can: a
    // rename that outlives a power cut then names a whole file.
    std::vector<std::string> errors(files.size());
    std::vector<dev_t> synced;
    std::vector<std::pair<dev_t, int>> syncErrors;
    std::string lastFolder;  // files of one folder come together: one look at it
    struct stat st {};
    int lastError = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].temporary.empty()) continue;
        const std::string folder = DirName(files[i].temporary);
        if (folder != lastFolder) {
            lastFolder = folder;
            lastError = ::stat(folder.c_str(), &st) == 0 ? 0 : errno;
        }
        if (lastError != 0) {
            errors[i] = ErrnoText(lastError);
            continue;
        }
        int err = 0;
        bool seen = false;
        for (const dev_t d : synced) seen = seen || d == st.st_dev;
        if (!seen) {
            Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (dir.Get() < 0 || calls.syncfs(dir.Get()) != 0) err = errno;
            synced.push_back(st.st_dev);
            if (err != 0) syncErrors.emplace_back(st.st_dev, err);
        }
        for (const auto& [dev, e] : syncErrors)
            if (dev == st.st_dev) errors[i] = ErrnoText(e);
    }
    // Each file is reported as it goes in place, so that a run interrupted
    // in between names exactly the files that are in place.
    std::vector<std::string> folders;
    for (size_t i = 0; i < files.size(); ++i) {
        const FinishedFile& f = files[i];
        if (!f.temporary.empty()) {
            if (errors[i].empty() && calls.rename(f.temporary.c_str(), f.target.c_str()) != 0)
                errors[i] = ErrnoText(errno);
            if (!errors[i].empty()) {
                ::unlink(f.temporary.c_str());
            } else {
                std::string folder = DirName(f.target);
                bool seen = false;
                for (const std::string& d : folders) seen = seen || d == folder;
                if (!seen) folders.push_back(std::move(folder));
            }
        }
        done(i, errors[i]);
    }
    // The renames themselves, once per folder.
    for (const std::string& folder : folders) {
        Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Get() >= 0) (void)calls.fsync(dir.Get());
    }
}

void DropFinished(const std::vector<FinishedFile>& files) {
    for (const FinishedFile& f : files)
        if (!f.temporary.empty()) ::unlink(f.temporary.c_str());
}

void AtomicFile::Discard() {
    fd_.Reset();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    target_.clear();
}

bool AtomicFile::Write(const char* data, size_t size, std::string* error) {
    if (WriteAll(fd_.Get(), data, size)) return true;
    if (error) *error = ErrnoText(errno);
    return false;
}

bool PublishFile(const std::string& path, const char* data, size_t size, std::string* error) {
    AtomicFile file;
    if (!file.Open(path, error)) return false;
    if (!WriteAll(file.Descriptor(), data, size)) {
        if (error) *error = ErrnoText(errno);
        return false;
    }
    return file.Commit(error);
}

size_t RemoveTemporariesOf(const std::string& folder, unsigned long pid) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    size_t removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (IsTemporaryOf(e->d_name, pid) && ::unlinkat(::dirfd(dir), e->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace qsx::util
