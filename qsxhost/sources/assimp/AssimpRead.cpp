// The Assimp scene source's reading half: a 3D file imported from its path
// or from bytes already read, checked in our words, and handed to the scene
// source to build.
#include "qsxhost/sources/assimp/AssimpSource.h"
#include "qsxhost/sources/assimp/ImportMemory.h"
#include "util/Text.h"

#include <assimp/DefaultIOSystem.h>
#include <assimp/IOStream.hpp>
#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>
#include <assimp/config.h>
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>

#include <algorithm>
#include <clocale>
#include <new>

namespace qsxhost {
namespace {

using assimp::AssimpSceneSource;
using assimp::kHostTicksPerSecond;

class ProgressBridge final : public Assimp::ProgressHandler {
public:
    explicit ProgressBridge(const std::function<void(float)>& fn) : fn_(fn) {}
    bool Update(float percentage) override {
        if (fn_ && percentage >= 0.0f) fn_(std::min(percentage, 1.0f));
        return true;
    }

private:
    const std::function<void(float)>& fn_;
};

// The extensions of the importer that took the file, lower case, between
// single spaces: "md5mesh md5camera md5anim".
std::string ImporterExtensions(const Assimp::Importer& importer) {
    const int index = importer.GetPropertyInteger("importerIndex", -1);
    const aiImporterDesc* desc = index >= 0 ? importer.GetImporterInfo(static_cast<size_t>(index)) : nullptr;
    return desc && desc->mFileExtensions ? qsx::util::ToAsciiLower(desc->mFileExtensions) : "";
}

// The file's bytes come from a path, or from memory with a format hint when
// they arrived through a pipe (no name, no second read).
struct Input {
    const std::string* path = nullptr;
    std::string_view bytes;
    std::string hint;
};

// Every file the importer opens (the scene, its buffers, its material
// library) widens the import's memory bound by its size, once.
class MeasuredIO final : public Assimp::DefaultIOSystem {
public:
    explicit MeasuredIO(ImportMemoryBound& bound) : bound_(bound) {}
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        Assimp::IOStream* stream = DefaultIOSystem::Open(file, mode);
        if (stream && std::find(opened_.begin(), opened_.end(), file) == opened_.end()) {
            opened_.emplace_back(file);
            bound_.Reads(stream->FileSize());
        }
        return stream;
    }

private:
    ImportMemoryBound& bound_;
    std::vector<std::string> opened_;
};

std::unique_ptr<SceneSource> Load(const Input& input, const AssimpOptions& options, ImportMemoryBound& bound,
                                  std::string* error) {
    Assimp::Importer importer;
    importer.SetIOHandler(new MeasuredIO(bound));  // the importer owns it
    if (!input.path) bound.Reads(input.bytes.size());
    // A file without meshes stays without: no stand-in skeleton geometry.
    importer.SetPropertyInteger(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, 1);
    ProgressBridge progress(options.progress);
    // The importer deletes the handler it holds when it goes; this one is
    // ours, so it gets its own default back first, whichever way we leave.
    struct HandlerRelease {
        Assimp::Importer& importer;
        ~HandlerRelease() { importer.SetProgressHandler(nullptr); }
    } release{importer};
    importer.SetProgressHandler(&progress);

    // Read without post-processing: what the steps read is checked first,
    // in our words (the importer's validation would refuse the whole file
    // for parts that never reach the host scene). Vertices are joined by the
    // scene source, which knows which channels the host keeps.
    const aiScene* read = input.path ? importer.ReadFile(*input.path, 0)
                                     : importer.ReadFileFromMemory(input.bytes.data(), input.bytes.size(), 0,
                                                                   input.hint.c_str());
    const auto importFailed = [&] {
        const char* why = importer.GetErrorString();
        *error = why && *why ? why : "Assimp could not import the file";
        return nullptr;
    };
    if (!read) return importFailed();
    LeftOut leftOut;
    if (!PrepareScene(*const_cast<aiScene*>(read), &leftOut, error)) return nullptr;
    if (!importer.ApplyPostProcessing(aiProcess_Triangulate)) return importFailed();

    const assimp::FormatUp formatUp = assimp::FormatUpOf(ImporterExtensions(importer));
    const int index = importer.GetPropertyInteger("importerIndex", -1);
    const aiImporterDesc* desc = index >= 0 ? importer.GetImporterInfo(static_cast<size_t>(index)) : nullptr;
    std::string format = desc && desc->mName ? desc->mName : "";
    std::unique_ptr<aiScene> scene(importer.GetOrphanedScene());
    if (!scene) {
        *error = "Assimp gave no scene";
        return nullptr;
    }
    auto source = std::make_unique<AssimpSceneSource>(std::move(scene), kHostTicksPerSecond / options.fps, leftOut,
                                                      std::move(format));
    if (!source->Build(options, formatUp, error)) return nullptr;
    if (options.progress) options.progress(1.0f);
    return source;
}

std::unique_ptr<SceneSource> LoadInput(const Input& input, const AssimpOptions& options, std::string* error) {
    if (options.fps < 1 || options.fps > kHostTicksPerSecond) {
        *error = "frame rate " + std::to_string(options.fps) + " is outside 1 to " +
                 std::to_string(kHostTicksPerSecond);
        return nullptr;
    }
    // Errors leave here as values, never as exceptions.
    ImportMemoryBound bound;
    std::unique_ptr<SceneSource> scene;
    try {
        scene = Load(input, options, bound, error);
    } catch (const std::bad_alloc&) {
        *error = kOutOfMemory;
    } catch (const std::exception& e) {
        *error = e.what();
    } catch (...) {
        *error = "import failed";
    }
    // Whatever the importer made of the refused request (its own words, or a
    // scene it carried on with), the file is refused in ours.
    if (bound.Exceeded()) {
        scene.reset();
        *error = bound.Refusal();
    }
    return scene;
}

}  // namespace

