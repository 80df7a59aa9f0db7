// The export run: the options dialog, then the script pass, the header pass
// and the animation pass, each over files of its own; a file that fails is
// dropped (what was at its path stays), recorded and reported, and the later
// passes still run.
#include <algorithm>
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

void QsxExport::PlanFiles(const std::string& output, std::vector<std::string>* paths,
                          std::vector<const char*>* kinds) {
    paths->clear();
    kinds->clear();
    if (options.hierarchyType == HIER_SEPARATE) {
        // The nodes the script pass writes, in its order: renderable ones
        // whose ancestors are all renderable.
        const host::TimeValue t = ip->GetAnimRange().start;
        host::INode* root = ip->GetRootNode();
        std::vector<host::INode*> stack;
        for (int i = root ? root->NumberOfChildren() : 0; i-- > 0;) stack.push_back(root->GetChildNode(i));
        int32_t n = 0;
        while (!stack.empty()) {
            host::INode* node = stack.back();
            stack.pop_back();
            host::Object* obj = node ? node->EvalWorldState(t, 1) : nullptr;
            if (!obj || !obj->IsRenderable()) continue;
            paths->push_back(NodeFilePath(output, n++));
            kinds->push_back("script of a node");
            for (int i = node->NumberOfChildren(); i-- > 0;) stack.push_back(node->GetChildNode(i));
        }
    } else {
        paths->push_back(output);
        kinds->push_back("script");
    }
    if (options.saveHeader) {
        paths->push_back(util::SideFileName(output, ".qsh"));
        kinds->push_back("header file");
    }
    if (options.saveAnimation) {
        paths->push_back(util::SideFileName(output, ".qsv"));
        kinds->push_back("animation file");
    }
}

int QsxExport::FilesApproved(host::DialogWindow* dialog) {
    if (!ip) return 1;
    std::vector<std::string> paths;
    std::vector<const char*> kinds;
    PlanFiles(outputPath, &paths, &kinds);
    std::vector<host::PlannedFile> plan;
    plan.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) plan.push_back({paths[i].c_str(), kinds[i]});
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
