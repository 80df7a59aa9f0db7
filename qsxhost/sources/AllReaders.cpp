// The readers of a build with the importer: JSON scenes, QSX scripts read
// back, and every 3D file the importer takes.
#include <clocale>
#include <fstream>

#include "qsxhost/sources/SceneFile.h"
#include "qsxhost/sources/assimp/AssimpScene.h"
#include "qsxhost/sources/json/JsonScene.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "util/Paths.h"
#include "util/Text.h"

namespace qsxhost {
namespace {

// A JSON scene when so named, or when the file opens like one.
bool IsJsonScene(const std::string& path) {
    if (qsx::util::EndsWithNoCase(path, ".json")) return true;
    if (qsx::util::EndsWithNoCase(path, ".gltf")) return false;
    std::ifstream in(path, std::ios::binary);
    char buf[4096];
    in.read(buf, sizeof buf);
    return IsJsonText(std::string_view(buf, static_cast<size_t>(in.gcount())));
}

}  // namespace

const char* const kUnreadFormats = nullptr;

void ReadSceneFile(const SceneFile& file, const SceneRequest& request, OpenedScene* out) {
    SceneInput input{file.scene, file.inMemory ? &file.bytes : nullptr, request.inputFormat, request.describeOnly};
    const bool json = file.inMemory ? IsJsonText(file.bytes) : IsJsonScene(file.scene);
    const bool script = !json && !file.inMemory && IsQsxScriptName(file.scene);
    if (file.inMemory && !json && input.format.empty()) {
        const size_t dot = qsx::util::ExtensionDot(file.scene);
        const std::string ext = dot == std::string::npos ? std::string() : file.scene.substr(dot + 1);
        if (file.fromStdin || ext.empty()) {
            out->problem = {file.name, "not a JSON scene; give --input-format EXT (obj, gltf, ...) for a 3D file"};
            return;
        }
        input.format = ext;
    }
    SceneRead read;
    if (json) {
        out->kind = SceneKind::Json;
        read = ReadJsonScene(input);
    } else if (script) {
        out->kind = SceneKind::Script;
        read = ReadQsxScene(input);
    } else {
        out->kind = SceneKind::File3D;
        // The importer's parsers are not all free of the user's number format.
        const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
        std::setlocale(LC_NUMERIC, "C");
        const auto import = [&] { read = ReadAssimpScene(input, request.assimp); };
        if (request.aroundImport) {
            request.aroundImport(file.name, import);
        } else {
            import();
        }
        std::setlocale(LC_NUMERIC, numeric.c_str());
    }
    out->scene = std::move(read.scene);
    out->warnings = std::move(read.warnings);
    if (!out->scene) {
        const bool memory = read.error == kOutOfMemory;
        // A script's own message names its file and line.
        out->problem = {memory || script ? "" : file.name, std::move(read.error), memory};
    }
}

}  // namespace qsxhost
