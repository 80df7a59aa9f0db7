// The export run: the options dialog, then the script pass, the header pass
// and the animation pass, each over files of its own; a file that fails is
// dropped (what was at its path stays), recorded and reported, and the later
// passes still run.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <vector>

#include "QsxExp/ClassDesc.h"
#include "QsxExp/OptionsDialog.h"
#include "QsxExp/QsxExport.h"
#include "QsxExp/WindowSystem.h"
#include "util/Paths.h"

namespace qsx {

QsxExport::QsxExport() {
    normaliseTM.IdentityMatrix();
    normaliseTM.SetRow(0, {1, 0, 0});
    normaliseTM.SetRow(1, {0, 0, -1});
    normaliseTM.SetRow(2, {0, 1, 0});
    normaliseInvTM = host::Inverse(normaliseTM);
    vertexBase = 0;
    options.textureFlags = 0;
}

const char* QsxExport::AuthorName() { return "The qsxexport developers"; }
const char* QsxExport::CopyrightMessage() { return "Copyright (C) 2026 The qsxexport developers"; }

void QsxExport::Assert1(int line) {
    if (ip) ip->Assert1(line, kSourceName);
}

void QsxExport::Warn(std::string_view message) {
    if (ip) ip->Warning(message);
}

void QsxExport::Warn(const std::string& path, std::string_view message) {
    if (ip) ip->FileWarning(path, message);
}

void QsxExport::FileFailed(const std::string& path, const std::string& reason) {
    failures.push_back({path, reason});
    if (ip) ip->FileFailure(path, reason);
}

bool QsxExport::OpenFile(const std::string& path) {
    if (writer.Open(path)) return true;
    writer.failed = 1;
    FileFailed(path, writer.errorText);
    return false;
}

// Publishes the file, or drops it when its pass failed: a failed file never
// replaces what was at its path.
void QsxExport::FinishFile(const std::string& path) {
    writer.Close();
    if (writer.failed) FileFailed(path, writer.errorText.empty() ? "write failed" : writer.errorText);
}

std::string QsxExport::NodeFilePath(std::string_view base, int32_t n) {
    std::string path(base.substr(0, std::min(util::ExtensionDot(base), base.size())));
    path += std::to_string(n);
    path += ".QSX";
    return path;
}

namespace {

// The estimate's idea of the lines the passes write: a number "% 4.6f" with
// its blank takes 11 chars below 100 in magnitude (a scene scaled to a size
// rarely holds larger ones), a line ends in CR LF, a block is 4 blanks in.
constexpr uint64_t kNumber = 11;
constexpr uint64_t kLineEnd = 2;
constexpr uint64_t kIndent = 4;
// A material's statements (modes, colours, texture) with their blank line.
constexpr uint64_t kMaterialLines = 11, kMaterialText = 300;
// The first line, the model block and the wrapper clump of a script; the
// three opening lines of the header.
constexpr uint64_t kModelBytes = 128, kHeaderOpening = 96;

uint64_t Digits(uint64_t n) {
    uint64_t d = 1;
    for (; n >= 10; n /= 10) ++d;
    return d;
}

// a * b, or the largest value where that would not fit.
uint64_t Times(uint64_t a, uint64_t b) { return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b; }
uint64_t Plus(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// The node's lines in a script, from its first at `level` blocks in to its
// last; its mesh and material by their counts, each line as deep as the
// deepest of the node's own (children not included). *vertexBase numbers
// the vertices of a flat single clump across nodes.
uint64_t NodeScriptBytes(host::INode* node, host::Object* obj, int mode, uint64_t level, uint64_t tag,
                         uint64_t* vertexBase) {
    // "# name", "", TransformBegin, Transform, "", Hints, TransformEnd.
    uint64_t lines = 7, text = 2 + node->GetName().size() + 14 + 9 + 16 * kNumber + 17 + 12;
    if (mode != HIER_FLAT_SINGLE) {
        lines += 3;  // ClumpBegin, Tag, ClumpEnd
        text += 10 + 4 + Digits(tag) + 9;
    }
    if (host::TriObject* tri = obj->ConvertToType(0, host::TRIOBJ_CLASS_ID)) {
        const host::Mesh& mesh = tri->GetMesh();
        const uint64_t nV = mesh.verts.size(), nF = mesh.faces.size(), nT = mesh.tVerts.size();
        const bool textured = nT > 0 && mesh.tvFaces.size() == nF;
        // A textured vertex is written once per texture vertex it meets. A
        // mapping shares its texture vertices between vertices, or splits them
        // at seams, or gives each corner its own: the larger count is the number
        // of lines, three a face at most.
        const uint64_t written = textured ? std::min(3 * nF, std::max(nV, nT)) : nV;
        lines += written + 1 + nF + 1;
        text += written * (6 + 3 * kNumber + (textured ? 3 + 2 * kNumber : 0));
        text += nF * (11 + 3 * Digits(*vertexBase + written));
        if (mode == HIER_FLAT_SINGLE) *vertexBase += written;
        host::Mtl* m = node->GetMtl();
        uint64_t materials = 0;
        if (m && m->ClassID() == host::STANDARD_MATERIAL_CLASS_ID) materials = 1;
        // A multi-material writes a sub-material wherever the faces' sub-material
        // changes, which it can only where their material id does.
        if (m && m->NumSubMtls() > 0 && m->ClassID() == host::MULTI_MATERIAL_CLASS_ID) {
            int last = -1;
            for (const host::Face& f : mesh.faces) {
                materials += f.getMatID() != last;
                last = f.getMatID();
            }
        }
        lines += materials * kMaterialLines;
        text += materials * kMaterialText;
        if (static_cast<host::Object*>(tri) != obj) tri->DeleteThis();
    }
    return Plus(text, Times(lines, kLineEnd + kIndent * (level + 2)));
}

}  // namespace

std::vector<QsxExport::PlannedPath> QsxExport::PlanFiles(const std::string& output) {
    std::vector<PlannedPath> files;
    const int mode = options.hierarchyType;
    const host::TimeValue t = ip->GetAnimRange().start;
    host::INode* root = ip->GetRootNode();
    const int top = root ? root->NumberOfChildren() : 0;
    // The model block, and the clump that wraps several top-level nodes.
    const uint64_t base = 1 + (top > 1 || mode == HIER_FLAT_SINGLE ? 1 : 0);

    // One walk in the script pass's order. It writes the renderable nodes
    // whose ancestors are all renderable; the animation pass every renderable
    // node; only a preserved hierarchy nests a node's children in its blocks,
    // where each level is two blocks deeper and every line of a deep tree
    // carries the indentation.
    struct Visit {
        host::INode* node;
        uint64_t depth;
        bool written;  // its ancestors are all written
    };
    std::vector<Visit> stack;
    for (int i = top; i-- > 0;) stack.push_back({root->GetChildNode(i), 0, true});
    uint64_t script = kModelBytes, header = kHeaderOpening, tags = 0, animated = 0, vertices = 0;
    while (!stack.empty()) {
        const Visit v = stack.back();
        stack.pop_back();
        if (!v.node) continue;
        host::Object* obj = v.node->EvalWorldState(t, 1);
        const bool renderable = obj && obj->IsRenderable();
        if (renderable) ++animated;
        const bool written = v.written && renderable;
        if (written) {
            ++tags;
            const uint64_t level = base + (mode == HIER_PRESERVE ? 2 * v.depth : 0);
            const uint64_t bytes = NodeScriptBytes(v.node, obj, mode, level, tags, &vertices);
            if (mode == HIER_SEPARATE) {
                files.push_back({NodeFilePath(output, static_cast<int32_t>(tags - 1)), "script of a node",
                                 kModelBytes + bytes});
            } else {
                script = Plus(script, bytes);
            }
            // "#define TAG_name N", room for "_N" when a name comes twice.
            header += 12 + v.node->GetName().size() + 2 * (1 + Digits(tags)) + kLineEnd;
        }
        for (int i = v.node->NumberOfChildren(); i-- > 0;)
            stack.push_back({v.node->GetChildNode(i), v.depth + (written ? 1 : 0), written});
    }
    if (mode != HIER_SEPARATE) files.insert(files.begin(), {output, "script", script});
    if (options.saveHeader) files.push_back({util::SideFileName(output, ".qsh"), "header file", header});
    if (options.saveAnimation) {
        const host::Interval range = ip->GetAnimRange();
        const int ticksPerFrame = ip->GetTicksPerFrame();
        const uint64_t frames =
            ticksPerFrame > 0 ? static_cast<uint64_t>((int64_t{range.end} - range.start) / ticksPerFrame) : 0;
        // "Frame N", then "Transform TAG" and twelve numbers for each node.
        const uint64_t frame = 6 + Digits(frames) + kLineEnd + animated * (10 + Digits(animated) + 12 * kNumber + kLineEnd);
        files.push_back({util::SideFileName(output, ".qsv"), "animation file", Times(frames, frame)});
    }
    return files;
}

int QsxExport::FilesApproved(host::DialogWindow* dialog) {
    if (!ip) return 1;
    const std::vector<PlannedPath> files = PlanFiles(outputPath);
    std::vector<host::PlannedFile> plan;
    plan.reserve(files.size());
    for (const PlannedPath& f : files) plan.push_back({f.path.c_str(), f.kind, f.estimatedBytes});
    const std::string refusal(ip->ApproveFiles(plan.data(), plan.size()));
    if (refusal.empty()) return 1;
    dialog->MessageBox(refusal.c_str(), kWarningCaption, host::MB_OK | host::MB_ICONWARNING);
    return 0;
}

void QsxExport::PublishFiles() {
    writer.Files().Publish([this](const std::string& path, const std::string& error) {
        if (!error.empty()) {
            FileFailed(path, error);
        } else if (ip) {
            ip->FileWritten(path);
        }
    });
}

void QsxExport::BeginPass(host::INode* root) {
    topLevelCount = root->NumberOfChildren();
    writer.Reset();
    tagCounter = 0;
    materialText_.clear();
}

int QsxExport::DoExport(const char* name, void*, host::Interface* hostIp, int) {
    ip = hostIp;
    // Nothing may leave the library as an exception: it becomes a failed export.
    std::string reason;
    try {
        return RunExport(name);
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::exception& e) {
        try {
            reason = std::string("export stopped: ") + e.what();
        } catch (...) {
            reason = "out of memory";  // short enough to need no allocation
        }
    } catch (...) {
        reason = "export stopped by an unexpected error";
    }
    // The file that was being written is unfinished: it is dropped, not published.
    // The report takes memory as well; without any, the answer 0 is all the host gets.
    try {
        writer.Fail(reason);
        writer.Close();
        // Files finished before the stop are whole: they go in place as in any run.
        PublishFiles();
        FileFailed(name ? name : "", reason);
    } catch (...) {
        writer.Files().DropUnpublished();
    }
    return 0;
}

int QsxExport::RunExport(const char* name) {
    failures.clear();
    cancelled = false;
    outputPath = name ? name : "";

    host::INode* root = ip->GetRootNode();
    headerPath = util::SideFileName(outputPath, ".qsh");
    animationPath = util::SideFileName(outputPath, ".qsv");

    // The template comes from this library's resources where the window system makes dialogs from them.
    host::DialogTemplate dialog = OptionsDialogTemplate();
    dialog.module = ModuleInstance();
    if (RunOptionsDialog(ip, dialog, OptionsDialogProc, reinterpret_cast<intptr_t>(this)) != 1) {
        cancelled = true;
        return 1;
    }

    const intptr_t cursor = ShowWaitCursor();
    exportTime = ip->GetAnimRange().start;
    BeginPass(root);
    if (options.hierarchyType < HIER_PRESERVE || options.hierarchyType > HIER_SEPARATE) {
        // A list shows nothing for a stored index outside it, and OK reads that as -1.
        Warn(options.hierarchyType == -1
                 ? std::string("no hierarchy type is selected in the options dialog (the stored one is not in its "
                               "list); the hierarchy is preserved")
                 : "hierarchy type " + std::to_string(options.hierarchyType) +
                       " is not in the options dialog's list; the hierarchy is preserved");
        options.hierarchyType = HIER_PRESERVE;
    }

    // A scale that cannot be used refuses the export before any file is opened.
    if (!ComputeNormalisation(root)) {
        RestoreCursor(cursor);
        return 0;
    }

    // Script pass: in separate mode each node opens its own file.
    nodesWritten_ = 0;
    coincidentTriangles_ = 0;
    if (options.hierarchyType == HIER_SEPARATE) {
        basePath = outputPath;
        for (int i = 0; i < topLevelCount && !writer.failed; ++i) WriteNode(root->GetChildNode(i));
    } else if (OpenFile(outputPath)) {
        if (BeginModel()) {
            for (int i = 0; i < topLevelCount && !writer.failed; ++i) WriteNode(root->GetChildNode(i));
        }
        EndModel();
        FinishFile(outputPath);
    }
    // A triangle without area draws nothing, but the user counted it.
    if (coincidentTriangles_ > 0)
        Warn("left out " + std::to_string(coincidentTriangles_) +
             (coincidentTriangles_ == 1 ? " triangle whose corners coincide" : " triangles whose corners coincide"));

    // Header pass.
    if (options.saveHeader) {
        BeginPass(root);
        if (OpenFile(headerPath)) {
            if (BeginHeader()) {
                for (int i = 0; i < topLevelCount && !writer.failed; ++i) WriteHeaderNode(root->GetChildNode(i));
            }
            FinishFile(headerPath);
        }
    }

    // Animation pass.
    if (options.saveAnimation) WriteAnimation(animationPath, ip);

    PublishFiles();
    if (options.hierarchyType == HIER_FLAT_SINGLE && (options.saveHeader || options.saveAnimation)) {
        const char* files = options.saveHeader && options.saveAnimation ? "header and animation files"
                            : options.saveHeader                         ? "header file"
                                                                         : "animation file";
        Warn(options.saveHeader ? headerPath : animationPath,
             std::string("the hierarchy is flat (single clump): the script has no Tag lines for the numbers in the ") +
                 files);
    }
    RestoreCursor(cursor);
    return failures.empty() ? 1 : 0;
}

}  // namespace qsx
