#include "QsxExp/QsxExport.h"

#include <cmath>
#include <cstring>
#include <exception>

#include "QsxExp/NumberFormat.h"
#include "QsxExp/OptionsDialog.h"

namespace qsx {

using host::INode;
using host::Matrix3;
using host::Mtl;
using host::Object;
using host::Point3;

namespace {

// Where the last path component starts: names are cut at a '.' only there, so
// a dot in a folder name never cuts the path.
size_t LastComponentStart(std::string_view path) {
#ifdef _WIN32
    const size_t sep = path.find_last_of("/\\");
#else
    const size_t sep = path.rfind('/');
#endif
    return sep == std::string_view::npos ? 0 : sep + 1;
}

size_t ExtensionDot(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < LastComponentStart(path)) return std::string_view::npos;
    return dot;
}

void AppendNumber(std::string& s, long value) {
    char buf[24];
    s.append(buf, AppendInt(buf, value));
}

// Room a line needs for its parts; Line writes them straight into the
// writer's line buffer, which BeginLine has made at least that large.
constexpr size_t kRoomFixed = 1 + kMaxFixed6;  // " " and "% 4.6f"
constexpr size_t kRoomG = 1 + kMaxG4;          // " " and "%4g"
constexpr size_t kRoomInt = 24;                // "%ld", a blank before it included

class Line {
public:
    Line(ScriptWriter& w, size_t room) : w_(w), p_(w.BeginLine(room)) {}
    Line& Text(std::string_view s) {
        if (!s.empty()) std::memcpy(p_, s.data(), s.size());
        p_ += s.size();
        return *this;
    }
    // A name as the host gives it, except that a line break would end the
    // line in the middle of the name: CR and LF are written as blanks.
    Line& Name(std::string_view s) {
        for (char c : s) *p_++ = (c == '\r' || c == '\n') ? ' ' : c;
        return *this;
    }
    Line& Char(char c) {
        *p_++ = c;
        return *this;
    }
    Line& Fixed(double v) {
        *p_++ = ' ';
        p_ = AppendFixed6(p_, v);
        return *this;
    }
    Line& G(double v) {
        *p_++ = ' ';
        p_ = AppendG4(p_, v);
        return *this;
    }
    Line& Int(long v) {
        p_ = AppendInt(p_, v);
        return *this;
    }
    char* Pos() const { return p_; }
    void SetPos(char* p) { p_ = p; }
    int End() { return w_.EndLine(p_); }

private:
    ScriptWriter& w_;
    char* p_;
};

bool IsClass(const Mtl* m, host::Class_ID id) { return m && m->ClassID() == id; }

// U and V are brought into (0, 32] by steps of 32. Below 2^29 every float step
// is exact, so the closed form equals stepping one by one; above it, stepping
// in float would stall, and the closed form is the defined answer.
float ReduceTo32(float x) {
    if (!(x > 32.0f) || std::isinf(x)) return x;
    const double d = x;
    const double n = std::ceil((d - 32.0) / 32.0);
    return static_cast<float>(d - 32.0 * n);
}

}  // namespace

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

int QsxExport::LoadOptions() {
    qsx::LoadOptions(ip ? ip->GetRegistry() : nullptr, options);
    return 1;
}

int QsxExport::SaveOptions() {
    qsx::SaveOptions(ip ? ip->GetRegistry() : nullptr, options);
    return 1;
}

// ---------------------------------------------------------------- driver

std::string QsxExport::SideFileName(std::string_view path, std::string_view ext) {
    std::string out(path.substr(0, std::min(ExtensionDot(path), path.size())));
    out.append(ext);
    return out;
}

void QsxExport::FinishFile(const std::string& path) {
    writer.Close();
    if (writer.failed) {
        writer.Files().Remove(path);
        failures.push_back({path, writer.errorText.empty() ? "write failed" : writer.errorText});
        if (ip) ip->FileFailure(path, failures.back().reason);
    }
}

