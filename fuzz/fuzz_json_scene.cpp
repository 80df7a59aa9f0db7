// The JSON scene reader on any bytes; a document it takes is exported with
// every option on, in every hierarchy mode, into memory.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "tests/support/MemoryFileSystem.h"
#include "QsxExp/QsxExport.h"
#include "fuzz/scene_host.h"
#include "qsxhost/sources/json/JsonScene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<qsxhost::SceneSource> scene = qsxhost::ParseJsonScene(text, &error);
    if (!scene) {
        if (error.empty()) qsxfuzz::Broken("a refused document without a message");
        return 0;
    }
    if (!error.empty()) qsxfuzz::Broken("a loaded document with an error message");
    qsxfuzz::ExportEveryMode(*scene);
    return 0;
}
