// A QSX script as a scene source, so that a script can be exported again with
// other options. The script holds the scene as written: positions and
// transforms in the output frame, already scaled and centred, so the reread
// scene is that frame turned back to host axes (at scale 1, not centred).
// An animation file beside the script (same name, ".qsv") drives the node
// transforms from frame 1 on; the script's own transforms are frame 0.
#pragma once

#include <memory>
#include <string>

#include "qsxhost/sources/SceneRead.h"
#include "qsxhost/sources/SceneSource.h"
#include "qsxhost/sources/qsx/QsxModel.h"

namespace qsxhost {

// Reads the script at input.path, or from input.bytes when given, and its
// animation file beside input.path when there is one. On refusal the answer
// has no scene and its error is "FILE:LINE: what is wrong" for the first
// problem, and how many more there are.
SceneRead ReadQsxScene(const SceneInput& input);

// The scene a script read without problems stands for; animation may be null.
std::unique_ptr<SceneSource> MakeQsxScene(const script::Script& script, const script::Animation* animation);

// Whether path names a script: its extension is ".qsx" in any case.
bool IsQsxScriptName(const std::string& path);

}  // namespace qsxhost
