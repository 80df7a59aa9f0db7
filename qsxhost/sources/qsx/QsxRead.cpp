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
    std::string why;
    // Described only, the script is read for its counts: any size fits in memory.
    const script::Detail detail = input.describeOnly ? script::Detail::Counts : script::Detail::Geometry;
    Script s;
    script::Problems problems;
    // A script from an editor (LF line ends, a byte-order mark) is read with one warning.
    std::string tolerated;
    if (input.bytes) {
        script::ReadScript(*input.bytes, &s, &problems, detail, &tolerated);
    } else if (script::ReadScriptFile(path, detail, &s, &problems, &why, nullptr, &tolerated) !=
               qsx::util::ReadState::Read) {
        return fail(path, 0, why.empty() ? "no such file" : why, 0);
    }
    if (!tolerated.empty()) read.warnings.push_back("warning: " + tolerated);
    if (problems.Count() > 0)
        return fail(path, problems.Listed()[0].line, problems.Listed()[0].what, problems.Count() - 1);
    auto scene = MakeQsxScene(s, nullptr);
    auto& source = static_cast<script::QsxScene&>(*scene);
    source.animationFile = qsx::util::SideFileName(path, ".qsv");
    source.animationDetail = detail;
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
    std::string why;
    script::Animation animation;
    script::Problems problems;
    const qsx::util::ReadState state = script::ReadAnimationFile(qsv, animationDetail, &animation, &problems, &why);
    if (state == qsx::util::ReadState::Failed) return qsv + ": " + why;
    if (state != qsx::util::ReadState::Read) return {};
    if (problems.Count() > 0) {
        const script::Problem& p = problems.Listed()[0];
        // Appended piece by piece: the 32-bit cross compiler's -Wrestrict
        // misreads a literal added to a temporary string here.
        std::string message = qsv;
        if (p.line > 0) message.append(":").append(std::to_string(p.line));
        message.append(": ").append(p.what);
        if (problems.Count() > 1)
            message.append(" (and ")
                .append(std::to_string(problems.Count() - 1))
                .append(" more; qsxexport --check lists them)");
        return message;
    }
    // Numbers that run ahead of the script's nodes (below an unwritten
    // node) cannot be matched to them.
    if (!animation.frames.empty() && animation.frames[0].transformCount != static_cast<int64_t>(parents.size()))
        return qsv + ":" + std::to_string(animation.frames[0].line) + ": frame 0 has " +
               std::to_string(animation.frames[0].transformCount) + " transforms; the script has " +
               std::to_string(parents.size()) + " nodes to match";
    AddFrames(animation);
    return {};
}

}  // namespace qsxhost
