#include "qsxhost/app/OutputPlan.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "util/Paths.h"
#include "util/SameFile.h"

namespace qsxhost {
namespace {

constexpr int kOneFilePerNode = 3;

// The nodes the script pass writes: renderable ones, below renderable ones only.
long WrittenNodes(host::INode* root) {
    long count = 0;
    std::vector<host::INode*> stack;
    for (int i = root ? root->NumberOfChildren() : 0; i-- > 0;) stack.push_back(root->GetChildNode(i));
    while (!stack.empty()) {
        host::INode* node = stack.back();
        stack.pop_back();
        const host::Object* obj = node ? node->EvalWorldState(0, 1) : nullptr;
        if (!obj || !obj->IsRenderable()) continue;
        ++count;
        for (int i = node->NumberOfChildren(); i-- > 0;) stack.push_back(node->GetChildNode(i));
    }
    return count;
}

}  // namespace

using qsx::util::SameFile;

OutputPlan PlanOutputs(const std::string& output, const DialogChoices& choices, host::INode* root) {
    OutputPlan plan;
    if (choices.hierarchy == kOneFilePerNode) {
        const std::string base = qsx::util::SideFileName(output, "");
        for (long i = 0, n = WrittenNodes(root); i < n; ++i) plan.nodeFiles.push_back(base + std::to_string(i) + ".QSX");
    } else {
        plan.files.push_back(output);
        plan.kinds.push_back("script");
    }
    if (choices.header) {
        plan.files.push_back(qsx::util::SideFileName(output, ".qsh"));
        plan.kinds.push_back("header file");
    }
    if (choices.animation) {
        plan.files.push_back(qsx::util::SideFileName(output, ".qsv"));
        plan.kinds.push_back("animation file");
    }
    return plan;
}

std::string OutputIsScene(const std::string& output, const std::string& scene) {
    if (!SameFile(output, scene)) return "";
    return "the script would overwrite the scene file " + scene + "; nothing written";
}

std::string FindCollision(const OutputPlan& plan, const std::string& scene) {
    for (size_t i = 0; i < plan.files.size(); ++i) {
        if (SameFile(plan.files[i], scene))
            return "the " + plan.kinds[i] + " " + plan.files[i] + " would overwrite the scene file " + scene +
                   "; nothing written";
        for (size_t k = 0; k < i; ++k) {
            if (SameFile(plan.files[i], plan.files[k]))
                return "the " + plan.kinds[i] + " " + plan.files[i] + " would overwrite the " + plan.kinds[k] +
                       " " + plan.files[k] + "; nothing written";
        }
    }
    // Per-node files differ from one another and, by their extension, from
    // the side files; only the scene can be one of them. A name that does
    // not exist yet is only the scene's when the last components agree.
    struct stat sceneStat {};
    const bool sceneExists = stat(scene.c_str(), &sceneStat) == 0;
    const std::string_view sceneName = std::string_view(scene).substr(qsx::util::LastComponentStart(scene));
    for (size_t i = 0; i < plan.nodeFiles.size(); ++i) {
        const std::string& f = plan.nodeFiles[i];
        struct stat st {};
        const bool same = stat(f.c_str(), &st) == 0
                              ? sceneExists && st.st_dev == sceneStat.st_dev && st.st_ino == sceneStat.st_ino
                              : std::string_view(f).substr(qsx::util::LastComponentStart(f)) == sceneName &&
                                    SameFile(f, scene);
        if (same)
            return "the script of node " + std::to_string(i + 1) + " " + f + " would overwrite the scene file " +
                   scene + "; nothing written";
    }
    return "";
}

}  // namespace qsxhost
