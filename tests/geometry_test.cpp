#include <gtest/gtest.h>

#include "host/Geometry.h"

using host::Matrix3;
using host::Point3;

namespace {

Matrix3 AxisChange(float s) {
    Matrix3 m;
    m.SetRow(0, {s, 0, 0});
    m.SetRow(1, {0, 0, -s});
    m.SetRow(2, {0, s, 0});
    return m;
}

TEST(Geometry, AxisChangeMapsPointAndInverseMapsBack) {
    Matrix3 n = AxisChange(1.0f);
    Point3 p = Point3{1, 2, 3} * n;
    EXPECT_EQ(p, (Point3{1, 3, -2}));
    EXPECT_EQ(p * host::Inverse(n), (Point3{1, 2, 3}));
}

TEST(Geometry, ProductAppliesLeftOperandFirst) {
    Matrix3 t;
    t.SetTrans({1, 0, 0});
    Matrix3 r = AxisChange(2.0f);
    // translate then scale/turn: (0,0,0) -> (1,0,0) -> (2,0,0)
    EXPECT_EQ(Point3{} * (t * r), (Point3{2, 0, 0}));
    // scale/turn then translate: (0,0,0) -> (0,0,0) -> (1,0,0)
    EXPECT_EQ(Point3{} * (r * t), (Point3{1, 0, 0}));
}

TEST(Geometry, InverseOfGeneralAffineMatrix) {
    Matrix3 m;
    m.SetRow(0, {0, 2, 0});
    m.SetRow(1, {-2, 0, 0});
    m.SetRow(2, {0, 0, 4});
    m.SetRow(3, {5, -6, 7});
    Matrix3 id = m * host::Inverse(m);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(id[r][c] + 1.0f, (r == c ? 2.0f : 1.0f)) << r << "," << c;
}

TEST(Geometry, MakeMatrixQuarterTurns) {
    const float h = 0.70710678f;
    struct Case {
        host::Quat q;
        Point3 in, out;
    } cases[] = {
        {{0, 0, h, h}, {1, 0, 0}, {0, 1, 0}},   // 90 degrees about z
        {{h, 0, 0, h}, {0, 1, 0}, {0, 0, 1}},   // 90 degrees about x
        {{0, 0, 0, 2}, {1, 2, 3}, {1, 2, 3}},   // not unit: normalised first
    };
    for (const auto& c : cases) {
        Matrix3 m;
        host::MakeMatrix(c.q, m);
        const Point3 got = c.in * m;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], c.out[k], 1e-6) << k;
        EXPECT_EQ(m.GetFlags(), 0u);
    }
}

}  // namespace