int QsxExport::DoExport(const char* name, void* ei, host::Interface* hostIp, int suppressPrompts) {
    // Nothing may leave the library as an exception: it becomes a failed export.
    try {
        return RunExport(name, ei, hostIp, suppressPrompts);
    } catch (const std::exception& e) {
        writer.Close();
        failures.push_back({name ? name : "", std::string("export stopped: ") + e.what()});
    } catch (...) {
        writer.Close();
        failures.push_back({name ? name : "", "export stopped by an unexpected error"});
    }
    if (hostIp) hostIp->FileFailure(failures.back().path, failures.back().reason);
    return 0;
}

int QsxExport::RunExport(const char* name, void*, host::Interface* hostIp, int) {
    ip = hostIp;
    failures.clear();
    cancelled = false;
    const std::string outputPath = name ? name : "";

    INode* root = ip->GetRootNode();
    headerPath = SideFileName(outputPath, ".qsh");
    animationPath = SideFileName(outputPath, ".qsv");

    if (ip->DialogBoxParam(OptionsDialogTemplate(), OptionsDialogProc, reinterpret_cast<intptr_t>(this)) != 1) {
        cancelled = true;
        return 1;
    }

    const intptr_t cursor = ip->SetWaitCursor();
    exportTime = ip->GetAnimRange().start;
    topLevelCount = root->NumberOfChildren();
    writer.failed = 0;
    writer.errorText.clear();
    writer.indent = 0;
    tagCounter = 0;
    if (options.hierarchyType < HIER_PRESERVE || options.hierarchyType > HIER_SEPARATE) {
        Warn("unknown hierarchy type " + std::to_string(options.hierarchyType) +
             " in the stored settings; the hierarchy is preserved");
        options.hierarchyType = HIER_PRESERVE;
    }

    ComputeNormalisation(root);

    // Script pass.
    nodesWritten_ = 0;
    if (options.hierarchyType == HIER_SEPARATE) {
        basePath = outputPath;
        for (int i = 0; i < topLevelCount && !writer.failed; ++i) WriteNode(root->GetChildNode(i));
    } else if (writer.Open(outputPath)) {
        if (BeginModel()) {
            for (int i = 0; i < topLevelCount && !writer.failed; ++i) WriteNode(root->GetChildNode(i));
            EndModel();
        }
        FinishFile(outputPath);
    } else {
        failures.push_back({outputPath, writer.errorText});
        ip->FileFailure(outputPath, writer.errorText);
    }

    // Header pass.
    if (options.saveHeader) {
        if (writer.Open(headerPath)) {
            topLevelCount = root->NumberOfChildren();
            writer.failed = 0;
            writer.errorText.clear();
            // A script pass stopped by a failed write can leave the indentation
            // raised; the header's lines always start in the first column.
            writer.indent = 0;
            tagCounter = 0;
            if (BeginHeader()) {
                for (int i = 0; i < topLevelCount && !writer.failed; ++i) WriteHeaderNode(root->GetChildNode(i));
            }
            FinishFile(headerPath);
        } else {
            failures.push_back({headerPath, writer.errorText});
            ip->FileFailure(headerPath, writer.errorText);
        }
    }

    // Animation pass.
    if (options.saveAnimation) WriteAnimation(animationPath, ip);

    ip->RestoreCursor(cursor);
    return failures.empty() ? 1 : 0;
}

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

void QsxExport::ComputeNormalisation(INode* root) {
    nodesTotal_ = 0;
    const host::Box3 box = ComputeSceneBounds(root);
    if (options.scaleType == 0) {
        float e = box.pmax.x - box.pmin.x;
        const float ey = box.pmax.y - box.pmin.y;
        if (ey > e) e = ey;
        const float ez = box.pmax.z - box.pmin.z;
        if (ez > e) e = ez;
        const float factor = options.scaleFactor / e;
        if (!(e > 0.0f) || !std::isfinite(e) || !std::isfinite(factor) || !(factor > 0.0f)) {
            Warn("the scene has no measurable extent to scale to; scaling by 1");
            options.scaleFactor = 1.0f;
        } else {
            options.scaleFactor = factor;
        }
    }
    const float s = options.scaleFactor;
    normaliseTM.IdentityMatrix();
    normaliseTM.SetRow(0, {s, 0, 0});
    normaliseTM.SetRow(1, {0, 0, -s});
    normaliseTM.SetRow(2, {0, s, 0});
    normaliseInvTM = host::Inverse(normaliseTM);
    if (options.centre) {
        for (int k = 0; k < 3; ++k) {
            const double mx = box.pmax[k], mn = box.pmin[k];
            centreOffset[k] = static_cast<float>(-(mx - (mx - mn) * 0.5));
        }
    } else {
        centreOffset = {0, 0, 0};
    }
}

