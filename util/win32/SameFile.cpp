#include "util/SameFile.h"

#include "util/win32/Wide.h"

#include <windows.h>

namespace qsx::util {

// The file's volume and index where it exists; else the full paths, without
// regard to letter case, as the file system names files.
bool SameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
        std::wstring wide;
        if (!Utf8ToWide(path, &wide)) return false;
        const HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, info) != 0;
        CloseHandle(h);
        return ok;
    };
    auto full = [](const std::string& path) {
        std::wstring wide;
        if (!Utf8ToWide(path, &wide)) return std::wstring();
        wchar_t buf[32768];
        const DWORD n = GetFullPathNameW(wide.c_str(), 32768, buf, nullptr);
        std::wstring out = n > 0 && n < 32768 ? std::wstring(buf, n) : wide;
        CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
        return out;
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (identity(a, &ia) && identity(b, &ib))
        return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
               ia.nFileIndexLow == ib.nFileIndexLow;
    return full(a) == full(b);
}

}  // namespace qsx::util
