#include "util/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qsx::util {

std::string ErrnoText(int err) {
    char buf[256];
#if defined(_GNU_SOURCE) && !defined(__MINGW32__)
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

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::string& out, size_t maxSize, std::string* error) {
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = ErrnoText(errno);
            return false;
        }
        if (n == 0) return true;
        if (out.size() + static_cast<size_t>(n) > maxSize) {
            if (error) *error = "the file is too large";
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

ReadState ReadWholeFile(const std::string& path, std::string& out, size_t maxSize, std::string* error,
                        unsigned* mode) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT) return ReadState::Absent;
        if (error) *error = ErrnoText(errno);
        return ReadState::Failed;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        if (error) *error = ErrnoText(errno);
        return ReadState::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = "not a regular file";
        return ReadState::Failed;
    }
    if (mode) *mode = static_cast<unsigned>(st.st_mode & 07777);
    return ReadAll(fd.Get(), out, maxSize, error) ? ReadState::Read : ReadState::Failed;
}

}  // namespace qsx::util