Matrix3 QsxExport::ComposeNodeTransform(Matrix3 matrix) const {
    Matrix3 t;
    t.IdentityMatrix();
    t.SetRow(3, centreOffset);
    return ((normaliseInvTM * matrix) * t) * normaliseTM;
}

// ---------------------------------------------------------------- nodes

int QsxExport::WriteNode(INode* node) {
    Object* obj = node->EvalWorldState(exportTime, 1);
    if (!obj || !obj->IsRenderable()) return writer.failed ? 0 : 1;
    const int mode = options.hierarchyType;
    ScriptWriter& w = writer;

    if (mode == HIER_SEPARATE) {
        const size_t dot = ExtensionDot(basePath);
        nodeFilePath.assign(basePath, 0, dot == std::string::npos ? basePath.size() : dot);
        AppendNumber(nodeFilePath, tagCounter);
        nodeFilePath += ".QSX";
        if (!w.Open(nodeFilePath)) {
            w.failed = 1;
            failures.push_back({nodeFilePath, w.errorText});
            if (ip) ip->FileFailure(nodeFilePath, w.errorText);
            return 0;
        }
        BeginModel();
    }

    const std::string_view name = node->GetName();
    Line(w, 2 + name.size()).Text("# ").Name(name).End();
    w.WriteLine("");

    Matrix3 W = ComposeNodeTransform(node->GetNodeTM(exportTime));
    Matrix3 r;
    host::MakeMatrix(node->GetObjOffsetRot(), r);
    const Point3 offset = r * node->GetObjOffsetPos();
    if (mode == HIER_PRESERVE) {
        INode* parent = node->GetParentNode();
        if (parent && !parent->IsRootNode()) {
            const Matrix3 wp = ComposeNodeTransform(parent->GetNodeTM(exportTime));
            W = W * host::Inverse(wp);
        }
    }

    w.WriteLine("TransformBegin");
    w.indent += 4;
    Line transform(w, 9 + 16 * kRoomFixed);
    transform.Text("Transform");
    for (int row = 0; row < 4; ++row)
        transform.Fixed(W[row].x).Fixed(W[row].y).Fixed(W[row].z).Fixed(row == 3 ? 1.0 : 0.0);
    transform.End();
    w.WriteLine("");

    if (mode != HIER_FLAT_SINGLE) {
        w.WriteLine("ClumpBegin");
        w.indent += 4;
        ++tagCounter;
        Line(w, 4 + kRoomInt).Text("Tag ").Int(tagCounter).End();
    }
    w.WriteLine(options.hints == 1 ? "Hints HS" : options.hints == 2 ? "Hints HS Editable" : "Hints NULL");

    Mtl* material = node->GetMtl();
    host::TriObject* tri = obj->ConvertToType(0, host::TRIOBJ_CLASS_ID);
    if (tri) {
        const host::Mesh& mesh = tri->GetMesh();
        if (BuildVertexTable(mesh)) {
            WriteVertices(mesh, offset);
            WriteTriangles(mesh, material);
        } else {
            w.Fail("out of memory for the vertex table of node \"" + std::string(node->GetName()) + "\"");
        }
        FreeVertexTable();
        if (static_cast<Object*>(tri) != obj) tri->DeleteThis();
    }

    if (mode == HIER_FLAT_MULTIPLE) {
        w.indent -= 4;
        w.WriteLine("ClumpEnd");
    }
    if (mode == HIER_FLAT_SINGLE || mode == HIER_FLAT_MULTIPLE) {
        w.indent -= 4;
        w.WriteLine("TransformEnd");
    }
    if (mode == HIER_SEPARATE) {
        w.indent -= 4;
        w.WriteLine("ClumpEnd");
        w.indent -= 4;
        w.WriteLine("TransformEnd");
        EndModel();
        FinishFile(nodeFilePath);
    }
    ++nodesWritten_;
    if (ip) ip->Progress("Writing script", nodesWritten_, nodesTotal_);

    const int n = node->NumberOfChildren();
    for (int i = 0; i < n; ++i) {
        if (w.failed) break;
        WriteNode(node->GetChildNode(i));
    }

    if (mode == HIER_PRESERVE) {
        w.indent -= 4;
        w.WriteLine("ClumpEnd");
        w.indent -= 4;
        w.WriteLine("TransformEnd");
    }
    return w.failed ? 0 : 1;
}

