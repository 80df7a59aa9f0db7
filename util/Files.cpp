// The file helpers that are the same on every platform, on the platform's
// ReadSome, WriteSome and FileSize.
#include "util/Files.h"

#include <cerrno>
#include <cstdint>

namespace qsx::util {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const long long n = WriteSome(fd, data, size);
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
        const long long n = ReadSome(fd, buf, sizeof buf, error);
        if (n < 0) return false;
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
    Fd fd;
    const ReadState state = OpenRegularFile(path, &fd, error, mode);
    if (state != ReadState::Read) return state;
    // Room for the whole file at once: grown by doubling, a large file would
    // need half as much again beside it, more than 32 bits can address.
    const long long size = FileSize(fd.Get());
    if (size > 0 && static_cast<unsigned long long>(size) < maxSize && static_cast<unsigned long long>(size) < SIZE_MAX - 1)
        out.reserve(static_cast<size_t>(size) + 1);
    return ReadAll(fd.Get(), out, maxSize, error) ? ReadState::Read : ReadState::Failed;
}

bool IsTemporaryOf(std::string_view name, unsigned long pid) {
    const std::string mark = std::string(kTemporaryMark) + std::to_string(pid);
    const size_t at = name.rfind(mark);
    if (at == std::string_view::npos || at == 0) return false;
    std::string_view rest = name.substr(at + mark.size());
    if (rest.empty()) return true;
    if (rest[0] != '-' || rest.size() < 2) return false;
    for (char c : rest.substr(1))
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace qsx::util
