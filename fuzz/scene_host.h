// What the harnesses share: a host over a loaded scene source whose dialog
// answers "OK" with fixed options, and an export of the scene in every
// hierarchy mode into memory with the checks that hold for any scene.
#pragma once

#include <cstdio>
#include <string>

#include "QsxExp/MemoryFileSystem.h"
#include "QsxExp/QsxExport.h"
#include "host/Interface.h"
#include "qsxhost/sources/SceneSource.h"

namespace qsxfuzz {

[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

class NullRegistry : public host::Registry {
public:
    std::unique_ptr<host::RegistryKey> CreateKey(const char*) override { return nullptr; }
    std::unique_ptr<host::RegistryKey> OpenKey(const char*) override { return nullptr; }
};

class SceneHost : public host::Interface {
public:
    explicit SceneHost(qsxhost::SceneSource& scene) : scene_(scene) {}
    qsx::ExportOptions options;

    host::Interval GetAnimRange() override { return scene_.GetAnimRange(); }
    host::INode* GetRootNode() override { return scene_.GetRootNode(); }
    int GetTicksPerFrame() override { return scene_.GetTicksPerFrame(); }
    void Assert1(int, const char*) override {}
    void Warning(std::string_view) override {}
    void FileFailure(std::string_view, std::string_view) override {}
    intptr_t DialogBoxParam(const host::DialogTemplate&, host::DlgProc, intptr_t param) override {
        reinterpret_cast<qsx::QsxExport*>(param)->options = options;
        return 1;
    }
    intptr_t SetWaitCursor() override { return 0; }
    void RestoreCursor(intptr_t) override {}
    void Progress(std::string_view, int64_t, int64_t) override {}
    host::Registry* GetRegistry() override { return &registry_; }

private:
    qsxhost::SceneSource& scene_;
    NullRegistry registry_;
};

// Every option on; the animation is cut to a few frames so that a range of
// millions of frames in the input does not stall the fuzzer.
inline void ExportEveryMode(qsxhost::SceneSource& scene, int maxFrames = 8) {
    const host::Interval range = scene.GetAnimRange();
    const int tpf = scene.GetTicksPerFrame();
    const bool animate = tpf > 0 && (static_cast<int64_t>(range.end) - range.start) / tpf <= maxFrames;
    for (int mode = 0; mode <= 3; ++mode) {
        SceneHost host(scene);
        host.options.saveHeader = 1;
        host.options.saveAnimation = animate;
        host.options.centre = 1;
        host.options.scaleType = mode & 1;
        host.options.scaleFactor = mode == 2 ? 100.0f : 1.0f;
        host.options.hints = mode % 3;
        host.options.textureFlags = mode == 3 ? 31u : qsx::TEX_SHOW | qsx::TEX_LIT;
        host.options.hierarchyType = mode;
        qsx::MemoryFileSystem fs;
        qsx::QsxExport exporter;
        exporter.writer.SetFileSystem(&fs);
        const int result = exporter.DoExport("out/scene.QSX", nullptr, &host, 0);
        if (result != 1 || !exporter.Failures().empty()) Broken("an export into memory failed");
        for (const auto& [path, text] : fs.files) {
            if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
                Broken("a file does not end with a line end");
        }
    }
}

}  // namespace qsxfuzz
