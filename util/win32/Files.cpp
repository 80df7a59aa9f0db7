// The file helpers that the Windows build uses, on the C library's
// descriptors; paths are UTF-8 and reach the system as wide characters.
// Files are put in place as on POSIX systems: beside the destination, then
// moved over it.
#include "util/Files.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "util/Paths.h"
#include "util/Text.h"
#include "util/win32/AtomicFile.h"
#include "util/win32/Wide.h"

#include <windows.h>

namespace qsx::util {

std::string ErrnoText(int err) {
    const char* text = std::strerror(err);
    return text && *text ? std::string(text) : "error " + std::to_string(err);
}

void Fd::Reset(int fd) {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = fd;
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

int OpenToRead(const std::string& path) {
    std::wstring wide;
    if (!Utf8ToWide(path, &wide)) {
        errno = EILSEQ;
        return -1;
    }
    return ::_wopen(wide.c_str(), O_RDONLY | O_CLOEXEC);
}

long long WriteSome(int fd, const char* data, size_t size) {
    return ::_write(fd, data, size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size));
}

long long FileSize(int fd) {
    struct _stat64 st {};
    return ::_fstat64(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long ReadSome(int fd, char* into, size_t size, std::string* error) {
    const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    const int n = ::_read(fd, into, chunk);
    if (n < 0 && error) *error = ErrnoText(errno);
    return n;
}

namespace {

// The temporaries' mark is ASCII: widened character by character.
std::wstring WideMark() { return std::wstring(kTemporaryMark.begin(), kTemporaryMark.end()); }

bool Fail(std::string* error, unsigned long code) {
    if (error) *error = WindowsErrorText(code);
    return false;
}

// The system's name for the file a handle reaches, with the "\\?\" that
// lets it be longer than MAX_PATH.
bool FinalPath(const std::wstring& path, std::wstring* out) {
    const HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::wstring buf(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= buf.size()) return false;
    buf.resize(n);
    *out = std::move(buf);
    return true;
}

}  // namespace

std::string ReservedDeviceName(std::string_view path) {
    if (path.size() > 4 && (path.substr(0, 4) == "\\\\.\\" || path.substr(0, 4) == "//./"))
        return ToAsciiUpper(path.substr(4));
    std::string_view name = path.substr(LastComponentStart(path));
    if (name.size() >= 2 && name[1] == ':') name.remove_prefix(2);  // "nul:" and "C:nul" as well
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    const std::string upper = ToAsciiUpper(name);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (upper == device) return upper;
    if (upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) && upper[3] >= '1' &&
        upper[3] <= '9')
        return upper;
    return "";
}

bool ResolveLinks(const std::string& path, std::string* target) {
    std::wstring wide, final;
    if (!Utf8ToWide(path, &wide) || wide.empty()) return false;
    if (!FinalPath(wide, &final)) {
        *target = path;
        return true;
    }
    *target = WideToUtf8(final.rfind(L"\\\\?\\", 0) == 0 && final.rfind(L"\\\\?\\UNC\\", 0) != 0 ? final.substr(4) : final);
    return true;
}

bool AtomicFile::Open(const std::string& path, std::string* error) {
    Discard();
    if (!Utf8ToWide(path, &target_) || target_.empty()) {
        if (error) *error = "the name is not valid UTF-8";
        return false;
    }
    if (const std::string device = ReservedDeviceName(path); !device.empty()) {
        if (error) *error = "the name is the device " + device + ", not a file";
        target_.clear();
        return false;
    }
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    keptAttributes_ = 0;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (error) *error = ErrnoText(EISDIR);
            target_.clear();
            return false;
        }
        // Written where the links lead: a link stays a link to the new file.
        std::wstring final;
        if (FinalPath(target_, &final)) target_ = std::move(final);
        const DWORD at = GetFileAttributesW(target_.c_str());
        if (at != INVALID_FILE_ATTRIBUTES && (at & FILE_ATTRIBUTE_READONLY)) {
            target_.clear();
            return Fail(error, ERROR_ACCESS_DENIED);
        }
        if (at != INVALID_FILE_ATTRIBUTES)
            keptAttributes_ = at & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    }
    const std::wstring stem = target_ + WideMark() + std::to_wstring(GetCurrentProcessId());
    for (unsigned n = 0;; ++n) {
        temporary_ = n == 0 ? stem : stem + L"-" + std::to_wstring(n);
        // Shared for deletion: an interruption removes it while it is still open.
        const HANDLE h = CreateFileW(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file_ = h;
            return true;
        }
        const DWORD err = GetLastError();
        temporary_.clear();
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || n >= 1000) {
            target_.clear();
            return Fail(error, err);
        }
    }
}

bool AtomicFile::Write(const char* data, size_t size, std::string* error) {
    while (size > 0) {
        const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file_, data, chunk, &written, nullptr)) return Fail(error, GetLastError());
        if (written == 0) return Fail(error, ERROR_DISK_FULL);
        data += written;
        size -= written;
    }
    return true;
}

bool AtomicFile::Finish(FinishedFile* out, std::string* error) {
    bool ok = true;
    if (!FlushFileBuffers(file_)) ok = Fail(error, GetLastError());
    const HANDLE h = std::exchange(file_, nullptr);
    if (!CloseHandle(h) && ok) ok = Fail(error, GetLastError());
    // The marks the earlier file had, on the new one before it takes its place.
    if (ok && keptAttributes_ != 0 && !SetFileAttributesW(temporary_.c_str(), keptAttributes_))
        ok = Fail(error, GetLastError());
    if (!ok) {
        Discard();
        return false;
    }
    out->temporary = std::exchange(temporary_, std::wstring());
    out->target = std::exchange(target_, std::wstring());
    return true;
}

void AtomicFile::Discard() {
    if (file_) CloseHandle(std::exchange(file_, nullptr));
    if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
    temporary_.clear();
    target_.clear();
}

void PublishTogether(const std::vector<FinishedFile>& files,
                     const std::function<void(size_t index, const std::string& error)>& done) {
    for (size_t i = 0; i < files.size(); ++i) {
        const FinishedFile& f = files[i];
        if (MoveFileExW(f.temporary.c_str(), f.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            done(i, "");
            continue;
        }
        const std::string why = WindowsErrorText(GetLastError());
        DeleteFileW(f.temporary.c_str());
        done(i, why);
    }
}

void DropFinished(const std::vector<FinishedFile>& files) {
    for (const FinishedFile& f : files) DeleteFileW(f.temporary.c_str());
}

size_t RemoveTemporariesOf(const std::string& folder, unsigned long pid) {
    std::wstring dir;
    if (!Utf8ToWide(folder.empty() ? std::string(".") : folder, &dir)) return 0;
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    WIN32_FIND_DATAW data;
    const HANDLE h = FindFirstFileW((dir + L"*" + WideMark() + L"*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return 0;
    size_t removed = 0;
    do {
        if (IsTemporaryOf(WideToUtf8(data.cFileName), pid) && DeleteFileW((dir + data.cFileName).c_str())) ++removed;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return removed;
}

}  // namespace qsx::util
