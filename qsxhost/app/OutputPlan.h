// The files a run will write, known once the dialog's OK is pressed, and the
// collisions among them and with the scene file, refused before anything is
// written: a script written over its own scene, or a header that would
// replace the script it belongs to, loses the user's data.
#pragma once

#include <string>
#include <vector>

#include "host/Scene.h"

namespace qsxhost {

// What the dialog says about the files, read from its controls at OK.
struct DialogChoices {
    bool header = false;
    bool animation = false;
    int hierarchy = 0;  // the dialog's list index; 3 is one file per node
};

struct OutputPlan {
    std::vector<std::string> files;  // the script (unless one per node), header, animation
    std::vector<std::string> kinds;  // "script", "header file", ... for each
    std::vector<std::string> nodeFiles;  // one script per written node, numbered from 0
};

// The files a run writes for output: the script (or one per written node),
// then the header and animation files when chosen.
OutputPlan PlanOutputs(const std::string& output, const DialogChoices& choices, host::INode* root);

// The first collision as a message naming both files, or "".
std::string FindCollision(const OutputPlan& plan, const std::string& scene);

// The message for an output that is the scene file itself, or "".
std::string OutputIsScene(const std::string& output, const std::string& scene);

}  // namespace qsxhost
