// SCENE before any reader sees it, as each platform finds and reads it.
#pragma once

#include <string>

#include "qsxhost/sources/OpenScene.h"

namespace qsxhost {

struct SceneFile {
    std::string scene;  // as the command was given it
    std::string name;   // as messages name it
    std::string path;   // as the collision checks find it; "" for none
    bool fromStdin = false;
    bool inMemory = false;  // bytes holds the whole scene; readers take it from there
    std::string bytes;
};

// Finds SCENE (and reads it, where the platform reads every scene whole);
// false with *problem when there is nothing a reader could take.
bool FindSceneFile(const SceneRequest& request, SceneFile* file, SceneProblem* problem);

// Reads the scene whole where it must be (a pipe gives its bytes once);
// false with *problem when that fails or there is nothing.
bool FetchSceneFile(SceneFile* file, SceneProblem* problem);

// Chooses among this build's readers for file and reads it into *out.
void ReadSceneFile(const SceneFile& file, const SceneRequest& request, OpenedScene* out);

}  // namespace qsxhost
