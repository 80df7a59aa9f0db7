// Scene bounds, the scale-and-axes normalisation and the output transform of
// a node, measured on the exporter directly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "QsxExp/resource.h"
#include "tests/support/fake_scene.h"

using host::Matrix3;
using host::Point3;

namespace {

// A renderable node whose geometry is the two corners of a box.
fake::Node* BoxNode(fake::Node* parent, Point3 lo, Point3 hi) {
    fake::Node* n = parent->Add("Box");
    n->MakeMesh().verts = {lo, hi};
    return n;
}

struct Measure {
    fake::Host h;
    qsx::QsxExport e;
    Measure() { e.ip = &h; }
    host::Box3 Bounds(host::TimeValue t = 0) {
        e.exportTime = t;
        return e.ComputeSceneBounds(&h.root);
    }
    bool Normalise(int scaleType, float factor, int centre) {
        e.options.scaleType = scaleType;
        e.options.scaleFactor = factor;
        e.options.centre = centre;
        e.exportTime = 0;
        return e.ComputeNormalisation(&h.root);
    }
};

void ExpectBox(const host::Box3& b, Point3 lo, Point3 hi, const char* what) {
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(b.pmin[k], lo[k]) << what << " min " << k;
        EXPECT_EQ(b.pmax[k], hi[k]) << what << " max " << k;
    }
}

constexpr float kHalf = 0.70710678f;  // quaternion parts of a quarter turn

TEST(SceneBounds, WhatIsMeasured) {
    struct Case {
        const char* name;
        void (*build)(fake::Node& root);
        host::TimeValue at;
        Point3 lo, hi;
    } cases[] = {
        {"two top-level boxes",
         [](fake::Node& root) {
             BoxNode(&root, {0, 0, 0}, {1, 1, 1});
             BoxNode(&root, {5, -1, 2}, {6, 0, 3});
         },
         0, {0, -1, 0}, {6, 1, 3}},
        {"offset position lifts the geometry",
         [](fake::Node& root) { BoxNode(&root, {0, 0, 0}, {1, 1, 1})->offsetPos = {0, 0, 5}; }, 0, {0, 0, 5}, {1, 1, 6}},
        {"offset rotation plays no part",
         [](fake::Node& root) {
             fake::Node* n = BoxNode(&root, {0, 0, 0}, {1, 1, 1});
             n->offsetPos = {0, 0, 5};
             n->offsetRot = {kHalf, 0, 0, kHalf};
         },
         0, {0, 0, 5}, {1, 1, 6}},
        {"offset is added to the translation unturned",
         [](fake::Node& root) {
             fake::Node* n = BoxNode(&root, {0, 0, 0}, {0, 0, 0});
             host::MakeMatrix({0, 0, kHalf, kHalf}, n->keys[0]);
             n->offsetPos = {1, 0, 0};
         },
         0, {1, 0, 0}, {1, 0, 0}},
        {"renderable below a non-renderable object counts",
         [](fake::Node& root) {
             fake::Node* parent = BoxNode(&root, {100, 100, 100}, {101, 101, 101});
             parent->object->renderable = false;
             BoxNode(parent, {0, 0, 0}, {1, 1, 1});
         },
         0, {0, 0, 0}, {1, 1, 1}},
        {"renderable below a node without object counts",
         [](fake::Node& root) { BoxNode(root.Add("Group"), {0, 0, 0}, {1, 1, 1}); }, 0, {0, 0, 0}, {1, 1, 1}},
        {"node transform at the export time",
         [](fake::Node& root) {
             fake::Node* n = BoxNode(&root, {0, 0, 0}, {1, 1, 1});
             n->keys[0] = fake::Translation(0, 0, 0);
             n->keys[160] = fake::Translation(10, 0, 0);
         },
         160, {10, 0, 0}, {11, 1, 1}},
    };
    for (const Case& c : cases) {
        Measure m;
        c.build(m.h.root);
        ExpectBox(m.Bounds(c.at), c.lo, c.hi, c.name);
    }
}

TEST(SceneBounds, NothingMeasurableGivesTheEmptyBox) {
    Measure m;
    m.h.root.Add("Light");
    BoxNode(&m.h.root, {0, 0, 0}, {1, 1, 1})->object->renderable = false;
    EXPECT_TRUE(m.Bounds().IsEmpty());
}

