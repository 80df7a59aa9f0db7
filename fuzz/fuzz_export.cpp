// The whole export of a scene decoded from the input: nodes under any
// earlier node, meshes with indices in and out of range, texture faces that
// do and do not match the faces, materials of every class, node keys, odd
// numbers (NaN, infinities, subnormals), odd options, and now and then a
// failing open, write or vertex-table allocation. Every hierarchy mode and
// one unknown mode write into memory.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "QsxExp/LineBuilder.h"
#include "tests/support/fake_scene.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

float Number(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            static const float special[] = {0.0f,
                                            -0.0f,
                                            1.0f,
                                            -1.0f,
                                            0.5f,
                                            32.0f,
                                            536870912.0f,
                                            std::numeric_limits<float>::denorm_min(),
                                            std::numeric_limits<float>::max(),
                                            -std::numeric_limits<float>::max(),
                                            std::numeric_limits<float>::infinity(),
                                            -std::numeric_limits<float>::infinity(),
                                            std::numeric_limits<float>::quiet_NaN(),
                                            1e-7f};
            return special[in.ConsumeIntegralInRange<size_t>(0, std::size(special) - 1)];
        }
        case 1: {
            const uint32_t bits = in.ConsumeIntegral<uint32_t>();
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case 2:
            return static_cast<float>(in.ConsumeIntegralInRange(-8, 8));
        default:
            return in.ConsumeFloatingPointInRange(-1000.0f, 1000.0f);
    }
}

host::Point3 Point(FuzzedDataProvider& in) { return {Number(in), Number(in), Number(in)}; }

host::Matrix3 Matrix(FuzzedDataProvider& in) {
    host::Matrix3 m;
    if (in.ConsumeBool()) {
        m.SetTrans(Point(in));
        return m;
    }
    for (int r = 0; r < 4; ++r) m.SetRow(r, Point(in));
    return m;
}

struct Scene {
    fake::Host host;
    std::vector<std::unique_ptr<fake::Mtl>> mtls;
    std::vector<std::unique_ptr<fake::Texmap>> maps;
    std::vector<fake::Node*> nodes;
};

void DecodeMaterials(FuzzedDataProvider& in, Scene& s) {
    const int count = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < count; ++i) {
        auto m = std::make_unique<fake::Mtl>();
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0:
                m->twoSided = in.ConsumeBool();
                m->wire = in.ConsumeBool();
                m->shading = in.ConsumeIntegralInRange(-1, 3);
                m->opacity = Number(in);
                m->ambient = Point(in);
                m->diffuse = Point(in);
                m->specular = Point(in);
                for (int ch : {host::ID_DI, host::ID_OP}) {
                    if (!in.ConsumeBool()) continue;
                    auto t = std::make_unique<fake::Texmap>();
                    if (in.ConsumeBool()) t->cls = {in.ConsumeIntegral<uint32_t>(), 0};
                    t->file = in.ConsumeRandomLengthString(40);
                    fake::Slot(*m, ch).map = t.get();
                    fake::Slot(*m, ch).enabled = in.ConsumeBool();
                    s.maps.push_back(std::move(t));
                }
                break;
            case 1: {
                m->cls = host::MULTI_MATERIAL_CLASS_ID;
                const int subs = in.ConsumeIntegralInRange(0, 4);
                for (int k = 0; k < subs; ++k) {
                    // Any earlier material, itself, or none.
                    const int pick = in.ConsumeIntegralInRange(-1, i);
                    m->subs.push_back(pick < 0 ? nullptr : pick == i ? m.get() : s.mtls[size_t(pick)].get());
                }
                break;
            }
            default:
                m->cls = {in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>()};
        }
        s.mtls.push_back(std::move(m));
    }
}

void DecodeMesh(FuzzedDataProvider& in, host::Mesh& mesh) {
    const uint32_t nV = in.ConsumeIntegralInRange<uint32_t>(0, 40);
    for (uint32_t v = 0; v < nV; ++v) mesh.verts.push_back(Point(in));
    const uint32_t nF = in.ConsumeIntegralInRange<uint32_t>(0, 60);
    for (uint32_t f = 0; f < nF; ++f) {
        host::Face face;
        for (uint32_t& v : face.v) v = in.ConsumeIntegralInRange<uint32_t>(0, nV + 1);
        if (in.ConsumeBool()) face.v[2] = 0xffffffffu;
        face.flags = in.ConsumeIntegral<uint32_t>();
        mesh.faces.push_back(face);
    }
    if (!in.ConsumeBool()) return;
    const uint32_t nT = in.ConsumeIntegralInRange<uint32_t>(0, 40);
    for (uint32_t t = 0; t < nT; ++t) mesh.tVerts.push_back(Point(in));
    const uint32_t nTF = in.ConsumeBool() ? nF : in.ConsumeIntegralInRange<uint32_t>(0, nF + 1);
    for (uint32_t f = 0; f < nTF; ++f) {
        host::TVFace tf;
        for (uint32_t& t : tf.t) t = in.ConsumeIntegralInRange<uint32_t>(0, nT + 1);
        mesh.tvFaces.push_back(tf);
    }
}

