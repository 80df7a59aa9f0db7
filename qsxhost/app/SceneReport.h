// What the command says about a scene besides exporting it: whether an
// export writes any geometry, and the --info report in text or JSON.
#pragma once

#include <string>
#include <vector>

#include "host/Scene.h"
#include "qsxhost/sources/SceneSource.h"

namespace qsxhost {

// Whether an export at time t writes at least one triangle: a node without
// a renderable object hides its whole subtree, as the exporter skips it.
bool WritesTriangles(host::INode* root, host::TimeValue t);

// After an export, on standard error: why nothing was written when no
// triangle was, what the file held that the scene left out, why the frames
// of a written .qsv are all alike.
void ReportExport(SceneSource& scene, const std::string& sceneName, const std::vector<std::string>& written);

// The --info report: lines that each begin with what they describe
// ("node", "material", "animation", ...), node lines indented two spaces a
// level, names in double quotes with \ and " escaped.
std::string InfoText(const SceneInfo& info, const std::string& scene);
// The same as one JSON document (nodes as a flat list with parent indexes).
std::string InfoJson(const SceneInfo& info, const std::string& scene);

}  // namespace qsxhost
