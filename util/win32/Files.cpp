// The file helpers that the Windows build uses, on the C library's
// descriptors; paths are UTF-8 and reach the system as wide characters.
#include "util/Files.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "util/win32/Wide.h"

namespace qsx::util {

std::string ErrnoText(int err) {
    const char* text = std::strerror(err);
    return text && *text ? std::string(text) : "error " + std::to_string(err);
}

void Fd::Reset(int fd) {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        const int n = ::_write(fd, data, chunk);
        if (n < 0) return false;
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
        const int n = ::_read(fd, buf, sizeof buf);
        if (n < 0) {
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

ReadState OpenRegularFile(const std::string& path, Fd* fd, std::string* error, unsigned* mode) {
    std::wstring wide;
    if (!Utf8ToWide(path, &wide)) {
        if (error) *error = "the name is not valid UTF-8";
        return ReadState::Failed;
    }
    fd->Reset(::_wopen(wide.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd->Get() < 0) {
        if (errno == ENOENT) return ReadState::Absent;
        if (error) *error = ErrnoText(errno);
        return ReadState::Failed;
    }
    struct _stat64 st {};
    if (::_fstat64(fd->Get(), &st) != 0) {
        if (error) *error = ErrnoText(errno);
        return ReadState::Failed;
    }
    if ((st.st_mode & _S_IFMT) != _S_IFREG) {
        if (error) *error = "not a regular file";
        return ReadState::Failed;
    }
    if (mode) *mode = static_cast<unsigned>(st.st_mode & 0777);
    return ReadState::Read;
}

long long ReadSome(int fd, char* into, size_t size, std::string* error) {
    const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    const int n = ::_read(fd, into, chunk);
    if (n < 0 && error) *error = ErrnoText(errno);
    return n;
}

ReadState ReadWholeFile(const std::string& path, std::string& out, size_t maxSize, std::string* error,
                        unsigned* mode) {
    out.clear();
    Fd fd;
    const ReadState state = OpenRegularFile(path, &fd, error, mode);
    if (state != ReadState::Read) return state;
    return ReadAll(fd.Get(), out, maxSize, error) ? ReadState::Read : ReadState::Failed;
}

}  // namespace qsx::util
