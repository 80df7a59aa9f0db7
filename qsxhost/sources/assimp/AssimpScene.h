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

// The up axis of the world frame Assimp delivers. Auto takes the one the
// format states or implies: FBX's axis settings, Z for the formats whose
// reader keeps their own Z-up frame (Blender and a few more), else Y.
enum class UpAxis { Y, Z, Auto };

struct AssimpOptions {
    UpAxis upAxis = UpAxis::Auto;
    int fps = 30;  // host time is 4800 ticks per second; frame length = 4800 / fps ticks
    int animationIndex = 0;
    std::function<void(float fraction)> progress;  // import progress 0..1, may be empty
    // Put before the name of an embedded texture the file does not name
    // ("box_" gives "box_texture0.png"), so that models exported into one
    // folder do not share "texture0.png".
    std::string unnamedTexturePrefix;
};

// Imports the file at input.path, or input.bytes (standard input, a pipe) in
// input.format: an extension such as "obj" tells the importer the format, as
// a file name's would. On failure the answer has no scene and its error is
// the importer's reason (the caller prefixes the file).
SceneRead ReadAssimpScene(const SceneInput& input, const AssimpOptions& options);

// The file extensions the importer reads, lower case, sorted, separated by
// single spaces: "3ds ase fbx glb gltf obj ...".
std::string AssimpInputExtensions();

// One embedded texture as a file beside the output: where it goes, its
// bytes, and whether a file with exactly those bytes is there already (it is
// then left as it is).
struct TextureFile {
    std::string path;
    std::vector<unsigned char> bytes;
    bool alreadyThere = false;
};

// The embedded textures of a scene read by the importer, as files in
// outputDir under the names its materials give them. A scene of another
// source has none. False with *error (naming the texture) when one cannot
// be written at all.
bool PlanEmbeddedTextures(SceneSource& scene, const std::string& outputDir, std::vector<TextureFile>* files,
                          std::string* error);

// Writes the planned textures that are not there already, each whole or not
// at all; written(path) for each. False with *error naming the file.
bool WriteTextureFiles(const std::vector<TextureFile>& files, const std::function<void(const std::string&)>& written,
                       std::string* error);

}  // namespace qsxhost
