// What a scene holds, as `qsxexport --info` reports it: the node tree, the
// materials and their texture files, the animations, and the frame the file
// states. Each scene source fills it from what it read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qsxhost {

struct SceneInfo {
    struct Node {
        std::string name;
        int64_t parent = -1;  // index in nodes, -1 for a top-level node
        int depth = 1;        // 1 for a top-level node
        int64_t meshes = 0;   // the file's meshes the node carries
        // Of the node's host mesh: its distinct positions (the script may
        // write more vertices, one per position and texture vertex pair) and
        // its triangles.
        int64_t positions = 0, triangles = 0;
        std::vector<int64_t> materials;       // indexes in materials, in face-id order
    };
    struct Texture {
        std::string channel;  // "diffuse", "opacity"
        std::string file;
        bool embedded = false;  // stored in the scene file itself
    };
    struct Material {
        std::string name;
        std::string kind;  // "standard", "multi", or "class A B"
        std::vector<int64_t> subs;  // of a multi material; -1 for an absent one
        std::vector<Texture> textures;
    };
    struct Animation {
        int64_t index = 0;
        std::string name;
        double seconds = 0;
        int64_t frames = 0;
        double fps = 0;
        int64_t nodes = 0;  // node channels
        int64_t positionKeys = 0, rotationKeys = 0, scalingKeys = 0;
        int64_t transformKeys = 0;  // whole transforms (a JSON scene's keys)
        int64_t morphChannels = 0;
        bool exported = false;  // the animation the export samples
    };

    std::string format;  // the reader that took the file
    std::string upAxis;     // the up axis used: "+Y", "-Z"
    std::string upAxisWhy;  // where it comes from: "Blender files are Z-up", "--up-axis z"
    std::optional<double> unit;  // centimetres per unit, when the file states it
    std::string unitWhy;         // where it comes from, or why there is none
    std::vector<Node> nodes;  // pre-order
    std::vector<Material> materials;
    std::vector<Animation> animations;
    std::vector<std::string> notes;  // what the export leaves out
};

}  // namespace qsxhost
