// The script pass over the nodes: the scene's bounds and the normalisation
// they give, each node's output transform, and the node's blocks in the
// nesting its hierarchy mode asks for.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "QsxExp/LineBuilder.h"
#include "QsxExp/QsxExport.h"
#include "QsxExp/resource.h"
#include "util/Paths.h"
#include "util/Text.h"

namespace qsx {

using host::INode;
using host::Matrix3;
using host::Object;
using host::Point3;

namespace {

constexpr const char* kFactorRange =
    "outside the range where a float and its reciprocal are both finite (about 3e-39 to 3e+38)";

// "%g" of a value for a message, whatever the process locale.
std::string Shown(double value, int digits = 6) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits).ptr);
}

float LargestMagnitude(float largest, const Point3& p) {
    return std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
}

// A limit to 3 significant digits, rounded to the side of 1 so that the
// number shown is inside it.
double RoundedTowardOne(double limit) {
    const double unit = std::pow(10.0, std::floor(std::log10(limit)) - 2);
    return (limit > 1.0 ? std::floor(limit / unit) : std::ceil(limit / unit)) * unit;
}

bool IsFinite(const Matrix3& m) {
    for (int row = 0; row < 4; ++row)
        if (!std::isfinite(m[row].x) || !std::isfinite(m[row].y) || !std::isfinite(m[row].z)) return false;
    return true;
}

// Every position is multiplied by the factor and every node transform by its
// inverse as well: both must be finite floats.
bool UsableFactor(float s) { return s > 0.0f && std::isfinite(s) && std::isfinite(1.0f / s); }

}  // namespace

// ---------------------------------------------------------------- transforms

host::Box3 QsxExport::ComputeSceneBounds(INode* node) {
    const int n = node->NumberOfChildren();
    host::Box3 box;
    Object* obj = node->EvalWorldState(exportTime, 1);
    if (obj && obj->IsRenderable()) {
        Matrix3 tm = node->GetNodeTM(exportTime);
        tm.SetTrans(tm.GetTrans() + node->GetObjOffsetPos());
        obj->GetDeformBBox(exportTime, box, &tm, 0);
    }
    for (int i = 0; i < n; ++i) {
        const host::Box3 b = ComputeSceneBounds(node->GetChildNode(i));
        for (int k = 0; k < 3; ++k) {
            if (box.pmin[k] > b.pmin[k]) box.pmin[k] = b.pmin[k];
            if (box.pmax[k] < b.pmax[k]) box.pmax[k] = b.pmax[k];
        }
    }
    ++nodesTotal_;
    return box;
}

bool QsxExport::ComputeNormalisation(INode* root) {
    nodesTotal_ = 0;
    identityWarned_.clear();
    const host::Box3 box = ComputeSceneBounds(root);
    const float asked = options.scaleFactor;
    float extent = 0.0f;  // the scene's largest extent when the factor scales it to a size
    if (options.scaleType == 0) {
        float e = box.pmax.x - box.pmin.x;
        const float ey = box.pmax.y - box.pmin.y;
        if (ey > e) e = ey;
        const float ez = box.pmax.z - box.pmin.z;
        if (ez > e) e = ez;
        if (!(e > 0.0f) || !std::isfinite(e)) {
            Warn("the scene has no measurable extent to scale to; scaling by 1");
            options.scaleFactor = 1.0f;
        } else if (const float factor = asked / e; !UsableFactor(factor)) {
            if (ip)
                ip->ExportRefused(IDC_SCALEFACTOR,
                                  "scaling to " + Shown(asked) + " needs the factor " + Shown(double{asked} / e) +
                                      " for the scene's largest extent " + Shown(e) + ", " + kFactorRange);
            return false;
        } else {
            options.scaleFactor = factor;
            extent = e;
        }
    }
    const float s = options.scaleFactor;
    if (!UsableFactor(s)) {
        if (ip) ip->ExportRefused(IDC_SCALEFACTOR, "scaling by " + Shown(s) + " is " + kFactorRange);
        return false;
    }
    SetNormalisation(s);
    if (options.centre) {
        for (int k = 0; k < 3; ++k) {
            const double mx = box.pmax[k], mn = box.pmin[k];
            centreOffset[k] = static_cast<float>(-(mx - (mx - mn) * 0.5));
        }
    } else {
        centreOffset = {0, 0, 0};
    }
    // Numbers that leave the float range unscaled as well are not the
    // factor's doing: the file they would be written to fails, as any does.
    // At the factor 1 every such number is the scene's own, so the walk
    // over every vertex would decide nothing.
    if (s == 1.0f || ScaledNumbersFinite(root)) return true;
    SetNormalisation(1.0f);
    if (!ScaledNumbersFinite(root)) {
        SetNormalisation(s);
        return true;
    }
    const float limit = FactorLimit(root, s);
    SetNormalisation(s);
    if (ip) {
        std::string why = extent > 0.0f ? "scaling to " + Shown(asked) + " needs the factor " + Shown(s) +
                                              " for the scene's largest extent " + Shown(extent) + ", which"
                                        : "scaling by " + Shown(s);
        why += " takes numbers of this scene beyond the float range: it can be scaled ";
        why += extent > 0.0f ? "to sizes " : "by factors ";
        why += (s > 1.0f ? "up to about " : "down to about ") +
               Shown(RoundedTowardOne(double{limit} * (extent > 0.0f ? extent : 1.0f)), 3);
        ip->ExportRefused(IDC_SCALEFACTOR, why);
    }
    return false;
}

