// The readers of a build without the importer (the file keeps its first
// name, from when it read JSON alone): JSON scenes and QSX scripts,
// the formats this project reads with its own code.
#include "qsxhost/sources/SceneFile.h"
#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/sources/qsx/QsxScene.h"

#include "util/Files.h"

namespace qsxhost {
namespace {

// What a reader decides the kind by: the whole scene when it was read whole,
// else as much of the file's start as IsJsonText looks at, past a byte-order mark.
std::string Head(const SceneFile& file) {
    if (file.inMemory) return file.bytes.substr(0, 3 + 4096);
    std::string head(3 + 4096, '\0');
    size_t have = 0;
    qsx::util::Fd fd;
    if (qsx::util::OpenRegularFile(file.scene, &fd, nullptr) == qsx::util::ReadState::Read) {
        for (long long n; have < head.size() && (n = qsx::util::ReadSome(fd.Get(), &head[have], head.size() - have,
                                                                          nullptr)) > 0;)
            have += static_cast<size_t>(n);
    }
    head.resize(have);
    return head;
}

}  // namespace

const char* const kUnreadFormats =
    "3D files other than JSON scenes and QSX scripts are not read on Windows: the Assimp importer is not built for "
    "it";

void ReadSceneFile(const SceneFile& file, const SceneRequest& request, OpenedScene* out) {
    const std::string head = Head(file);
    const std::string_view text = head;
    // A byte-order mark may open a JSON scene.
    const bool json = IsJsonText(text.substr(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0));
    const bool script = !json && !file.fromStdin && IsQsxScriptName(file.scene);
    if (!json && !script) {
        out->problem = {file.name, std::string("not a JSON scene or a QSX script; ") + kUnreadFormats};
        return;
    }
    out->kind = json ? SceneKind::Json : SceneKind::Script;
    const SceneInput input{file.scene, file.inMemory ? &file.bytes : nullptr, {}, request.describeOnly};
    SceneRead read = json ? ReadJsonScene(input) : ReadQsxScene(input);
    out->scene = std::move(read.scene);
    out->warnings = std::move(read.warnings);
    if (!out->scene) {
        const bool memory = read.error == kOutOfMemory;
        // A script's own message names its file and line. A scene too large
        // for this 32-bit program is named, with why it does not fit.
        out->problem = {script && !memory ? "" : file.name,
                        memory ? std::string(kOutOfMemory) +
                                     ": the scene does not fit in the memory a 32-bit program can address"
                               : std::move(read.error),
                        memory};
    }
}

}  // namespace qsxhost
