// The JSON scene reader on any bytes; a document it takes is exported with
// every option on, in every hierarchy mode, into memory.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/MemoryFileSystem.h"
#include "QsxExp/QsxExport.h"
#include "fuzz/scene_host.h"
#include "qsxhost/sources/json/JsonReader.h"
#include "qsxhost/sources/json/JsonScene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const qsxhost::SceneRead read = qsxhost::ReadJsonScene({"-", &text, {}});
    {
        // Read a few bytes at a time, moving on wherever it can: the same outcome.
        qsxhost::json::TextWindow window(-1, text, 1 + size % 7);
        qsxhost::json::JsonScene scene;
        std::string error;
        std::vector<std::string> warnings;
        const bool ok = qsxhost::json::ReadDocument(scene, window, &error, &warnings);
        if (ok != (read.scene != nullptr) || (ok ? warnings != read.warnings : error != read.error))
            qsxfuzz::Broken("a document read in pieces reads otherwise");
    }
    if (!read.scene) {
        if (read.error.empty()) qsxfuzz::Broken("a refused document without a message");
        return 0;
    }
    if (!read.error.empty()) qsxfuzz::Broken("a loaded document with an error message");
    qsxfuzz::ExportEveryMode(*read.scene);
    return 0;
}
