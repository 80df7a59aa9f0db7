// The plug-in loader on Windows: qsexp.dle by its full path (never a bare
// name, which the system would also look for in the current folder), its
// version record from its version resource.
#include "qsxhost/app/PluginLoader.h"

#include <cstdio>

#include "util/win32/Wide.h"

#include <windows.h>

namespace qsxhost {
namespace {

bool FullPath(const std::string& path, std::wstring* out) {
    std::wstring wide;
    if (!qsx::util::Utf8ToWide(path, &wide) || wide.empty()) return false;
    std::wstring buf(32768, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
    if (n == 0 || n >= buf.size()) return false;
    buf.resize(n);
    *out = std::move(buf);
    return true;
}

template <typename Fn>
Fn Entry(void* module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)));
}

}  // namespace

Plugin::~Plugin() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

std::unique_ptr<Plugin> Plugin::Load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    std::wstring full;
    if (!FullPath(path, &full)) return fail("not a usable file name");
    // Its own folder first for whatever it imports; the current folder not at all.
    HMODULE h = LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) return fail(qsx::util::WindowsErrorText(GetLastError()));
    std::unique_ptr<Plugin> p(new Plugin());
    p->handle_ = h;
    p->path_ = path;
    auto describe = Entry<host::LibDescriptionFn>(h, "LibDescription");
    auto count = Entry<host::LibNumberClassesFn>(h, "LibNumberClasses");
    auto classDesc = Entry<host::LibClassDescFn>(h, "LibClassDesc");
    auto version = Entry<host::LibVersionFn>(h, "LibVersion");
    if (const std::string why = p->TakeExports(describe, count, classDesc, version); !why.empty()) return fail(why);
    return p;
}

std::vector<std::pair<std::string, std::string>> Plugin::VersionRecord() const {
    std::vector<std::pair<std::string, std::string>> out;
    std::wstring full;
    if (!FullPath(path_, &full)) return out;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(full.c_str(), &ignored);
    if (size == 0) return out;
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(full.c_str(), 0, size, data.data())) return out;
    struct Translation {
        WORD language, codePage;
    };
    Translation* t = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t), &len) ||
        len < sizeof(Translation))
        return out;
    wchar_t block[64];
    std::swprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\", t->language, t->codePage);
    for (const wchar_t* key : {L"FileVersion", L"ProductVersion", L"CompanyName", L"FileDescription", L"InternalName",
                               L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename", L"ProductName"}) {
        wchar_t* value = nullptr;
        UINT n = 0;
        if (!VerQueryValueW(data.data(), (std::wstring(block) + key).c_str(), reinterpret_cast<void**>(&value), &n))
            continue;
        out.emplace_back(qsx::util::WideToUtf8(key),
                         value && n > 0 ? qsx::util::WideToUtf8(std::wstring_view(value, n - 1)) : std::string());
    }
    return out;
}

std::vector<std::string> ModuleSearchPath(const std::string& fileName) {
    std::wstring exe(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n == 0 || n >= exe.size()) return {fileName};
    exe.resize(n);
    exe.erase(exe.find_last_of(L"\\/") + 1);
    return {qsx::util::WideToUtf8(exe) + fileName};
}

std::vector<std::string> PluginSearchPath(const std::string& explicitPath) {
    if (!explicitPath.empty()) return {explicitPath};
    return ModuleSearchPath("qsexp.dle");
}

}  // namespace qsxhost