void QsxExport::SetNormalisation(float s) {
    normaliseTM.IdentityMatrix();
    normaliseTM.SetRow(0, {s, 0, 0});
    normaliseTM.SetRow(1, {0, 0, -s});
    normaliseTM.SetRow(2, {0, s, 0});
    // Inverse divides the cofactors s*s by the determinant s*s*s. Where that
    // determinant and its reciprocal are normal floats (s within about 2e-13
    // to 4e12) its result is what it has always been; beyond, it loses
    // precision, gives zeros or is not finite, and the exact inverse is used.
    const float det = s * (s * s);
    if (std::isnormal(det) && std::isnormal(1.0f / det)) {
        normaliseInvTM = host::Inverse(normaliseTM);
    } else {
        const float r = 1.0f / s;
        normaliseInvTM.IdentityMatrix();
        normaliseInvTM.SetRow(0, {r, 0, 0});
        normaliseInvTM.SetRow(1, {0, 0, r});
        normaliseInvTM.SetRow(2, {0, -r, 0});
    }
}

// The factors a scene can use run from 1 (tried already) towards the one
// refused; positive floats are ordered as their bit patterns, so halving the
// patterns between finds the last usable factor in some 31 walks of the scene.
float QsxExport::FactorLimit(INode* root, float refused) {
    uint32_t good = std::bit_cast<uint32_t>(1.0f), bad = std::bit_cast<uint32_t>(refused);
    while (good + 1 < bad || bad + 1 < good) {
        const uint32_t mid = good < bad ? good + (bad - good) / 2 : bad + (good - bad) / 2;
        SetNormalisation(std::bit_cast<float>(mid));
        (ScaledNumbersFinite(root) ? good : bad) = mid;
    }
    return std::bit_cast<float>(good);
}

bool QsxExport::ScaledNumbersFinite(INode* root) {
    float vertex = 0.0f;
    bool transforms = true;
    MeasureScaled(root, &vertex, &transforms);
    // A vertex is written multiplied by the factor: the largest decides.
    return transforms && std::isfinite(vertex * normaliseTM[0].x);
}

void QsxExport::MeasureScaled(INode* node, float* vertex, bool* transformsFinite) {
    const int n = node->NumberOfChildren();
    for (int i = 0; i < n; ++i) {
        INode* child = node->GetChildNode(i);
        // What the script pass skips, with all beneath it, is not measured.
        Object* obj = child->EvalWorldState(exportTime, 1);
        if (!obj || !obj->IsRenderable()) continue;
        Matrix3 written = ComposeNodeTransform(child->GetNodeTM(exportTime));
        if (options.hierarchyType == HIER_PRESERVE) {
            Matrix3 relative;
            RelativeTransform(child, written, exportTime, &relative);
            written = relative;
        }
        if (!IsFinite(written)) *transformsFinite = false;

        // The vertices as the mesh block writes them, before the factor: the
        // offset added to each. Their box spares converting the object twice.
        Matrix3 r;
        host::MakeMatrix(child->GetObjOffsetRot(), r);
        Matrix3 offset;
        offset.IdentityMatrix();
        offset.SetTrans(r * child->GetObjOffsetPos());
        host::Box3 box;
        obj->GetDeformBBox(exportTime, box, &offset, 0);
        if (!box.IsEmpty()) *vertex = LargestMagnitude(LargestMagnitude(*vertex, box.pmin), box.pmax);
        MeasureScaled(child, vertex, transformsFinite);
    }
}

