// The exporter: one object per export call, holding all state of that run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

class QsxExport : public host::SceneExport {
public:
    QsxExport();
    ~QsxExport() override = default;

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

    // --- export driver ---
    // The path with everything from the '.' of its last component replaced by
    // ext, or ext appended when that component has no '.'.
    static std::string SideFileName(std::string_view path, std::string_view ext);
    bool WrapperClump() const { return topLevelCount > 1 || options.hierarchyType == HIER_FLAT_SINGLE; }
    int BeginModel() { return writer.BeginModel(WrapperClump()); }
    int EndModel() { return writer.EndModel(WrapperClump()); }
    // Closes the current file and, when failed is set, removes it and records why.
    void FinishFile(const std::string& path);

    // --- options ---
    int LoadOptions();
    int SaveOptions();
    int OptionsFromDialog(host::DialogWindow* dialog);
    int OptionsToDialog(host::DialogWindow* dialog);

    // --- transforms ---
    host::Box3 ComputeSceneBounds(host::INode* node);
    void ComputeNormalisation(host::INode* root);
    host::Matrix3 ComposeNodeTransform(host::Matrix3 matrix) const;

    // --- script ---
    int WriteNode(host::INode* node);
    int BuildVertexTable(const host::Mesh& mesh);
    void WriteVertices(const host::Mesh& mesh, host::Point3 offset);
    int32_t OutputVertexIndex(int vertex, int texVertex);
    void FreeVertexTable();
    void WriteTriangles(const host::Mesh& mesh, host::Mtl* material);
    void WriteMaterial(host::Mtl* material);
    std::string TextureName(std::string_view path) const;

    // --- side files ---
    int BeginHeader();
    int WriteHeaderNode(host::INode* node);
    int WriteAnimation(std::string& path, host::Interface* ip);
    int WriteAnimationNodes(host::INode* node, host::TimeValue t);
    int WriteAnimationTransform(host::INode* node, host::TimeValue t);

    void Assert1(int line);
    void Warn(std::string_view message);
    const std::vector<FileFailureRecord>& Failures() const { return failures; }

    // Fields, in the order the exporter has always held them (options grouped).
    ExportOptions options;
    host::Point3 centreOffset;
    std::string headerPath;
    std::string animationPath;
    std::string basePath;
    std::string nodeFilePath;
    host::TimeValue exportTime = 0;
    int32_t vertexBase = 0;
    int32_t tagCounter = 0;
    int32_t topLevelCount = 0;
    VertexTable vertexTable;
    host::Matrix3 normaliseTM;
    host::Matrix3 normaliseInvTM;

    ScriptWriter writer;  // outFile, indent, failed
    host::Interface* ip = nullptr;
    std::vector<FileFailureRecord> failures;
    bool cancelled = false;  // the last DoExport ended at the dialog's Cancel

private:
    int RunExport(const char* name, void* expInterface, host::Interface* ip, int suppressPrompts);

    std::string line_;      // formatting scratch, reused for every line
    bool textured_ = false;  // the mesh being written has texture vertices and faces
    int64_t nodesTotal_ = 0;
    int64_t nodesWritten_ = 0;
};

}  // namespace qsx