// ---------------------------------------------------------------- vertices

int QsxExport::BuildVertexTable(const host::Mesh& mesh) {
    const size_t nV = mesh.verts.size();
    const size_t nF = mesh.faces.size();
    // Texture vertices count only with a texture face for every face.
    const bool textured = !mesh.tVerts.empty() && mesh.tvFaces.size() == nF;
    const size_t nT = textured ? mesh.tVerts.size() : 0;
    if (!vertexTable.Allocate(nV, nT)) return 0;
    if (nT > 0) {
        uint8_t* used = vertexTable.texVertUsed();
        for (size_t f = 0; f < nF; ++f) {
            const host::Face& face = mesh.faces[f];
            const host::TVFace& tface = mesh.tvFaces[f];
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = face.v[c];
                const uint32_t t = tface.t[c];
                if (v >= nV || t >= nT) {
                    Assert1(__LINE__);
                    continue;
                }
                if (vertexTable.Slot(v).count >= 50) Assert1(800);
                used[t] = 1;
                if (vertexTable.Find(v, static_cast<int32_t>(t)) < 0 &&
                    !vertexTable.Append(v, static_cast<int32_t>(t))) {
                    vertexTable.Free();
                    return 0;
                }
            }
        }
    }
    int32_t total = 0;
    for (size_t v = 0; v < nV; ++v) {
        VertexSlot& s = vertexTable.Slot(v);
        s.first = total;
        total += s.count;
    }
    textured_ = nT > 0;
    return 1;
}

void QsxExport::WriteVertices(const host::Mesh& mesh, Point3 offset) {
    float uShift = 0.0f, vShift = 0.0f;
    if (textured_) {
        float minU = 3.4028235e38f;
        float maxV = 1.1754944e-38f;
        const uint8_t* used = vertexTable.texVertUsed();
        const size_t nT = vertexTable.TexVertCount();
        for (size_t t = 0; t < nT; ++t) {
            if (!used[t]) continue;
            const Point3& tv = mesh.tVerts[t];
            if (tv.x < minU) minU = tv.x;
            if (tv.y > maxV) maxV = tv.y;
        }
        uShift = static_cast<float>(-std::floor(static_cast<double>(minU)));
        const double mv = maxV;
        vShift = static_cast<float>(mv + (1.0 - (mv - std::floor(mv))));
    }
    vertexTable.FreeTexVertUsed();

    ScriptWriter& w = writer;
    const size_t nV = mesh.verts.size();
    constexpr size_t kRoomVertex = 6 + 3 * kRoomFixed + 3 + 2 * kRoomFixed;
    // The position part of a vertex that has several texture vertices is
    // formatted once and copied into each of its lines.
    char position[6 + 3 * kRoomFixed];
    for (size_t i = 0; i < nV; ++i) {
        const Point3& v = mesh.verts[i];
        const Point3 p{v.x + offset.x, v.y + offset.y, v.z + offset.z};
        const Point3 q = p * normaliseTM;
        if (!textured_) {
            Line(w, kRoomVertex).Text("Vertex").Fixed(q.x).Fixed(q.y).Fixed(q.z).End();
            continue;
        }
        const VertexSlot& s = vertexTable.Slot(i);
        size_t positionSize = 0;
        for (int32_t k = 0; k < s.count; ++k) {
            const Point3& tv = mesh.tVerts[static_cast<size_t>(vertexTable.Entry(i, k))];
            const float U = ReduceTo32(uShift + tv.x);
            const float V = ReduceTo32(vShift - tv.y);
            Line line(w, kRoomVertex);
            if (k == 0) {
                char* const start = line.Pos();
                line.Text("Vertex").Fixed(q.x).Fixed(q.y).Fixed(q.z);
                positionSize = static_cast<size_t>(line.Pos() - start);
                if (s.count > 1) std::memcpy(position, start, positionSize);
            } else {
                line.Text(std::string_view(position, positionSize));
            }
            line.Text(" UV").Fixed(U).Fixed(V).End();
        }
    }
    w.WriteLine("");
}