Matrix3 QsxExport::ComposeNodeTransform(Matrix3 matrix) const {
    Matrix3 t;
    t.IdentityMatrix();
    t.SetRow(3, centreOffset);
    return ((normaliseInvTM * matrix) * t) * normaliseTM;
}

bool QsxExport::RelativeTransform(INode* node, const Matrix3& m, host::TimeValue t, Matrix3* out) const {
    INode* parent = node->GetParentNode();
    if (!parent || parent->IsRootNode()) {
        *out = m;
        return true;
    }
    const Matrix3 inverse = host::Inverse(ComposeNodeTransform(parent->GetNodeTM(t)));
    // A parent scaled to nothing (a common way of hiding a subtree) takes the
    // node with it whatever its own transform: the identity keeps it there.
    *out = IsFinite(inverse) ? m * inverse : Matrix3{};
    return IsFinite(inverse);
}

Matrix3 QsxExport::RelativeToParent(INode* node, const Matrix3& m, host::TimeValue t) {
    Matrix3 relative;
    if (RelativeTransform(node, m, t, &relative)) return relative;
    if (identityWarned_.insert(node).second)
        Warn("node " + util::Quoted(node->GetName()) + " is written with the identity transform: the transform of "
             "its parent " + util::Quoted(node->GetParentNode()->GetName()) +
             " cannot be inverted (a zero scale, or numbers that are not finite)");
    return relative;
}

// ---------------------------------------------------------------- nodes

int QsxExport::WriteNode(INode* node) {
    Object* obj = node->EvalWorldState(exportTime, 1);
    if (!obj || !obj->IsRenderable()) return writer.failed ? 0 : 1;
    const int mode = options.hierarchyType;

    if (mode == HIER_SEPARATE) {
        // The file is numbered by the tags written before it.
        nodeFilePath = NodeFilePath(basePath, tagCounter);
        if (!OpenFile(nodeFilePath)) return 0;
    }
    {
        // The node's blocks, in separate mode inside the model block of its own file.
        ScriptWriter::Scope blocks(writer);
        if (mode == HIER_SEPARATE) BeginModel();
        BeginNode(node, obj);
        // Only the preserved hierarchy holds the children inside the node's blocks.
        if (mode != HIER_PRESERVE) blocks.End();
        if (mode == HIER_SEPARATE) FinishFile(nodeFilePath);
        ++nodesWritten_;
        if (ip) ip->Progress("Writing script", nodesWritten_, nodesTotal_);

        const int n = node->NumberOfChildren();
        for (int i = 0; i < n && !writer.failed; ++i) WriteNode(node->GetChildNode(i));
    }
    return writer.failed ? 0 : 1;
}

void QsxExport::BeginNode(INode* node, Object* obj) {
    ScriptWriter& w = writer;
    const std::string_view name = node->GetName();
    Line(w, 2 + name.size()).Text("# ").Name(name).End();
    w.WriteLine("");

    Matrix3 W = ComposeNodeTransform(node->GetNodeTM(exportTime));
    if (options.hierarchyType == HIER_PRESERVE) W = RelativeToParent(node, W, exportTime);

    w.BeginBlock("TransformBegin", "TransformEnd");
    Line transform(w, 9 + 16 * kRoomFixed);
    transform.Text("Transform");
    float numbers[16];
    for (int row = 0; row < 4; ++row) {
        numbers[4 * row] = W[row].x;
        numbers[4 * row + 1] = W[row].y;
        numbers[4 * row + 2] = W[row].z;
        numbers[4 * row + 3] = row == 3 ? 1.0f : 0.0f;
    }
    transform.Fixed(numbers);
    transform.End();
    w.WriteLine("");

    if (options.hierarchyType != HIER_FLAT_SINGLE) {
        w.BeginBlock("ClumpBegin", "ClumpEnd");
        ++tagCounter;
        Line(w, 4 + kRoomInt).Text("Tag ").Int(tagCounter).End();
    }
    w.WriteLine(options.hints == 1 ? "Hints HS" : options.hints == 2 ? "Hints HS Editable" : "Hints NULL");
    WriteMeshBlock(node, obj);
}

}  // namespace qsx