void DecodeScene(FuzzedDataProvider& in, Scene& s) {
    qsx::ExportOptions& o = s.host.preset;
    o.scaleType = in.ConsumeIntegralInRange(0, 1);
    o.scaleFactor = Number(in);
    o.centre = in.ConsumeBool();
    o.saveHeader = in.ConsumeIntegralInRange(0, 3) != 0;
    o.saveAnimation = in.ConsumeIntegralInRange(0, 3) != 0;
    o.textureFlags = in.ConsumeIntegral<uint8_t>() & 31u;
    o.hints = in.ConsumeIntegralInRange(0, 3);
    o.extName = in.ConsumeRandomLengthString(6);

    const int32_t start = in.ConsumeIntegral<int32_t>();
    static const int kTicks[] = {160, 1, 4800, 0, -160};
    const int tpf = kTicks[in.ConsumeIntegralInRange<size_t>(0, std::size(kTicks) - 1)];
    const int64_t frames = in.ConsumeIntegralInRange<int64_t>(-1, 6);
    int64_t end = start + frames * (tpf > 0 ? tpf : 160);
    end = std::clamp<int64_t>(end, INT32_MIN, INT32_MAX);
    s.host.range = {start, static_cast<int32_t>(end)};
    s.host.ticksPerFrame = tpf;

    DecodeMaterials(in, s);
    const int count = in.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < count; ++i) {
        const size_t parent = in.ConsumeIntegralInRange<size_t>(0, s.nodes.size());
        fake::Node* under = parent == 0 ? &s.host.root : s.nodes[parent - 1];
        fake::Node* n = under->Add(in.ConsumeRandomLengthString(24));
        s.nodes.push_back(n);
        const int kind = in.ConsumeIntegralInRange(0, 3);
        if (kind > 0) {
            DecodeMesh(in, n->MakeMesh());
            n->object->renderable = kind != 1;
            n->object->convertsToCopy = kind == 3;
        }
        const int keys = in.ConsumeIntegralInRange(0, 3);
        for (int k = 0; k < keys; ++k) n->keys[in.ConsumeIntegral<int16_t>()] = Matrix(in);
        if (in.ConsumeBool()) n->offsetPos = Point(in);
        if (in.ConsumeBool()) n->offsetRot = {Number(in), Number(in), Number(in), Number(in)};
        const int mtl = in.ConsumeIntegralInRange(-1, static_cast<int>(s.mtls.size()) - 1);
        n->mtl = mtl < 0 ? nullptr : s.mtls[size_t(mtl)].get();
    }
}

void ExportIn(Scene& s, int mode, int fault, long at) {
    s.host.preset.hierarchyType = mode;
    fake::Run run;
    if (fault == 1) run.fs.FailWriteAt(at);
    if (fault == 2) run.fs.FailOpenAt(at);
    if (fault == 3) run.exporter.vertexTable.FailAllocationAt(at);
    s.host.refusals.clear();
    const int result = run.Export(s.host);

    // A scale factor beyond float is refused before any file is opened.
    if (!s.host.refusals.empty()) {
        if (result != 0 || !run.fs.files.empty()) Broken("a refused export wrote a file");
        return;
    }
    const auto& failures = run.exporter.Failures();
    if (result != (failures.empty() ? 1 : 0)) Broken("result and failure list disagree");
    for (const auto& f : failures) {
        // Numbers may overflow in the output frame: only those files are dropped.
        if (fault == 0 && f.reason != qsx::kNotFiniteReason) Broken("an export without faults failed");
        if (run.fs.files.count(f.path)) Broken("a failed file was left behind");
        if (f.reason.empty()) Broken("a failure without a reason");
    }
    for (const auto& [path, text] : run.fs.files) {
        if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
            Broken("a file does not end with a line end");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int fault = in.ConsumeIntegralInRange(0, 5);  // 4 and 5: none
    const long at = in.ConsumeIntegralInRange<long>(1, 400);
    const int oddMode = in.ConsumeIntegral<int8_t>();
    Scene scene;
    DecodeScene(in, scene);
    for (int mode = 0; mode <= 3; ++mode) ExportIn(scene, mode, fault > 3 ? 0 : fault, at);
    ExportIn(scene, oddMode, 0, 0);
    return 0;
}
