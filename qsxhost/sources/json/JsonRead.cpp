// The JSON scene source's entry points: a document from a file, a pipe or
// memory, read a chunk at a time into a window of its own and read from there
// in place.
#include "qsxhost/sources/json/JsonScene.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "qsxhost/sources/json/JsonReader.h"
#include "util/Files.h"

namespace qsxhost {

namespace {

// Bytes read at a time: enough that a read costs little beside the parsing of
// what it brought, little enough to stay near the cache.
constexpr size_t kChunkBytes = size_t{1} << 20;

// The document the window reads; the window's bytes go once the scene is read.
// fromFile: an empty text is said to be an empty file, not an empty document.
std::unique_ptr<SceneSource> Read(json::TextWindow& text, bool fromFile, std::string* error,
                                  std::vector<std::string>* warnings) {
    try {
        text.Start();
        if (fromFile && text.AtEnd() && text.End() == text.Begin()) {
            if (error) *error = "the file is empty";
            return nullptr;
        }
        auto scene = std::make_unique<json::JsonScene>();
        if (!json::ReadDocument(*scene, text, error, warnings)) return nullptr;
        return scene;
    } catch (const std::bad_alloc&) {
        if (error) *error = kOutOfMemory;
    } catch (const json::ReadFailed& e) {
        if (error) *error = qsx::util::ErrnoText(e.err);
    }
    return nullptr;
}

// A document in the file at path, read as the parser comes to it (a pipe too).
std::unique_ptr<SceneSource> FromFile(const std::string& path, std::string* error, std::vector<std::string>* warnings) {
    auto fail = [&](const std::string& what) -> std::unique_ptr<SceneSource> {
        if (error) *error = what;
        return nullptr;
    };
    const qsx::util::Fd fd(qsx::util::OpenToRead(path));
    if (fd.Get() < 0) return fail(qsx::util::ErrnoText(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return fail(qsx::util::ErrnoText(errno));
    if (S_ISDIR(st.st_mode)) return fail(qsx::util::ErrnoText(EISDIR));
    json::TextWindow text(fd.Get(), {}, kChunkBytes);
    return Read(text, true, error, warnings);
}

}  // namespace

SceneRead ReadJsonScene(const SceneInput& input) {
    SceneRead read;
    if (input.bytes) {
        json::TextWindow text(-1, *input.bytes, kChunkBytes);
        read.scene = Read(text, false, &read.error, &read.warnings);
    } else {
        read.scene = FromFile(input.path, &read.error, &read.warnings);
    }
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
