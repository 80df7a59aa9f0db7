// What the harnesses share: the tests' fake host over a loaded scene source,
// and an export of the scene in every hierarchy mode into memory with the
// checks that hold for any scene.
#pragma once

#include <cstdio>
#include <string>

#include "QsxExp/LineBuilder.h"
#include "tests/support/MemoryFileSystem.h"
#include "QsxExp/QsxExport.h"
#include "qsxhost/sources/SceneSource.h"
#include "tests/support/fake_host.h"

namespace qsxfuzz {

[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

// The fake host over a loaded scene source.
class SceneHost : public fake::OptionsHost {
public:
    explicit SceneHost(qsxhost::SceneSource& scene) : scene_(scene) {}

    host::Interval GetAnimRange() override { return scene_.GetAnimRange(); }
    host::INode* GetRootNode() override { return scene_.GetRootNode(); }
    int GetTicksPerFrame() override { return scene_.GetTicksPerFrame(); }

private:
    qsxhost::SceneSource& scene_;
};

// Every option on; the animation is cut to a few frames so that a range of
// millions of frames in the input does not stall the fuzzer.
inline void ExportEveryMode(qsxhost::SceneSource& scene, int maxFrames = 8) {
    // What --info reads of the scene: a tree in pre-order whose indexes hold.
    const qsxhost::SceneInfo info = scene.Describe();
    for (size_t i = 0; i < info.nodes.size(); ++i) {
        const auto& n = info.nodes[i];
        const int64_t p = n.parent;
        if (p >= static_cast<int64_t>(i) || n.depth != (p < 0 ? 1 : info.nodes[static_cast<size_t>(p)].depth + 1))
            Broken("--info: a node before its parent, or at the wrong depth");
        for (const int64_t m : n.materials)
            if (m < 0 || m >= static_cast<int64_t>(info.materials.size())) Broken("--info: a material out of range");
    }
    static_cast<void>(scene.Notes());
    static_cast<void>(scene.AnimationNote());
    static_cast<void>(scene.WhyNothingToExport());
    const host::Interval range = scene.GetAnimRange();
    const int tpf = scene.GetTicksPerFrame();
    const bool animate = tpf > 0 && (static_cast<int64_t>(range.end) - range.start) / tpf <= maxFrames;
    for (int mode = 0; mode <= 3; ++mode) {
        SceneHost host(scene);
        host.preset.saveHeader = 1;
        host.preset.saveAnimation = animate;
        host.preset.centre = 1;
        host.preset.scaleType = mode & 1;
        host.preset.scaleFactor = mode == 2 ? 100.0f : 1.0f;
        host.preset.hints = mode % 3;
        host.preset.textureFlags = mode == 3 ? 31u : qsx::TEX_SHOW | qsx::TEX_LIT;
        host.preset.hierarchyType = mode;
        qsx::MemoryFileSystem fs;
        qsx::QsxExport exporter;
        exporter.writer.SetFileSystem(&fs);
        const int result = exporter.DoExport("out/scene.QSX", nullptr, &host, 0);
        // Scaling to a size may need a factor beyond float, and positions or
        // transforms may overflow in it: the export is refused, or the files
        // with a number that is not finite are dropped. Nothing else fails.
        if (!host.refusals.empty()) {
            if (result != 0 || !fs.files.empty()) Broken("a refused export wrote a file");
            continue;
        }
        for (const auto& f : exporter.Failures())
            if (f.reason != qsx::kNotFiniteReason) Broken("an export into memory failed");
        if (result != (exporter.Failures().empty() ? 1 : 0)) Broken("result and failure list disagree");
        for (const auto& [path, text] : fs.files) {
            if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
                Broken("a file does not end with a line end");
        }
    }
}

}  // namespace qsxfuzz
