// The file helpers that are the same on every platform, on the platform's
// ReadSome, WriteSome and FileSize.
#include "util/Files.h"

#include <cerrno>
#include <new>

namespace qsx::util {
namespace {

// Said, naming the file, where a 32-bit program would otherwise end on a
// file larger than its memory.
constexpr const char* kNoRoom = "the file does not fit in the memory this program can address";

bool Append(std::string& text, const char* data, size_t size) {
    if (size > text.max_size() - text.size()) return false;
    try {
        text.append(data, size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool Reserve(std::string& text, unsigned long long size) {
    if (size >= text.max_size()) return false;
    try {
        text.reserve(static_cast<size_t>(size) + 1);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

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
        if (!Append(out, buf, static_cast<size_t>(n))) {
            std::string().swap(out);
            if (error) *error = kNoRoom;
            return false;
        }
    }
}

ReadState ReadWholeFile(const std::string& path, std::string& out, size_t maxSize, std::string* error, unsigned* mode) {
    out.clear();
    Fd fd;
    const ReadState state = OpenRegularFile(path, &fd, error, mode);
    if (state != ReadState::Read) return state;
    // Room for the whole file at once: grown by doubling, a large file would
    // need half as much again beside it, more than 32 bits can address.
    const long long size = FileSize(fd.Get());
    if (size > 0 && static_cast<unsigned long long>(size) < maxSize &&
        !Reserve(out, static_cast<unsigned long long>(size))) {
        if (error) *error = kNoRoom;
        return ReadState::Failed;
    }
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
