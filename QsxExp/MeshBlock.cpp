// The mesh block of a node: its vertices (one output vertex for each texture
// vertex a mesh vertex is used with), its material statements and its
// triangles, numbered through the vertex table.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "QsxExp/LineBuilder.h"
#include "QsxExp/QsxExport.h"
#include "util/Text.h"

namespace qsx {

using host::Mtl;
using host::Object;
using host::Point3;

namespace {

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

void QsxExport::WriteMeshBlock(host::INode* node, Object* obj) {
    host::TriObject* tri = obj->ConvertToType(0, host::TRIOBJ_CLASS_ID);
    if (!tri) return;
    host::Matrix3 r;
    host::MakeMatrix(node->GetObjOffsetRot(), r);
    const Point3 offset = r * node->GetObjOffsetPos();
    const host::Mesh& mesh = tri->GetMesh();
    if (BuildVertexTable(mesh)) {
        WriteVertices(mesh, offset);
        WriteTriangles(mesh, node->GetMtl());
    } else {
        writer.Fail("out of memory for the vertex table of node " + util::Quoted(node->GetName()));
    }
    FreeVertexTable();
    if (static_cast<Object*>(tri) != obj) tri->DeleteThis();
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
        const host::Face* const faces = mesh.faces.data();
        const host::TVFace* const tvFaces = mesh.tvFaces.data();
        for (size_t f = 0; f < nF; ++f) {
            const host::Face& face = faces[f];
            const host::TVFace& tface = tvFaces[f];
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = face.v[c];
                const uint32_t t = tface.t[c];
                if (v >= nV || t >= nT) {
                    // Hosts know each report by its number, whatever the layout of this file.
                    Assert1(422);
                    continue;
                }
                if (vertexTable.Slot(v).count >= 50) Assert1(800);
                // A texture vertex is marked used where it first joins a slot: every later corner with it
                // finds it there.
                if (vertexTable.Find(v, static_cast<int32_t>(t)) < 0) {
                    used[t] = 1;
                    if (!vertexTable.Append(v, static_cast<int32_t>(t))) {
                        vertexTable.Free();
                        return 0;
                    }
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
    // Copies in locals, as in WriteTriangles: the text stores may alias members, not these.
    const host::Matrix3 tm = normaliseTM;
    const Point3* const verts = mesh.verts.data();
    const Point3* const tVerts = mesh.tVerts.data();
    const bool textured = textured_;
    constexpr size_t kRoomVertex = 6 + 3 * kRoomFixed + 3 + 2 * kRoomFixed;
    // The position part of a vertex that has several texture vertices is
    // formatted once and copied into each of its lines.
    char position[6 + 3 * kRoomFixed];
    for (size_t i = 0; i < nV; ++i) {
        const Point3& v = verts[i];
        const Point3 p{v.x + offset.x, v.y + offset.y, v.z + offset.z};
        const Point3 q = p * tm;
        if (!textured) {
            Line(w, kRoomVertex).Text("Vertex").Fixed({q.x, q.y, q.z}).End();
            continue;
        }
        const VertexSlot& s = vertexTable.Slot(i);
        size_t positionSize = 0;
        for (int32_t k = 0; k < s.count; ++k) {
            const Point3& tv = tVerts[static_cast<size_t>(vertexTable.Entry(i, k))];
            const float U = ReduceTo32(uShift + tv.x);
            const float V = ReduceTo32(vShift - tv.y);
            Line line(w, kRoomVertex);
            if (k == 0) {
                char* const start = line.Pos();
                line.Text("Vertex").Fixed({q.x, q.y, q.z});
                positionSize = static_cast<size_t>(line.Pos() - start);
                if (s.count > 1) std::memcpy(position, start, positionSize);
            } else {
                line.Text(std::string_view(position, positionSize));
            }
            line.Text(" UV").Fixed({U, V}).End();
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
    // Faces come in runs of one material id: the sub-material of the run is looked up once
    // (a pass does not change what a material answers).
    const int subCount = multi ? material->NumSubMtls() : 0;
    int runId = -1;
    Mtl* runSub = nullptr;
    ScriptWriter& w = writer;
    const size_t nV = vertexTable.SlotCount();
    // Held in locals: the lines are written through char pointers, which may alias any member, and
    // every corner would read these again from memory.
    const host::Face* const faces = mesh.faces.data();
    const host::TVFace* const tvFaces = hasTextureFaces ? mesh.tvFaces.data() : nullptr;
    const size_t nF = mesh.faces.size();
    const int32_t base = vertexBase;
    const VertexSlot* const slots = nV > 0 ? &vertexTable.Slot(0) : nullptr;
    for (size_t f = 0; f < nF; ++f) {
        const host::Face& face = faces[f];
        long out[3];
        for (int c = 0; c < 3; ++c) {
            const int t = tvFaces ? static_cast<int>(tvFaces[f].t[c]) : -1;
            // Most corners name a vertex without texture vertices or its first one: answered here, the
            // rest (and every report) by the lookup.
            const uint32_t v = face.v[c];
            const VertexSlot* s = v < nV && v <= INT32_MAX ? &slots[v] : nullptr;
            if (s && s->count == 0) {
                out[c] = base + static_cast<int32_t>(v) + 1;
            } else if (s && s->texVerts[0] == t) {
                out[c] = base + s->first + 1;
            } else {
                out[c] = OutputVertexIndex(static_cast<int>(v), t);
            }
        }
        if (face.v[0] == face.v[1] || face.v[0] == face.v[2] || face.v[1] == face.v[2]) {
            ++coincidentTriangles_;
            continue;
        }
        if (multi) {
            if (face.getMatID() != runId) {
                runId = face.getMatID();
                runSub = subCount > 0 ? material->GetSubMtl(runId % subCount) : nullptr;
                if (!IsClass(runSub, host::STANDARD_MATERIAL_CLASS_ID)) runSub = nullptr;
            }
            if (runSub != current) {
                WriteMaterial(runSub);
                current = runSub;
            }
        }
        Line(w, 9 + 3 * kRoomInt).Text("Triangle").Ints(out).End();
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
    // Paths come from every platform, so '/' cuts as '\' does; a drive
    // letter alone ("C:wood.tga") is cut only where no separator is.
    size_t start = path.find_last_of("\\/");
    if (start == std::string_view::npos) start = path.rfind(':');
    std::string name(start == std::string_view::npos ? path : path.substr(start + 1));
    if (options.textureFlags & TEX_OVERRIDE_EXT) {
        const size_t dot = name.find('.');
        if (dot != std::string::npos) name.erase(dot);
        name.push_back('.');
        name.append(options.extName);
    }
    // As in a node name: a line break would end the statement in the middle
    // of the name and put the rest into the script as lines of their own, and
    // no other control byte belongs in a script line either.
    for (char& c : name)
        if (Line::IsControl(c)) c = ' ';
    return name;
}

void QsxExport::WriteMaterial(Mtl* m) {
    // A scene has few materials, and a mesh may change between them at every
    // triangle: the statements of each are made once per pass and written as
    // made from then on (a pass does not change what a material answers).
    auto [it, made] = materialText_.try_emplace(m);
    MaterialText& text = it->second;
    if (made) MakeMaterialText(m, &text);
    ScriptWriter& w = writer;
    // At the usual depths the lines go in as one block, indented and ended as the writer would. A
    // number that is not finite fails the file at its own line, after the lines before it.
    constexpr size_t kBlockDepths = 16;
    const size_t depth = w.Depth();
    if (depth < kBlockDepths && text.notFiniteLine == MaterialText::kNone) {
        if (text.indented.size() <= depth) text.indented.resize(depth + 1);
        std::string& block = text.indented[depth];
        if (block.empty()) {
            size_t from = 0;
            for (const size_t to : text.ends) {
                block.append(w.Indent(), ' ');
                block.append(text.lines, from, to - from);
                block.append("\r\n");
                from = to;
            }
        }
        w.WriteLines(block);
        return;
    }
    size_t start = 0;
    for (size_t i = 0; i < text.ends.size(); ++i) {
        if (i == text.notFiniteLine) [[unlikely]]
            w.Fail(kNotFiniteReason);
        w.WriteLine(std::string_view(text.lines).substr(start, text.ends[i] - start));
        start = text.ends[i];
    }
}

void QsxExport::MakeMaterialText(Mtl* m, MaterialText* out) {
    std::string& t = out->lines;
    auto end = [&] { out->ends.push_back(t.size()); };
    auto line = [&](std::string_view s) {
        t.append(s);
        end();
    };
    if (!m) {
        line("Color 0.0 0.0 0.0");
        line("Surface 0.0 0.0 0.0");
        line("");
        return;
    }
    // A number that is not finite fails the file at the line that holds it.
    auto numbers = [&](std::string_view keyword, std::initializer_list<float> values) {
        char buf[3 * kRoomG];
        char* p = buf;
        bool finite = true;
        for (const float v : values) {
            finite &= std::isfinite(v);
            *p++ = ' ';
            p = AppendG4(p, v);
        }
        if (!finite && out->notFiniteLine == MaterialText::kNone) out->notFiniteLine = out->ends.size();
        t.append(keyword);
        t.append(buf, static_cast<size_t>(p - buf));
        end();
    };
    host::Texmap* diffuse = m->MapEnabled(host::ID_DI) ? m->GetSubTexmap(host::ID_DI) : nullptr;
    host::Texmap* opacity = m->MapEnabled(host::ID_OP) ? m->GetSubTexmap(host::ID_OP) : nullptr;
    if (m->GetTwoSided()) line("MaterialModes Double");
    line(m->GetWire() ? "GeometrySampling WireFrame" : "GeometrySampling Solid");
    line(m->GetShading() == 0 ? "LightSampling Facet" : "LightSampling Vertex");
    const float op = m->GetOpacity(exportTime);
    if (op < 1.0f) numbers("Opacity", {op});
    Point3 amb = m->GetAmbient(exportTime);
    for (int k = 0; k < 3; ++k)
        if (amb[k] < 0.1f) amb[k] = 0.1f;
    numbers("Ambient", {amb.x, amb.y, amb.z});
    const Point3 dif = m->GetDiffuse(exportTime);
    numbers("Color", {dif.x, dif.y, dif.z});
    numbers("Diffuse", {dif.x, dif.y, dif.z});
    const Point3 spec = m->GetSpecular(exportTime);
    numbers("Specular", {spec.x, spec.y, spec.z});

    t.append("TextureModes");
    const uint32_t flags = options.textureFlags;
    if (flags & TEX_LIT) t.append(" Lit");
    if (flags & TEX_FORESHORTEN) t.append(" Foreshorten");
    if (flags & TEX_FILTER) t.append(" Filter");
    if (!(flags & (TEX_LIT | TEX_FORESHORTEN | TEX_FILTER))) t.append(" NULL");
    end();

    const bool show = flags & TEX_SHOW;
    if (!diffuse || !(diffuse->ClassID() == host::BITMAP_TEXTURE_CLASS_ID)) {
        line("Texture NULL");
    } else {
        const std::string d = TextureName(diffuse->GetMapName());
        if (opacity && opacity->ClassID() == host::BITMAP_TEXTURE_CLASS_ID) {
            const std::string mask = TextureName(opacity->GetMapName());
            t.append(show ? "TextureExt " : "TextureExt NULL Mask NULL # ");
            t.append(d);
            t.append(show ? " Mask " : " ");
            t.append(mask);
        } else {
            t.append(show ? "Texture " : "Texture NULL # ");
            t.append(d);
        }
        end();
    }
    line("");
}

}  // namespace qsx
