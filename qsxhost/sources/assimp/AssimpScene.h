// A scene source over any 3D file that Assimp imports (glTF, FBX, OBJ, 3DS,
// ASE, Collada and the rest). The file's node tree becomes the host's node
// tree, its meshes triangle meshes, its materials standard or multi/sub-object
// materials, and its node animation the node transforms over time, all turned
// into the host's Z-up frame.
#pragma once

#include <functional>
#include <string>
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

// Imports the file at input.path, or input.bytes (standard input, a pipe) in
// input.format: an extension such as "obj" tells the importer the format, as
// a file name's would. On failure the answer has no scene and its error is
// the importer's reason (the caller prefixes the file).
SceneRead ReadAssimpScene(const SceneInput& input, const AssimpOptions& options);

// The file extensions the importer reads, lower case, sorted, separated by
// single spaces: "3ds ase fbx glb gltf obj ...".
std::string AssimpInputExtensions();

// Writes the embedded textures of a scene read by ReadAssimpScene into
// outputDir, each under the name its materials give it, and appends the paths
// written to *written. A scene of another source has none: true, nothing written.
bool ExtractEmbeddedTextures(SceneSource& scene, const std::string& outputDir, std::vector<std::string>* written,
                             std::string* error);

}  // namespace qsxhost
