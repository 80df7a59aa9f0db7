// The exporter: one object per export call, holding all state of that run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "QsxExp/Options.h"
#include "QsxExp/ScriptWriter.h"
#include "QsxExp/VertexTable.h"
#include "host/Plugin.h"

namespace qsx {

// Source name that consistency reports carry.
inline constexpr const char* kSourceName = "qsexp";

struct FileFailureRecord {
    std::string path;
    std::string reason;
};

class QsxExport final : public host::SceneExport {
public:
    QsxExport();
    ~QsxExport() = default;

    void* DeletingDestructor(unsigned int flags) override {
        if (flags & 1) {
            delete this;
        } else {
            this->~QsxExport();
        }
        return this;
    }
    int ExtCount() override { return 1; }
    const char* Ext(int n) override { return n == 0 ? "QSX" : ""; }
    const char* LongDesc() override { return "Quorvantis QSX Script File"; }
    const char* ShortDesc() override { return "Quorvantis"; }
    const char* AuthorName() override;
    const char* CopyrightMessage() override;
    const char* OtherMessage1() override { return ""; }
    const char* OtherMessage2() override { return ""; }
    unsigned int Version() override { return 200; }
    void ShowAbout(void*) override {}
    int DoExport(const char* name, void* expInterface, host::Interface* ip, int suppressPrompts) override;

    // --- export driver (ExportRun.cpp) ---
    bool WrapperClump() const { return topLevelCount > 1 || options.hierarchyType == HIER_FLAT_SINGLE; }
    int BeginModel() { return writer.BeginModel(WrapperClump()); }
    int EndModel() { return writer.EndModel(); }
    // Closes the current file and, when failed is set, removes it and records why.
    void FinishFile(const std::string& path);

    // --- the files of a run (ExportRun.cpp): the one place that names them ---
    // The script of the n-th written node in the separate mode: the output
    // path without its extension, n, ".QSX" ("scene3.QSX").
    static std::string NodeFilePath(std::string_view base, int32_t n);
    struct PlannedPath {
        std::string path;
        const char* kind;         // what the file is ("script", "header file", ...)
        uint64_t estimatedBytes;  // about its size, rather more than less
    };
    // The files an export to output writes with the options as they stand,
    // in the order of the passes: the script (or one per written node), the
    // header and the animation file when chosen. The sizes come from the
    // same one walk of the nodes: their counts and the nesting, nothing formatted.
    std::vector<PlannedPath> PlanFiles(const std::string& output);
    // Asks the host whether it will have the planned files written; a
    // refusal is shown in the dialog and answers 0.
    int FilesApproved(host::DialogWindow* dialog);

    // --- options (OptionsDialog.cpp) ---
    int LoadOptions();
    int SaveOptions();
    int OptionsFromDialog(host::DialogWindow* dialog);
    int OptionsToDialog(host::DialogWindow* dialog);

    // --- transforms and nodes (NodeWriter.cpp) ---
    host::Box3 ComputeSceneBounds(host::INode* node);
    // False when the scale factor cannot be used, or would take a number the
    // script writes for this scene beyond the float range (the host has been
    // told why): the export stops before any file is opened.
    bool ComputeNormalisation(host::INode* root);
    host::Matrix3 ComposeNodeTransform(host::Matrix3 matrix) const;
    // The node's output transform m relative to its parent's at t. A parent
    // whose transform has no inverse (a zero scale) gives the identity, and
    // the node one warning per run.
    host::Matrix3 RelativeToParent(host::INode* node, const host::Matrix3& m, host::TimeValue t);

    int WriteNode(host::INode* node);

