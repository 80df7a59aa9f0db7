#include "qsxhost/sources/OpenScene.h"

#include "qsxhost/sources/SceneFile.h"

namespace qsxhost {

OpenedScene OpenScene(const SceneRequest& request) {
    OpenedScene out;
    SceneFile file;
    const bool found = FindSceneFile(request, &file, &out.problem);
    out.name = file.name;
    out.path = file.path;
    if (!found) return out;
    if (request.beforeReading && !file.path.empty()) {
        out.problem = request.beforeReading(file.path);
        if (!out.problem.what.empty()) return out;
    }
    if (!FetchSceneFile(&file, &out.problem)) return out;
    ReadSceneFile(file, request, &out);
    return out;
}

}  // namespace qsxhost
