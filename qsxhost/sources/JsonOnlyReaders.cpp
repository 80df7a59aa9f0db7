// The readers of a build without the importer (the file keeps its first
// name, from when it read JSON alone): JSON scenes and QSX scripts,
// the formats this project reads with its own code.
#include "qsxhost/sources/SceneFile.h"
#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/sources/qsx/QsxScene.h"

namespace qsxhost {

const char* const kUnreadFormats =
    "3D files other than JSON scenes and QSX scripts are not read on Windows: the Assimp importer is not built for "
    "it";

void ReadSceneFile(const SceneFile& file, const SceneRequest& request, OpenedScene* out) {
    const std::string_view text = file.bytes;
    // A byte-order mark may open a JSON scene.
    const bool json = IsJsonText(text.substr(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0));
    const bool script = !json && !file.fromStdin && IsQsxScriptName(file.scene);
    if (!json && !script) {
        out->problem = {file.name, std::string("not a JSON scene or a QSX script; ") + kUnreadFormats};
        return;
    }
    out->kind = json ? SceneKind::Json : SceneKind::Script;
    const SceneInput input{file.scene, &file.bytes, {}, request.describeOnly};
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
