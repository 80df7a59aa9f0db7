// A scene loaded from a file, offering what the host application object
// answers about a scene: its root node, animation range and frame length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneInfo.h"

namespace qsxhost {

// What a loader answers as its error when memory ran out: not a fault of the
// scene, so the command says so in its own words and status.
inline constexpr const char* kOutOfMemory = "out of memory";

struct SceneStats {
    int64_t nodes = 0;
    int64_t meshes = 0;  // nodes with a mesh
    int64_t vertices = 0;
    int64_t faces = 0;
    int64_t materials = 0;
};

class SceneSource {
public:
    virtual ~SceneSource() = default;
    // The scene root: IsRootNode() answers true, its children are the top-level nodes.
    virtual host::INode* GetRootNode() = 0;
    virtual host::Interval GetAnimRange() const = 0;
    virtual int GetTicksPerFrame() const = 0;
    virtual SceneStats Stats() const = 0;

    // What the scene holds, for --info.
    virtual SceneInfo Describe() const = 0;
    // What the file holds that the host scene leaves out, one line per kind
    // ("ignored 24 bones and their skin weights ..."): lost information, so
    // always shown.
    virtual std::vector<std::string> Notes() const { return {}; }
    // Called once an export or a description is known to use the animation:
    // a source that reads it only then does so here. Why it cannot, or "".
    virtual std::string UseAnimation() { return {}; }
    // Said when a .qsv was written: why its frames are all alike, or "".
    virtual std::string AnimationNote() const { return {}; }
    // Why nothing is written when no node carries a renderable triangle.
    virtual std::string WhyNothingToExport() {
        return GetRootNode()->NumberOfChildren() == 0
                   ? "the scene has no nodes"
                   : "the scene has no renderable triangles";
    }
};

}  // namespace qsxhost
