// A script read back as a scene: the script, and the animation file beside
// it when there is one, each refused at its first problem.
#include <cstdint>

#include "qsxhost/sources/qsx/QsxReader.h"
#include "qsxhost/sources/qsx/QsxScene.h"
#include "qsxhost/sources/qsx/QsxSource.h"
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
    std::string text, why;
    if (input.bytes) {
        text = *input.bytes;
    } else if (qsx::util::ReadWholeFile(path, text, SIZE_MAX, &why) != qsx::util::ReadState::Read) {
        return fail(path, 0, why.empty() ? "no such file" : why, 0);
    }
    Script s;
    script::Problems problems;
    std::string tolerated;
    script::ReadScript(text, &s, &problems, &tolerated);
    if (!tolerated.empty()) read.warnings.push_back("warning: " + tolerated);
    if (problems.Count() > 0)
        return fail(path, problems.Listed()[0].line, problems.Listed()[0].what, problems.Count() - 1);
    auto scene = MakeQsxScene(s, nullptr);
    static_cast<script::QsxScene&>(*scene).animationFile = qsx::util::SideFileName(path, ".qsv");
    read.scene = std::move(scene);
    return read;
}

std::string script::QsxScene::UseAnimation() {
    // Asked again (the dialog's OK pressed after a refusal), the answer stands.
    if (!animationRead_) {
        animationRead_ = true;
        animationWhy_ = ReadAnimationFile();
    }
    return animationWhy_;
}

std::string script::QsxScene::ReadAnimationFile() {
    const std::string& qsv = animationFile;
    if (qsv.empty()) return {};
    std::string text, why;
    const qsx::util::ReadState state = qsx::util::ReadWholeFile(qsv, text, SIZE_MAX, &why);
    if (state == qsx::util::ReadState::Failed) return qsv + ": " + why;
    if (state != qsx::util::ReadState::Read) return {};
    script::Animation animation;
    script::Problems problems;
    script::ReadAnimation(text, &animation, &problems);
    if (problems.Count() > 0) {
        const script::Problem& p = problems.Listed()[0];
        return qsv + (p.line > 0 ? ":" + std::to_string(p.line) : std::string()) + ": " + p.what +
               (problems.Count() > 1 ? " (and " + std::to_string(problems.Count() - 1) +
                                           " more; qsxexport --check lists them)"
                                     : std::string());
    }
    // Numbers that run ahead of the script's nodes (below an unwritten
    // node) cannot be matched to them.
    if (!animation.frames.empty() && animation.frames[0].transforms.size() != parents.size())
        return qsv + ":" + std::to_string(animation.frames[0].line) + ": frame 0 has " +
               std::to_string(animation.frames[0].transforms.size()) + " transforms; the script has " +
               std::to_string(parents.size()) + " nodes to match";
    AddFrames(animation);
    return {};
}

}  // namespace qsxhost
