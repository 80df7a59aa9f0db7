#include "qsxhost/app/win32/Console.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "qsxhost/app/Messages.h"

#include <windows.h>
#undef FormatMessage  // the command's own, not the macro for FormatMessageA/W

namespace qsxhost {

bool WriteWhole(void* handle, std::string_view text) {
    // Old consoles take no more than 64 KB in one write.
    constexpr size_t kPiece = 16384;
    while (!text.empty()) {
        size_t n = text.size() < kPiece ? text.size() : kPiece;
        while (n < text.size() && n > 1 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle), text.data(), static_cast<DWORD>(n), &written, nullptr) ||
            written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

bool WriteText(std::FILE* stream, std::string_view text) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    // What the C library holds goes first; a console needs no "\r" before "\n".
    std::fflush(stream);
    if (WriteWhole(h, text)) return true;
    errno = EIO;
    return false;
}

}  // namespace qsxhost