SceneRead ReadAssimpScene(const SceneInput& input, const AssimpOptions& options) {
    SceneRead read;
    if (input.bytes && input.bytes->empty()) {
        read.error = "empty";
    } else if (input.bytes) {
        read.scene = LoadInput({nullptr, *input.bytes, qsx::util::ToAsciiLower(input.format)}, options, &read.error);
    } else {
        read.scene = LoadInput({&input.path, {}, {}}, options, &read.error);
    }
    return read;
}

std::string AssimpInputExtensions() {
    Assimp::Importer importer;
    std::string list;
    importer.GetExtensionList(list);
    std::vector<std::string> exts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string e = list.substr(start, end - start);
        if (e.rfind("*.", 0) == 0) e.erase(0, 2);
        if (!e.empty()) exts.push_back(qsx::util::ToAsciiLower(e));
        start = end + 1;
    }
    std::sort(exts.begin(), exts.end());
    exts.erase(std::unique(exts.begin(), exts.end()), exts.end());
    std::string out;
    for (const std::string& e : exts) out += (out.empty() ? "" : " ") + e;
    return out;
}

namespace assimp {

FormatUp FormatUpOf(const std::string& importerExtensions) {
    // Found by previewing the test models of every format with each axis.
    // The files state no axis (but FBX's metadata); a format whose reader
    // turns its own frame to Y-up puts the turn on the root node, which the
    // world matrices include. A format missing here is taken as Y-up.
    static constexpr struct {
        const char* extension;  // any one of the importer's
        bool fromMetadata;
        int axis;
        const char* why;
    } kFormats[] = {
        {"fbx", true, 1, "the file states none"},
        {"blend", false, 2, "Blender files are Z-up"},
        {"3mf", false, 2, "3MF files are Z-up, the build direction"},
        {"amf", false, 2, "AMF files are Z-up, the build direction"},
        {"cob", false, 2, "COB files are Z-up"},
        {"hmp", false, 2, "HMP terrains are Z-up"},
        {"ogex", false, 2, "OpenGEX's default; the importer does not pass on a file's own"},
        {"q3o", false, 2, "Quick3D files are Z-up"},
        {"smd", false, 2, "SMD files are Z-up"},
        {"gltf", false, 1, "glTF files are Y-up"},
        {"3ds", false, 1, "the importer turns 3DS files from Z-up to Y-up"},
        {"ase", false, 1, "the importer turns ASE files from Z-up to Y-up"},
        {"dae", false, 1, "the importer turns Collada files to Y-up from the axis they state"},
        {"dxf", false, 1, "the importer turns DXF files from Z-up to Y-up"},
        {"ifc", false, 1, "the importer turns IFC files from Z-up to Y-up"},
        {"iqm", false, 1, "the importer turns IQM files from Z-up to Y-up"},
        {"md2", false, 1, "the importer turns MD2 files from Z-up to Y-up"},
        {"md5mesh", false, 1, "the importer turns MD5 files from Z-up to Y-up"},
        {"mdc", false, 1, "the importer turns MDC files from Z-up to Y-up"},
        {"mdl", false, 1, "the importer turns MDL files from Z-up to Y-up"},
    };
    const std::string padded = " " + importerExtensions + " ";
    for (const auto& f : kFormats)
        if (padded.find(std::string(" ") + f.extension + " ") != std::string::npos)
            return {f.fromMetadata, f.axis, f.why};
    return {};
}

}  // namespace assimp

}  // namespace qsxhost