int32_t QsxExport::OutputVertexIndex(int vertex, int texVertex) {
    if (vertex < 0 || static_cast<size_t>(vertex) >= vertexTable.SlotCount()) {
        Assert1(1042);
        return -1;
    }
    const VertexSlot& s = vertexTable.Slot(static_cast<size_t>(vertex));
    if (s.count == 0) return vertexBase + vertex + 1;
    const int32_t k = vertexTable.Find(static_cast<size_t>(vertex), texVertex);
    if (k < 0) {
        Assert1(1042);
        return -1;
    }
    return vertexBase + s.first + k + 1;
}

void QsxExport::FreeVertexTable() { vertexTable.Free(); }

// ---------------------------------------------------------------- triangles

void QsxExport::WriteTriangles(const host::Mesh& mesh, Mtl* material) {
    if (IsClass(material, host::STANDARD_MATERIAL_CLASS_ID)) WriteMaterial(material);
    const bool multi = IsClass(material, host::MULTI_MATERIAL_CLASS_ID);
    const bool hasTextureFaces = mesh.tvFaces.size() == mesh.faces.size() && !mesh.tvFaces.empty();
    Mtl* current = nullptr;
    ScriptWriter& w = writer;
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const host::Face& face = mesh.faces[f];
        int32_t out[3];
        for (int c = 0; c < 3; ++c) {
            const int t = hasTextureFaces ? static_cast<int>(mesh.tvFaces[f].t[c]) : -1;
            out[c] = OutputVertexIndex(static_cast<int>(face.v[c]), t);
        }
        if (face.v[0] == face.v[1] || face.v[0] == face.v[2] || face.v[1] == face.v[2]) continue;
        if (multi) {
            const int n = material->NumSubMtls();
            Mtl* sub = n > 0 ? material->GetSubMtl(face.getMatID() % n) : nullptr;
            if (!IsClass(sub, host::STANDARD_MATERIAL_CLASS_ID)) sub = nullptr;
            if (sub != current) {
                WriteMaterial(sub);
                current = sub;
            }
        }
        Line(w, 9 + 3 * kRoomInt).Text("Triangle ").Int(out[0]).Char(' ').Int(out[1]).Char(' ').Int(out[2]).End();
    }
    if (options.hierarchyType == HIER_FLAT_SINGLE) {
        if (!textured_) {
            vertexBase += static_cast<int32_t>(mesh.verts.size());
        } else {
            for (size_t v = 0; v < vertexTable.SlotCount(); ++v) vertexBase += vertexTable.Slot(v).count;
        }
    }
    w.WriteLine("");
}

// ---------------------------------------------------------------- materials

std::string QsxExport::TextureName(std::string_view path) const {
    size_t start = path.rfind('\\');
    if (start == std::string_view::npos) start = path.rfind(':');
    std::string name(start == std::string_view::npos ? path : path.substr(start + 1));
    if (options.textureFlags & TEX_OVERRIDE_EXT) {
        const size_t dot = name.find('.');
        if (dot != std::string::npos) name.erase(dot);
        name.push_back('.');
        name.append(options.extName);
    }
    return name;
}

