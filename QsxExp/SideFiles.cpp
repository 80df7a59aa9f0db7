// The side files beside the script: the header of tag names (.qsh) and the
// animation of per-frame node transforms (.qsv), both tagged in the order
// the script pass tags its nodes.
#include "QsxExp/LineBuilder.h"
#include "QsxExp/QsxExport.h"

namespace qsx {

using host::INode;
using host::Matrix3;
using host::Object;

// ---------------------------------------------------------------- header

int QsxExport::BeginHeader() {
    headerNames_.clear();
    writer.WriteLine("// Quorvantis(tm) script header file");
    writer.WriteLine("// Output from 3DSMax Quorvantis file export plug-in");
    writer.WriteLine("");
    return writer.failed ? 0 : 1;
}

int QsxExport::WriteHeaderNode(INode* node) {
    Object* obj = node->EvalWorldState(exportTime, 1);
    if (!obj || !obj->IsRenderable()) return writer.failed ? 0 : 1;
    const int n = node->NumberOfChildren();
    ++tagCounter;
    const std::string name = HeaderMacroName(node->GetName(), tagCounter);
    Line(writer, 12 + name.size() + 1 + kRoomInt).Text("#define TAG_").Text(name).Char(' ').Int(tagCounter).End();
    for (int i = 0; i < n; ++i) WriteHeaderNode(node->GetChildNode(i));
    return writer.failed ? 0 : 1;
}

// The header is included by C code, so a node name with blanks, dots or
// non-ASCII bytes must still give one identifier, and two nodes of one name
// two macros. A name made from another ("A" twice next to a node called
// "A_3") can meet an earlier one again; the tag is appended until none does.
std::string QsxExport::HeaderMacroName(std::string_view name, int32_t tag) {
    std::string id;
    if (name.empty()) {
        id = std::to_string(tag);
    } else {
        id.reserve(name.size());
        for (char c : name) {
            const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
            id.push_back(keep ? c : '_');
        }
    }
    // Built by appending: MinGW's GCC 12 takes "_" + to_string() for an
    // overlapping copy and warns (-Wrestrict), which the Windows build treats as an error.
    std::string suffix(1, '_');
    suffix += std::to_string(tag);
    while (!headerNames_.insert(id).second) id += suffix;
    return id;
}

// ---------------------------------------------------------------- animation

int QsxExport::WriteAnimation(const std::string& path, host::Interface* hostIp) {
    const host::Interval range = hostIp->GetAnimRange();
    const int ticksPerFrame = hostIp->GetTicksPerFrame();
    int64_t frameCount = 0;
    if (ticksPerFrame > 0) {
        frameCount = (static_cast<int64_t>(range.end) - range.start) / ticksPerFrame;
    } else {
        Warn("the scene reports " + std::to_string(ticksPerFrame) + " ticks per frame; no animation frame is written");
    }
    INode* root = hostIp->GetRootNode();
    BeginPass(root);
    if (!OpenFile(path)) return 1;
    for (int64_t i = 0; i < frameCount; ++i) {
        const auto t = static_cast<host::TimeValue>(range.start + i * ticksPerFrame);
        tagCounter = 0;
        Line(writer, 6 + kRoomInt).Text("Frame ").Int(static_cast<long>(i)).End();
        WriteAnimationNodes(root, t);
        hostIp->Progress("Writing animation", i + 1, frameCount);
    }
    FinishFile(path);
    return 1;
}

int QsxExport::WriteAnimationNodes(INode* node, host::TimeValue t) {
    const int n = node->NumberOfChildren();
    for (int i = 0; i < n; ++i) {
        INode* child = node->GetChildNode(i);
        WriteAnimationTransform(child, t);
        WriteAnimationNodes(child, t);
    }
    return 1;
}

int QsxExport::WriteAnimationTransform(INode* node, host::TimeValue t) {
    Object* obj = node->EvalWorldState(t, 1);
    if (!obj || !obj->IsRenderable()) return 1;
    Matrix3 m = ComposeNodeTransform(node->GetNodeTM(t));
    ++tagCounter;
    if (options.hierarchyType == HIER_PRESERVE) m = RelativeToParent(node, m, t);
    Line line(writer, 10 + kRoomInt + 12 * kRoomFixed);
    line.Text("Transform ").Int(tagCounter);
    for (int row = 0; row < 4; ++row) line.Fixed(m[row].x).Fixed(m[row].y).Fixed(m[row].z);
    line.End();
    return 1;
}

}  // namespace qsx