TEST(Normalisation, FactorCentreAndMatrices) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<std::pair<Point3, Point3>> boxes;
        int scaleType;
        float factor;
        int centre;
        double s;                 // the factor used, and left in scaleFactor
        Point3 offset;
        bool warning;
        bool refused = false;     // no factor: the export is refused
    } cases[] = {
        {"scale to 2", {{{-1, -2, 0}, {3, 4, 10}}}, 0, 2, 1, 0.20000000298023224, {-1, -1, -5}, false},
        {"scale by 2.5", {{{-1, -2, 0}, {3, 4, 10}}}, 1, 2.5f, 1, 2.5, {-1, -1, -5}, false},
        {"centring off", {{{-1, -2, 0}, {3, 4, 10}}}, 1, 1, 0, 1, {0, 0, 0}, false},
        {"scale to, y extent largest", {{{0, 0, 0}, {1, 4, 2}}}, 0, 1, 0, 0.25, {0, 0, 0}, false},
        {"scale to, empty scene", {}, 0, 2, 1, 1, {0, 0, 0}, true},
        {"scale to, all geometry in one point", {{{2, 2, 2}, {2, 2, 2}}}, 0, 2, 1, 1, {-2, -2, -2}, true},
        {"scale to, infinite extent", {{{0, 0, 0}, {inf, 1, 1}}}, 0, 2, 0, 1, {0, 0, 0}, true},
        {"scale by, empty scene", {}, 1, 3, 0, 3, {0, 0, 0}, false},
        // Factors whose cube leaves the float range: the inverse is still exact.
        {"scale by 1e-30", {}, 1, 1e-30f, 0, 1e-30f, {0, 0, 0}, false},
        {"scale by 1e13", {}, 1, 1e13f, 0, 1e13f, {0, 0, 0}, false},
        {"scale by 1e30", {}, 1, 1e30f, 0, 1e30f, {0, 0, 0}, false},
        {"scale to 1e-30, extent 1e-10", {{{0, 0, 0}, {1e-10f, 0, 0}}}, 0, 1e-30f, 0, 1e-30f / 1e-10f, {0, 0, 0},
         false},
        // Factors that a float, or its reciprocal, cannot hold.
        {"scale by 1e-39", {}, 1, 1e-39f, 0, 1e-39f, {0, 0, 0}, false, true},
        {"scale by nan", {}, 1, nan, 0, nan, {0, 0, 0}, false, true},
        {"scale to 1e-30, extent 1e10", {{{0, 0, 0}, {1e10f, 1, 1}}}, 0, 1e-30f, 0, 1e-30f, {0, 0, 0}, false, true},
        {"scale to 1e30, extent 1e-20", {{{0, 0, 0}, {1e-20f, 0, 0}}}, 0, 1e30f, 0, 1e30f, {0, 0, 0}, false, true},
    };
    for (const Case& c : cases) {
        Measure m;
        for (const auto& [lo, hi] : c.boxes) BoxNode(&m.h.root, lo, hi);
        EXPECT_EQ(m.Normalise(c.scaleType, c.factor, c.centre), !c.refused) << c.name;
        EXPECT_EQ(m.h.refusals.size(), c.refused ? 1u : 0u) << c.name;
        if (c.refused) {
            EXPECT_EQ(m.h.refusals[0].first, IDC_SCALEFACTOR) << c.name;
            continue;
        }
        EXPECT_EQ(static_cast<double>(m.e.options.scaleFactor), c.s) << c.name;
        // A node that is not moved nor turned keeps its axes, whatever the factor.
        const Matrix3 w = m.e.ComposeNodeTransform(Matrix3{});
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(w[i][k], i == k ? 1 : 0, 1e-6) << c.name << " row " << i;
        // A node's position is centred in host axes, scaled, then turned so that host z is up in the file.
        const float s = static_cast<float>(c.s);
        const Point3 at = m.e.ComposeNodeTransform(fake::Translation(1, 2, 3)).GetTrans();
        const Point3 want = {s * (1 + c.offset.x), s * (3 + c.offset.z), -s * (2 + c.offset.y)};
        for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(at[k], want[k]) << c.name << " axis " << k;
        EXPECT_EQ(m.h.warnings.size(), c.warning ? 1u : 0u) << c.name;
    }
}

TEST(ComposeNodeTransform, IdentityAndPureCentring) {
    struct Case {
        const char* name;
        int centre;
        Point3 box;  // a one-point scene: the centre offset is minus this point
        Point3 row3;
    } cases[] = {
        {"no centring", 0, {1, 2, 3}, {0, 0, 0}},
        {"centring, s = 1", 1, {1, 2, 3}, {-1, -3, 2}},
        {"centring, negative centre", 1, {-4, 0.5f, -2}, {4, 2, 0.5f}},
    };
    for (const Case& c : cases) {
        Measure m;
        BoxNode(&m.h.root, c.box, c.box);
        m.Normalise(1, 1, c.centre);
        const Matrix3 w = m.e.ComposeNodeTransform(Matrix3{});
        Matrix3 want;
        want.SetTrans(c.row3);
        EXPECT_EQ(w, want) << c.name;
    }
}

TEST(ComposeNodeTransform, RelativeFormCancelsTheCentring) {
    Measure m;
    BoxNode(&m.h.root, {-3, 1, 7}, {5, 2, 9});
    m.Normalise(1, 2, 1);
    const Matrix3 parent = fake::Translation(1, 2, 3), child = fake::Translation(4, 6, 8);
    const Matrix3 rel = m.e.ComposeNodeTransform(child) * host::Inverse(m.e.ComposeNodeTransform(parent));
    const Point3 t = rel.GetTrans();
    // (3, 4, 5) in host axes, doubled and turned: (6, 10, -8).
    EXPECT_FLOAT_EQ(t.x, 6);
    EXPECT_FLOAT_EQ(t.y, 10);
    EXPECT_FLOAT_EQ(t.z, -8);
}

}  // namespace
