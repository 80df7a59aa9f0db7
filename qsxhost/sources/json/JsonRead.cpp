// The JSON scene source's entry points: a document from a file, a pipe or
// memory, read whole into a buffer of its own and read from there in place.
#include "qsxhost/sources/json/JsonScene.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "qsxhost/sources/json/JsonReader.h"
#include "util/Files.h"

namespace qsxhost {

namespace {

// A document's text, followed by zero bytes: the NUL the parser stops at, and
// a few more for its check of UTF-8, which takes the whole of a sequence
// before it looks at the bytes (a lead byte at the end reads up to 3 past it).
constexpr size_t kPadding = 4;

struct Free {
    void operator()(char* p) const { std::free(p); }
};
using Text = std::unique_ptr<char, Free>;

// Room for len bytes, keeping those already there (a large block grows in place).
void Resize(Text& text, size_t len) {
    char* p = static_cast<char*>(std::realloc(text.get(), len + kPadding));
    if (!p) throw std::bad_alloc();
    static_cast<void>(text.release());
    text.reset(p);
}

// The document text[0, len), read in place; the text goes once the scene is read.
std::unique_ptr<SceneSource> Read(Text text, size_t len, std::string* error, std::vector<std::string>* warnings) {
    std::memset(text.get() + len, 0, kPadding);
    auto scene = std::make_unique<json::JsonScene>();
    if (!json::ReadDocument(*scene, text.get(), len, error, warnings)) return nullptr;
    return scene;
}

// A document already in memory.
std::unique_ptr<SceneSource> FromBytes(std::string_view json, std::string* error, std::vector<std::string>* warnings) {
    try {
        Text text;
        Resize(text, json.size());
        if (!json.empty()) std::memcpy(text.get(), json.data(), json.size());
        return Read(std::move(text), json.size(), error, warnings);
    } catch (const std::bad_alloc&) {
        if (error) *error = kOutOfMemory;
        return nullptr;
    }
}

// A document in the file at path.
std::unique_ptr<SceneSource> FromFile(const std::string& path, std::string* error, std::vector<std::string>* warnings) {
    auto fail = [&](const std::string& what) -> std::unique_ptr<SceneSource> {
        if (error) *error = what;
        return nullptr;
    };
    const qsx::util::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return fail(qsx::util::ErrnoText(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return fail(qsx::util::ErrnoText(errno));
    if (S_ISDIR(st.st_mode)) return fail(qsx::util::ErrnoText(EISDIR));
    try {
        // A regular file is read at the size it has now; anything else (a pipe)
        // grows as it comes.
        const bool sized = S_ISREG(st.st_mode) && st.st_size > 0;
        size_t cap = sized ? static_cast<size_t>(st.st_size) : 65536;
        Text text;
        Resize(text, cap);
        size_t len = 0;
        for (;;) {
            if (len == cap) {
                if (sized) break;
                Resize(text, cap *= 2);
            }
            const ssize_t k = ::read(fd.Get(), text.get() + len, cap - len);
            if (k < 0) {
                if (errno == EINTR) continue;
                return fail(qsx::util::ErrnoText(errno));
            }
            if (k == 0) break;
            len += static_cast<size_t>(k);
        }
        if (len == 0) return fail("the file is empty");
        return Read(std::move(text), len, error, warnings);
    } catch (const std::bad_alloc&) {
        return fail(kOutOfMemory);
    }
}

}  // namespace

SceneRead ReadJsonScene(const SceneInput& input) {
    SceneRead read;
    read.scene = input.bytes ? FromBytes(*input.bytes, &read.error, &read.warnings)
                             : FromFile(input.path, &read.error, &read.warnings);
    return read;
}

bool LooksLikeJsonScene(std::string_view firstBytes) {
    // Editors on some systems start a UTF-8 file with a byte-order mark; the reader skips it too.
    if (firstBytes.substr(0, 3) == "\xEF\xBB\xBF") firstBytes.remove_prefix(3);
    for (char c : firstBytes) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == '{';
    }
    return false;
}

bool IsJsonText(std::string_view text) {
    const std::string_view head = text.substr(0, 4096);
    return LooksLikeJsonScene(head) && head.find("\"qsxScene\"") != std::string_view::npos;
}

}  // namespace qsxhost
