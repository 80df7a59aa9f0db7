// The node tree plumbing that every scene source shares: name, parent,
// children, root flag, evaluated object and material.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneParts.h"

namespace qsxhost {

template <class Node>
class TreeNode : public host::INode {
public:
    std::string name;
    Node* parent = nullptr;
    std::vector<Node*> children;
    bool root = false;
    SceneObject* object = nullptr;  // none: the node has no evaluated object
    host::Mtl* mtl = nullptr;

    std::string_view GetName() const override { return name; }
    int NumberOfChildren() const override { return static_cast<int>(children.size()); }
    host::INode* GetChildNode(int i) const override {
        return i >= 0 && i < NumberOfChildren() ? children[static_cast<size_t>(i)] : nullptr;
    }
    host::INode* GetParentNode() const override { return parent; }
    bool IsRootNode() const override { return root; }
    host::Object* EvalWorldState(host::TimeValue, int) const override { return object; }
    host::Mtl* GetMtl() const override { return mtl; }
};

}  // namespace qsxhost
