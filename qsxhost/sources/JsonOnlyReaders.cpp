// The readers of a build without the importer: JSON scenes alone.
#include "qsxhost/sources/SceneFile.h"
#include "qsxhost/sources/json/JsonScene.h"

namespace qsxhost {

const char* const kUnreadFormats =
    "3D files other than JSON scenes are not read on Windows: the Assimp importer is not built for it";

void ReadSceneFile(const SceneFile& file, const SceneRequest&, OpenedScene* out) {
    const std::string_view text = file.bytes;
    // A byte-order mark may open a JSON scene.
    if (!IsJsonText(text.substr(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0))) {
        out->problem = {file.name, std::string("not a JSON scene; ") + kUnreadFormats};
        return;
    }
    out->kind = SceneKind::Json;
    SceneRead read = ReadJsonScene({file.scene, &file.bytes, {}});
    out->scene = std::move(read.scene);
    out->warnings = std::move(read.warnings);
    if (!out->scene) {
        const bool memory = read.error == kOutOfMemory;
        out->problem = {memory ? "" : file.name, std::move(read.error), memory};
    }
}

}  // namespace qsxhost
