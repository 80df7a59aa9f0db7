// The scene of the golden script files (tests/data/golden/three_nodes_*.QSX),
// shared by the Linux tests and the Windows tests that run the plug-in DLL.
#pragma once

#include <string>

#include "tests/support/fake_scene.h"

namespace golden {

// One triangle on (0,0,0), (1,0,0), (0,1,0).
inline void Triangle(host::Mesh& m) {
    m.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    host::Face f;
    f.v[0] = 0;
    f.v[1] = 1;
    f.v[2] = 2;
    m.faces = {f};
}

inline fake::Node* MeshNode(fake::Node* parent, const std::string& name, host::Point3 at = {}) {
    fake::Node* n = parent->Add(name);
    Triangle(n->MakeMesh());
    n->SetTM(fake::Translation(at.x, at.y, at.z));
    return n;
}

// A at (1,2,3) holding A1 at (4,6,8), and B at (-3,0.5,-1); to be exported
// scaled by 2, not centred, no hints. The golden files were written by hand:
// a translation t becomes (2tx, 2tz, -2ty), the vertex (x, y, 0) becomes (2x, 0, -2y).
inline void ThreeNodes(fake::Node& root) {
    MeshNode(MeshNode(&root, "A", {1, 2, 3}), "A1", {4, 6, 8});
    MeshNode(&root, "B", {-3, 0.5f, -1});
}

}  // namespace golden
