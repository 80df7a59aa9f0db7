// A script read back as a scene: the script, and the animation file beside
// it when there is one, each refused at its first problem.
#include <cstdint>

#include "qsxhost/sources/qsx/QsxReader.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "util/Files.h"
#include "util/Paths.h"
#include "util/Text.h"

namespace qsxhost {

using script::Script;

bool IsQsxScriptName(const std::string& path) { return qsx::util::EndsWithNoCase(path, ".qsx"); }

SceneRead ReadQsxScene(const SceneInput& input) {
    SceneRead read;
    const std::string& path = input.path;
    std::string* error = &read.error;
    auto fail = [&](const std::string& file, int64_t line, const std::string& what, int64_t more) {
        *error = file;
        if (line > 0) error->append(":").append(std::to_string(line));
        error->append(": ").append(what);
        if (more > 0) *error += " (and " + std::to_string(more) + " more; qsxexport --check lists them)";
        return std::move(read);
    };
    std::string why;
    // Described only, the script is read for its counts: any size fits in memory.
    const script::Detail detail = input.describeOnly ? script::Detail::Counts : script::Detail::Geometry;
    Script s;
    script::Problems problems;
    if (input.bytes) {
        script::ReadScript(*input.bytes, &s, &problems, detail);
    } else if (script::ReadScriptFile(path, detail, &s, &problems, &why) != qsx::util::ReadState::Read) {
        return fail(path, 0, why.empty() ? "no such file" : why, 0);
    }
    if (problems.Count() > 0)
        return fail(path, problems.Listed()[0].line, problems.Listed()[0].what, problems.Count() - 1);
    const std::string qsv = qsx::util::SideFileName(path, ".qsv");
    script::Animation animation;
    const qsx::util::ReadState state = script::ReadAnimationFile(qsv, detail, &animation, &problems, &why);
    if (state == qsx::util::ReadState::Failed) return fail(qsv, 0, why, 0);
    const bool animated = state == qsx::util::ReadState::Read;
    if (animated) {
        if (problems.Count() > 0)
            return fail(qsv, problems.Listed()[0].line, problems.Listed()[0].what, problems.Count() - 1);
        // Numbers that run ahead of the script's nodes (below an unwritten
        // node) cannot be matched to them.
        if (!animation.frames.empty() && animation.frames[0].transformCount != static_cast<int64_t>(s.nodes.size()))
            return fail(qsv, animation.frames[0].line,
                        "frame 0 has " + std::to_string(animation.frames[0].transformCount) +
                            " transforms; the script has " + std::to_string(s.nodes.size()) + " nodes to match",
                        0);
    }
    read.scene = MakeQsxScene(s, animated ? &animation : nullptr);
    return read;
}

}  // namespace qsxhost
