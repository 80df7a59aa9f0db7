// The Assimp scene source on any bytes, read as OBJ or glTF (the first
// input byte picks which), and the export of whatever it loads.
//
// Only these two readers are fuzzed: Debian's Assimp keeps its internal
// assertions (ai_assert aborts) and some of its other readers crash on
// damaged files within seconds of fuzzing (the ASE reader reads far out of
// bounds when a face line is missing: tests/data/regress/). Those are faults
// of the library, not of this program; the qsxexport command turns them into
// a refusal of the file (bad_input_test.cpp), but here they would stop every
// run before it reached the scene source. Leaks inside the library are
// suppressed by fuzz/lsan.supp for the same reason.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/scene_host.h"
#include "qsxhost/sources/assimp/AssimpScene.h"

namespace {

const char* const kFormats[] = {"obj", "gltf"};

std::string TempPath(const char* ext) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qsx_fuzz_assimp_" + std::to_string(::getpid()) + "." + ext;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* ext = kFormats[data[0] % std::size(kFormats)];
    const std::string path = TempPath(ext);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    const qsxhost::SceneRead read = qsxhost::ReadAssimpScene({path, nullptr, {}}, qsxhost::AssimpOptions{});
    ::unlink(path.c_str());
    if (!read.scene) {
        if (read.error.empty()) qsxfuzz::Broken("a refused file without a message");
        return 0;
    }
    qsxfuzz::ExportEveryMode(*read.scene);
    return 0;
}
