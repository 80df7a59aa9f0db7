// SCENE as the command names it, opened: found, read whole when it comes
// from standard input, a pipe or a device, and handed to the reader that fits
// it among those this build has. Nothing is printed here: what there is to
// say comes back as values, for the command to say once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qsxhost/sources/SceneSource.h"
#include "qsxhost/sources/assimp/AssimpScene.h"

namespace qsxhost {

// Why a scene could not be opened: a message for one file ("" when the
// message names its own place), or memory that ran out.
struct SceneProblem {
    std::string file;
    std::string what;
    bool outOfMemory = false;
};

struct SceneRequest {
    std::string scene;        // a path, or "-" for standard input
    std::string inputFormat;  // a 3D file's format, for bytes whose name does not tell
    AssimpOptions assimp;
    // Called with the scene's path once it is known to be there and before
    // anything is read from it (not for a scene without a path); a problem
    // it answers refuses the scene.
    std::function<SceneProblem(const std::string& path)> beforeReading;
    // Runs a 3D file's import, which may print or crash inside the importer;
    // may be empty.
    std::function<void(const std::string& name, const std::function<void()>& import)> aroundImport;
    // The scene is only to be described: a reader may keep counts in place of geometry.
    bool describeOnly = false;
};

enum class SceneKind { None, Json, Script, File3D };

struct OpenedScene {
    std::unique_ptr<SceneSource> scene;  // null: see problem
    SceneKind kind = SceneKind::None;
    std::string name;  // as messages name the scene ("standard input" for -)
    std::string path;  // as the collision checks find it; "" when it has none
    std::vector<std::string> warnings;  // said under name, before the problem
    SceneProblem problem;
};

OpenedScene OpenScene(const SceneRequest& request);

// Why this build reads no 3D file but JSON scenes, or null when it reads them all.
extern const char* const kUnreadFormats;

}  // namespace qsxhost