    // --- mesh block (MeshBlock.cpp) ---
    int BuildVertexTable(const host::Mesh& mesh);
    void WriteVertices(const host::Mesh& mesh, host::Point3 offset);
    int32_t OutputVertexIndex(int vertex, int texVertex);
    void FreeVertexTable();
    void WriteTriangles(const host::Mesh& mesh, host::Mtl* material);
    void WriteMaterial(host::Mtl* material);
    // The statements of a material, as its lines without indentation.
    struct MaterialText {
        static constexpr size_t kNone = SIZE_MAX;
        std::string lines;          // the lines one after the other
        std::vector<size_t> ends;   // where each ends in `lines`
        size_t notFiniteLine = kNone;  // the first line with a number that is not finite
        // The lines as they go into the file at indentation 4 * k, made when first written there.
        std::vector<std::string> indented;
    };
    void MakeMaterialText(host::Mtl* material, MaterialText* out);
    std::string TextureName(std::string_view path) const;

    // --- side files (SideFiles.cpp) ---
    int BeginHeader();
    int WriteHeaderNode(host::INode* node);
    // The macro name after "TAG_" for a node: a C identifier, unique in the header.
    std::string HeaderMacroName(std::string_view name, int32_t tag);
    int WriteAnimation(const std::string& path, host::Interface* ip);
    int WriteAnimationNodes(host::INode* node, host::TimeValue t);
    int WriteAnimationTransform(host::INode* node, host::TimeValue t);

    void Assert1(int line);
    void Warn(std::string_view message);
    void Warn(const std::string& path, std::string_view message);
    const std::vector<FileFailureRecord>& Failures() const { return failures; }

    // Fields, in the order the exporter has always held them (options grouped).
    ExportOptions options;
    host::Point3 centreOffset;
    std::string headerPath;
    std::string animationPath;
    std::string outputPath;
    std::string basePath;
    std::string nodeFilePath;
    host::TimeValue exportTime = 0;
    int32_t vertexBase = 0;
    int32_t tagCounter = 0;
    int32_t topLevelCount = 0;
    VertexTable vertexTable;
    host::Matrix3 normaliseTM;
    host::Matrix3 normaliseInvTM;

    ScriptWriter writer;  // the open file, its open blocks, failed
    host::Interface* ip = nullptr;
    std::vector<FileFailureRecord> failures;
    bool cancelled = false;  // the last DoExport ended at the dialog's Cancel

private:
    int RunExport(const char* name);
    // Every pass starts afresh: no failure, tags from 1, the top-level nodes counted anew.
    void BeginPass(host::INode* root);
    // Puts the run's finished files in place together and tells the host of each.
    void PublishFiles();
    // Opens path for the current pass; a file that does not open fails the pass.
    bool OpenFile(const std::string& path);
    // The one record of a failed file, and the host's notice of it.
    void FileFailed(const std::string& path, const std::string& reason);

    void SetNormalisation(float s);
    // Whether every number the script pass writes for the scene is finite
    // with the normalisation as it stands.
    bool ScaledNumbersFinite(host::INode* root);
    void MeasureScaled(host::INode* node, float* vertex, bool* transformsFinite);
    // The usable factor nearest `refused` for a scene usable at scale 1.
    float FactorLimit(host::INode* root, float refused);
    // m relative to the output transform of the node's parent; false, with
    // the identity, when that transform has no inverse.
    bool RelativeTransform(host::INode* node, const host::Matrix3& m, host::TimeValue t, host::Matrix3* out) const;

    // The node's own lines up to its children, its blocks left open for the caller to end.
    void BeginNode(host::INode* node, host::Object* obj);
    // The node's mesh, its material statements and triangles, when it has one.
    void WriteMeshBlock(host::INode* node, host::Object* obj);

    std::unordered_map<const host::Mtl*, MaterialText> materialText_;  // the pass's materials, as written
    std::unordered_set<const host::INode*> identityWarned_;
    std::unordered_set<std::string> headerNames_;  // macro names the open header defines  // nodes told of a parent without inverse
    bool textured_ = false;  // the mesh being written has texture vertices and faces
    int64_t coincidentTriangles_ = 0;  // left out of this run's script pass: corners on one vertex
    int64_t nodesTotal_ = 0;
    int64_t nodesWritten_ = 0;
};

}  // namespace qsx