void QsxExport::WriteMaterial(Mtl* m) {
    ScriptWriter& w = writer;
    if (!m) {
        w.WriteLine("Color 0.0 0.0 0.0");
        w.WriteLine("Surface 0.0 0.0 0.0");
        w.WriteLine("");
        return;
    }
    host::Texmap* diffuse = m->MapEnabled(host::ID_DI) ? m->GetSubTexmap(host::ID_DI) : nullptr;
    host::Texmap* opacity = m->MapEnabled(host::ID_OP) ? m->GetSubTexmap(host::ID_OP) : nullptr;
    if (m->GetTwoSided()) w.WriteLine("MaterialModes Double");
    w.WriteLine(m->GetWire() ? "GeometrySampling WireFrame" : "GeometrySampling Solid");
    w.WriteLine(m->GetShading() == 0 ? "LightSampling Facet" : "LightSampling Vertex");
    const float op = m->GetOpacity(exportTime);
    if (op < 1.0f) Line(w, 7 + kRoomG).Text("Opacity").G(op).End();
    Point3 amb = m->GetAmbient(exportTime);
    for (int k = 0; k < 3; ++k)
        if (amb[k] < 0.1f) amb[k] = 0.1f;
    auto colourLine = [&](std::string_view keyword, const Point3& c) {
        Line(w, keyword.size() + 3 * kRoomG).Text(keyword).G(c.x).G(c.y).G(c.z).End();
    };
    colourLine("Ambient", amb);
    const Point3 dif = m->GetDiffuse(exportTime);
    colourLine("Color", dif);
    colourLine("Diffuse", dif);
    colourLine("Specular", m->GetSpecular(exportTime));

    line_.assign("TextureModes");
    const uint32_t flags = options.textureFlags;
    if (flags & TEX_LIT) line_.append(" Lit");
    if (flags & TEX_FORESHORTEN) line_.append(" Foreshorten");
    if (flags & TEX_FILTER) line_.append(" Filter");
    if (!(flags & (TEX_LIT | TEX_FORESHORTEN | TEX_FILTER))) line_.append(" NULL");
    w.WriteLine(line_);

    const bool show = flags & TEX_SHOW;
    if (!diffuse || !(diffuse->ClassID() == host::BITMAP_TEXTURE_CLASS_ID)) {
        w.WriteLine("Texture NULL");
    } else {
        const std::string d = TextureName(diffuse->GetMapName());
        if (opacity && opacity->ClassID() == host::BITMAP_TEXTURE_CLASS_ID) {
            const std::string mask = TextureName(opacity->GetMapName());
            line_.assign(show ? "TextureExt " : "TextureExt NULL Mask NULL # ");
            line_.append(d);
            line_.append(show ? " Mask " : " ");
            line_.append(mask);
        } else {
            line_.assign(show ? "Texture " : "Texture NULL # ");
            line_.append(d);
        }
        w.WriteLine(line_);
    }
    w.WriteLine("");
}

// ---------------------------------------------------------------- header

int QsxExport::BeginHeader() {
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
    const std::string_view name = node->GetName();
    Line(writer, 12 + name.size() + 1 + kRoomInt).Text("#define TAG_").Name(name).Char(' ').Int(tagCounter).End();
    for (int i = 0; i < n; ++i) WriteHeaderNode(node->GetChildNode(i));
    return writer.failed ? 0 : 1;
}

// ---------------------------------------------------------------- animation

int QsxExport::WriteAnimation(std::string& path, host::Interface* hostIp) {
    const host::Interval range = hostIp->GetAnimRange();
    const int ticksPerFrame = hostIp->GetTicksPerFrame();
    int64_t frameCount = 0;
    if (ticksPerFrame > 0) {
        frameCount = (static_cast<int64_t>(range.end) - range.start) / ticksPerFrame;
    } else {
        Warn("the scene reports " + std::to_string(ticksPerFrame) + " ticks per frame; no animation frame is written");
    }
    INode* root = hostIp->GetRootNode();
    topLevelCount = root->NumberOfChildren();
    writer.failed = 0;
    writer.errorText.clear();
    writer.indent = 0;
    tagCounter = 0;
    const size_t dot = ExtensionDot(path);
    if (dot != std::string::npos) path.replace(dot, std::string::npos, ".qsv");
    if (!writer.Open(path)) {
        failures.push_back({path, writer.errorText});
        hostIp->FileFailure(path, writer.errorText);
        return 1;
    }
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
    if (options.hierarchyType == HIER_PRESERVE) {
        INode* parent = node->GetParentNode();
        if (parent && !parent->IsRootNode()) m = m * host::Inverse(ComposeNodeTransform(parent->GetNodeTM(t)));
    }
    Line line(writer, 10 + kRoomInt + 12 * kRoomFixed);
    line.Text("Transform ").Int(tagCounter);
    for (int row = 0; row < 4; ++row) line.Fixed(m[row].x).Fixed(m[row].y).Fixed(m[row].z);
    line.End();
    return 1;
}

}  // namespace qsx
