// What a 3D file must hold before its scene is built: every number the host
// scene takes from it finite, as the JSON reader demands of its documents.
// An infinite or NaN coordinate would otherwise reach the script as "inf" or
// "nan", and a NaN transform would spoil every node below it.
#pragma once

#include <string>

struct aiScene;

namespace qsxhost {

// False, with *error naming the first number that is not finite, for the
// numbers the scene source reads: in node pre-order each node's transform,
// then the positions and first texture coordinates of its meshes; then the
// keys of animation `animationIndex` (when the file has it) that have a
// finite time. The node tree must be whole (no null node, no node twice).
bool CheckFiniteNumbers(const aiScene& scene, int animationIndex, std::string* error);

}  // namespace qsxhost
