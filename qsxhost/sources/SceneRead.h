// What every scene reader takes and answers, so that one place can open a
// scene with whichever reader fits and say what came of it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qsxhost/sources/SceneSource.h"

namespace qsxhost {

// Where a reader finds a scene: the file at path, or the whole of it already
// read (standard input, a pipe, a device), which path then only names.
struct SceneInput {
    std::string path;
    const std::string* bytes = nullptr;
    std::string format;  // a 3D file's format (its extension) when bytes carry no name that tells
    bool describeOnly = false;  // see SceneRequest
};

// A reader's answer. Warnings stand whether or not a scene was read; the
// caller says them, under the scene's name, before any error.
struct SceneRead {
    std::unique_ptr<SceneSource> scene;
    std::vector<std::string> warnings;
    std::string error;  // when scene is null: what is wrong; kOutOfMemory when memory ran out
};

}  // namespace qsxhost
