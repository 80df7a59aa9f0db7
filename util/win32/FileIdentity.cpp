#include "util/FileIdentity.h"

#include <cwchar>

#include "util/win32/AtomicFile.h"
#include "util/win32/Wide.h"

#include <windows.h>

namespace qsx::util {

// The file's volume and index where it exists; else its full path in capitals,
// as the file system names files without regard to letter case.
PathIdentity IdentifyPath(const std::string& path, FolderCache*) {
    PathIdentity id;
    id.device = ReservedDeviceName(path);
    if (!id.device.empty()) {
        id.key = "device " + id.device;
        return id;
    }
    std::wstring wide;
    if (!Utf8ToWide(path, &wide)) {
        id.key = "path " + path;
        return id;
    }
    const HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        if (ok) {
            id.exists = true;
            id.key = "file " + std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
                     ":" + std::to_string(info.nFileIndexLow);
            return id;
        }
    }
    static wchar_t buf[32768];
    const DWORD n = GetFullPathNameW(wide.c_str(), 32768, buf, nullptr);
    std::wstring full = n > 0 && n < 32768 ? std::wstring(buf, n) : wide;
    CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    id.key = "path " + WideToUtf8(full);
    return id;
}

FreeSpace SpaceFor(const std::string& path, SpaceCache* cache, const PathIdentity*) {
    std::wstring wide;
    if (!Utf8ToWide(path, &wide)) return {};
    std::wstring full(32768, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return {};
    full.resize(n);
    const std::string folder = WideToUtf8(full.substr(0, full.find_last_of(L"\\/") + 1));
    if (cache)
        if (const auto it = cache->find(folder); it != cache->end()) return it->second;
    FreeSpace space;
    std::wstring volume(full.size() + 1, L'\0');
    ULARGE_INTEGER available{};
    if (GetVolumePathNameW(full.c_str(), volume.data(), static_cast<DWORD>(volume.size())) &&
        GetDiskFreeSpaceExW(volume.c_str(), &available, nullptr, nullptr)) {
        volume.resize(wcslen(volume.c_str()));
        CharUpperBuffW(volume.data(), static_cast<DWORD>(volume.size()));
        space.fileSystem = "volume " + WideToUtf8(volume);
        space.bytes = available.QuadPart;
        space.known = true;
    }
    if (cache) cache->emplace(folder, space);
    return space;
}

// Windows has no device folder that a file name could reach.
bool IsDeviceFolder(const std::string&) { return false; }

}  // namespace qsx::util
