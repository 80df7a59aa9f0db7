#include "host/Geometry.h"

#include <cfloat>
#include <cmath>

namespace host {

void Matrix3::IdentityMatrix() {
    m_[0] = {1, 0, 0};
    m_[1] = {0, 1, 0};
    m_[2] = {0, 0, 1};
    m_[3] = {0, 0, 0};
    flags_ = POS_IDENT;
}

void Matrix3::SetRow(int i, const Point3& p) {
    m_[i] = p;
    if (i == 3) flags_ &= ~POS_IDENT;
}

void Matrix3::SetTrans(const Point3& p) {
    m_[3] = p;
    flags_ &= ~POS_IDENT;
}

Matrix3 Matrix3::operator*(const Matrix3& b) const {
    Matrix3 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 3; ++j) {
            float v = m_[i][0] * b.m_[0][j] + m_[i][1] * b.m_[1][j] + m_[i][2] * b.m_[2][j];
            if (i == 3) v += b.m_[3][j];
            r.m_[i][j] = v;
        }
    }
    r.flags_ = (flags_ & b.flags_ & POS_IDENT);
    if (!(r.m_[3] == Point3{0, 0, 0})) r.flags_ &= ~POS_IDENT;
    return r;
}

bool Matrix3::operator==(const Matrix3& o) const {
    for (int i = 0; i < 4; ++i)
        if (!(m_[i] == o.m_[i])) return false;
    return true;
}

Matrix3 Inverse(const Matrix3& m) {
    // Cofactor inverse of the 3x3 part; the translation row is carried back
    // through it. A singular matrix gives non-finite entries, as the host's does.
    const float a = m[0].x, b = m[0].y, c = m[0].z;
    const float d = m[1].x, e = m[1].y, f = m[1].z;
    const float g = m[2].x, h = m[2].y, i = m[2].z;
    const float c00 = e * i - f * h, c01 = c * h - b * i, c02 = b * f - c * e;
    const float c10 = f * g - d * i, c11 = a * i - c * g, c12 = c * d - a * f;
    const float c20 = d * h - e * g, c21 = b * g - a * h, c22 = a * e - b * d;
    const float det = a * c00 + b * c10 + c * c20;
    const float inv = 1.0f / det;
    Matrix3 r;
    r[0] = {c00 * inv, c01 * inv, c02 * inv};
    r[1] = {c10 * inv, c11 * inv, c12 * inv};
    r[2] = {c20 * inv, c21 * inv, c22 * inv};
    const Point3 t = m[3];
    r[3] = {-(t.x * r[0].x + t.y * r[1].x + t.z * r[2].x),
            -(t.x * r[0].y + t.y * r[1].y + t.z * r[2].y),
            -(t.x * r[0].z + t.y * r[1].z + t.z * r[2].z)};
    r.SetFlags(m.GetFlags() & POS_IDENT);
    if (!(r[3] == Point3{0, 0, 0})) r.SetFlags(r.GetFlags() & ~POS_IDENT);
    // -0 from negating a zero translation would print as "-0.000000"; keep +0.
    for (int k = 0; k < 3; ++k)
        if (r[3][k] == 0.0f) r[3][k] = 0.0f;
    return r;
}

void MakeMatrix(const Quat& qin, Matrix3& out) {
    // Worked in double and rounded once. A quaternion that is unit to float
    // precision is taken as it is: normalising it again would only stir the
    // last bits (and the signs of entries that should be zero).
    double x = qin.x, y = qin.y, z = qin.z, w = qin.w;
    const double len = std::sqrt(x * x + y * y + z * z + w * w);
    if (len > 0.0 && std::fabs(len - 1.0) > 1e-6) {
        x /= len;
        y /= len;
        z /= len;
        w /= len;
    }
    auto f = [](double v) { return static_cast<float>(v); };
    out.IdentityMatrix();
    out.SetFlags(0);
    out[0] = {f(1 - 2 * (y * y + z * z)), f(2 * (x * y + z * w)), f(2 * (x * z - y * w))};
    out[1] = {f(2 * (x * y - z * w)), f(1 - 2 * (x * x + z * z)), f(2 * (y * z + x * w))};
    out[2] = {f(2 * (x * z + y * w)), f(2 * (y * z - x * w)), f(1 - 2 * (x * x + y * y))};
    out[3] = {0, 0, 0};
}

void Box3::Init() {
    pmin = {FLT_MAX, FLT_MAX, FLT_MAX};
    pmax = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
}

bool Box3::IsEmpty() const { return pmin.x > pmax.x || pmin.y > pmax.y || pmin.z > pmax.z; }

}  // namespace host
