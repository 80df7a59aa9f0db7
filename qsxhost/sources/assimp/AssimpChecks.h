// What a 3D file must hold before its scene is built, checked here rather
// than by the importer's own validation, which refuses a whole file for a
// fault in any part (a light without a node, an empty mesh beside good
// ones) although most parts never reach the host scene. What the scene
// source uses is checked, in our words; what it does not use is counted for
// the notes and otherwise left alone.
//
// Every number the host scene takes must be finite, as the JSON reader
// demands of its documents: an infinite or NaN coordinate would otherwise
// reach the script as "inf" or "nan", and a NaN transform would spoil every
// node below it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct aiScene;

namespace qsxhost {

// The node that carries the meshes a reader left without one beside null children.
inline constexpr const char* kLooseMeshesNode = "meshes without a node";

// What the file holds that the host scene leaves out.
struct LeftOut {
    std::vector<std::string> emptyMeshes;  // their names, or "mesh N"
    int64_t pointClouds = 0;               // of those, meshes of vertices without faces
    int64_t nullChildren = 0;              // null entries in nodes' lists of children
    int64_t looseMeshes = 0;               // meshes no node carried, put on kLooseMeshesNode
    int64_t lines = 0, points = 0;         // primitives
    int64_t bones = 0;                     // distinct bone names
    int64_t morphTargets = 0;
    int64_t morphAnimations = 0;  // animations with mesh or morph channels
    int64_t cameras = 0, lights = 0;
    int64_t triangleMeshes = 0;  // meshes with polygons, kept
};

// Readies an imported scene for triangulation and the scene source, before
// any post-processing step reads it: the node tree whole (no node twice; a
// missing root becomes an empty one; null children are taken out of their
// parents' lists and counted in *leftOut, and the meshes that no node then
// carries are put on a new child of the first such parent), every node's mesh
// references in range, every mesh's faces indexing its vertices and its
// material in range. Meshes without vertices or faces are taken out of the
// scene (the references to them too) and named in *leftOut. False, with
// *error naming the first fault, when the file cannot be used.
bool PrepareScene(aiScene& scene, LeftOut* leftOut, std::string* error);

// False, with *error naming the first number that is not finite, for the
// numbers the scene source reads: in node pre-order each node's transform,
// then the positions and first texture coordinates of its meshes; then the
// keys of animation `animationIndex` (when the file has it) that have a
// finite time. The scene must have passed PrepareScene.
bool CheckFiniteNumbers(const aiScene& scene, int animationIndex, std::string* error);

}  // namespace qsxhost
