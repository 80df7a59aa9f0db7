// A scene source over any 3D file that Assimp imports (glTF, FBX, OBJ, 3DS,
// ASE, Collada and the rest). The file's node tree becomes the host's node
// tree, its meshes triangle meshes, its materials standard or multi/sub-object
// materials, and its node animation the node transforms over time, all turned
// into the host's Z-up frame.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qsxhost/sources/SceneRead.h"
#include "qsxhost/sources/SceneSource.h"

namespace qsxhost {

// The up axis of the world frame Assimp delivers. Auto takes it from the
// file's own axis settings where the format records them (FBX), else Y.
enum class UpAxis { Y, Z, Auto };

struct AssimpOptions {
    UpAxis upAxis = UpAxis::Auto;
    int fps = 30;  // host time is 4800 ticks per second; frame length = 4800 / fps ticks
    int animationIndex = 0;
    std::function<void(float fraction)> progress;  // import progress 0..1, may be empty
};

// Imports any file Assimp reads. On failure answers null and *error = Assimp's
// reason (the caller prefixes the file).
std::unique_ptr<SceneSource> LoadAssimpScene(const std::string& path, const AssimpOptions& options,
                                             std::string* error);

// The same from bytes already read (standard input, a pipe): extension, such
// as "obj", tells the importer the format, as a file name's would.
std::unique_ptr<SceneSource> LoadAssimpSceneFromMemory(std::string_view bytes, const std::string& extension,
                                                       const AssimpOptions& options, std::string* error);

// The file at input.path, or input.bytes in input.format.
SceneRead ReadAssimpScene(const SceneInput& input, const AssimpOptions& options);

// The file extensions the importer reads, lower case, sorted, separated by
// single spaces: "3ds ase fbx glb gltf obj ...".
std::string AssimpInputExtensions();

// Writes the embedded textures of a scene loaded by LoadAssimpScene into
// outputDir, each under the name its materials give it, and appends the paths
// written to *written. A scene of another source has none: true, nothing written.
bool ExtractEmbeddedTextures(SceneSource& scene, const std::string& outputDir, std::vector<std::string>* written,
                             std::string* error);

}  // namespace qsxhost
