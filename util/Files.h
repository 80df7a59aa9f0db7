// The few file operations that the plug-in and the host both need, each
// seeing and keeping every failure.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// <fcntl.h> with O_CLOEXEC, from the platform's folder (util/posix/ or
// util/win32/, on qsx_util's include path).
#include "OpenFlags.h"

namespace qsx::util {

// The system's text for an error number, in the user's language where the
// system has one; never the number alone.
std::string ErrnoText(int err);

// Owns one open file descriptor and closes it when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int fd_;
};

// Writes all of data, across short writes and interruptions. False with
// errno set when a write fails (ENOSPC when the system writes nothing).
bool WriteAll(int fd, const char* data, size_t size);
inline bool WriteAll(int fd, std::string_view data) { return WriteAll(fd, data.data(), data.size()); }

enum class ReadState { Absent, Read, Failed };

// Reads the whole of an open descriptor (a file, or a pipe as it comes) into
// out, refusing more than maxSize bytes. False with *error set on failure.
bool ReadAll(int fd, std::string& out, size_t maxSize, std::string* error);

// Reads the regular file at path into out. Absent when there is no such
// file; Failed with *error (the cause, without the path) otherwise.
ReadState ReadWholeFile(const std::string& path, std::string& out, size_t maxSize, std::string* error,
                        unsigned* mode = nullptr);

// Opens the regular file at path for reading in pieces, refused as
// ReadWholeFile refuses it; *fd is then the caller's.
ReadState OpenRegularFile(const std::string& path, Fd* fd, std::string* error, unsigned* mode = nullptr);

// Opens path for reading whatever it is there (a named pipe waits for its
// writer): the descriptor, or -1 with errno set.
int OpenToRead(const std::string& path);

// Reads up to size bytes of fd: the count read, 0 at the end, -1 with *error on failure.
long long ReadSome(int fd, char* into, size_t size, std::string* error);

// Writes up to size bytes to fd: the count written (0 when the system wrote
// nothing), -1 with errno set on failure.
long long WriteSome(int fd, const char* data, size_t size);

// The size in bytes of the open regular file fd, or -1 when it is unknown.
long long FileSize(int fd);

// What an AtomicFile's temporary adds to its destination's name, before the
// process id: "NAME.partial-PID", or "NAME.partial-PID-N".
inline constexpr std::string_view kTemporaryMark = ".partial-";

// Whether name (no folder) is a temporary that process pid made for an AtomicFile.
bool IsTemporaryOf(std::string_view name, unsigned long pid);

}  // namespace qsx::util
