// Geometry types of the host: 32-bit float points and 4x3 affine matrices.
// Points are row vectors: p * M transforms p, and A * B applies A first.
// All arithmetic stays in float, as the host library does, so that results
// match to the last bit whatever the caller.
#pragma once

#include <cstdint>

namespace host {

struct Point3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Point3() = default;
    constexpr Point3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

    float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

    Point3 operator+(const Point3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Point3 operator-(const Point3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    bool operator==(const Point3& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct Quat {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;
};

// Bit of Matrix3::flags that says the translation row is zero.
constexpr uint32_t POS_IDENT = 1;

class Matrix3 {
public:
    Matrix3() { IdentityMatrix(); }

    void IdentityMatrix();
    void SetRow(int i, const Point3& p);
    Point3& operator[](int i) { return m_[i]; }
    const Point3& operator[](int i) const { return m_[i]; }
    Point3 GetTrans() const { return m_[3]; }
    void SetTrans(const Point3& p);  // also clears POS_IDENT
    uint32_t GetFlags() const { return flags_; }
    void SetFlags(uint32_t f) { flags_ = f; }

    Matrix3 operator*(const Matrix3& b) const;  // applies *this first, then b
    bool operator==(const Matrix3& o) const;

private:
    Point3 m_[4];
    uint32_t flags_ = 0;
};

// p as a row vector times m (including m's translation row). Inline: an
// exporter transforms every vertex through it.
inline Point3 operator*(const Point3& p, const Matrix3& m) {
    return {p.x * m[0].x + p.y * m[1].x + p.z * m[2].x + m[3].x,
            p.x * m[0].y + p.y * m[1].y + p.z * m[2].y + m[3].y,
            p.x * m[0].z + p.y * m[1].z + p.z * m[2].z + m[3].z};
}
// The host's form with the matrix on the left: transforms p as a row vector too.
inline Point3 operator*(const Matrix3& m, const Point3& p) { return p * m; }

Matrix3 Inverse(const Matrix3& m);

// Rotation matrix (for row vectors) of a quaternion; a quaternion that is not
// of unit length is normalised first. The flags word starts at 0.
void MakeMatrix(const Quat& q, Matrix3& out);

// F is the largest finite float: the empty box has min (F,F,F) and max (-F,-F,-F).
struct Box3 {
    Point3 pmin, pmax;
    Box3() { Init(); }
    void Init();
    bool IsEmpty() const;
    // Extends the box to hold p. Inline: bounds are taken over every vertex of a scene.
    void operator+=(const Point3& p) {
        for (int k = 0; k < 3; ++k) {
            if (p[k] < pmin[k]) pmin[k] = p[k];
            if (p[k] > pmax[k]) pmax[k] = p[k];
        }
    }
};

}  // namespace host
