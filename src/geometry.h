// Affine matrices and boxes of PDF user space (PDF reference 8.3).
#ifndef INKVEIL_GEOMETRY_H
#define INKVEIL_GEOMETRY_H

#include <cmath>

// [a b 0; c d 0; e f 1]: a point [x y 1] maps to [x y 1] x M.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

struct Point {
    double x = 0, y = 0;
};

// An axis-aligned box; empty when x0 > x1.
struct Box {
    double x0 = 1, y0 = 1, x1 = 0, y1 = 0;
};

// Four corners in order around a parallelogram (or any convex quadrilateral).
struct Quad {
    Point p[4];
};

// m then n: the matrix that applies m first, then n.
inline Matrix mat_mul(const Matrix &m, const Matrix &n) {
    return {m.a * n.a + m.b * n.c,       m.a * n.b + m.b * n.d,
            m.c * n.a + m.d * n.c,       m.c * n.b + m.d * n.d,
            m.e * n.a + m.f * n.c + n.e, m.e * n.b + m.f * n.d + n.f};
}

inline Point mat_apply(const Matrix &m, double x, double y) {
    return {x * m.a + y * m.c + m.e, x * m.b + y * m.d + m.f};
}

// False (and *out untouched) when the matrix cannot be inverted.
inline bool mat_invert(const Matrix &m, Matrix *out) {
    const double det = m.a * m.d - m.b * m.c;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
    const double a = m.d / det, b = -m.b / det, c = -m.c / det, d = m.a / det;
    *out = {a, b, c, d, -(m.e * a + m.f * c), -(m.e * b + m.f * d)};
    return std::isfinite(out->e) && std::isfinite(out->f);
}

inline bool mat_is_finite(const Matrix &m) {
    return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) &&
           std::isfinite(m.e) && std::isfinite(m.f);
}

inline bool box_empty(const Box &b) { return !(b.x0 <= b.x1 && b.y0 <= b.y1); }

inline void box_add(Box &b, const Point &p) {
    if (box_empty(b)) {
        b = {p.x, p.y, p.x, p.y};
        return;
    }
    b.x0 = std::fmin(b.x0, p.x);
    b.y0 = std::fmin(b.y0, p.y);
    b.x1 = std::fmax(b.x1, p.x);
    b.y1 = std::fmax(b.y1, p.y);
}

inline void box_union(Box &b, const Box &o) {
    if (box_empty(o)) return;
    box_add(b, {o.x0, o.y0});
    box_add(b, {o.x1, o.y1});
}

// The quad of the box [x0, x1] x [y0, y1] mapped by m.
inline Quad quad_of(const Matrix &m, double x0, double y0, double x1, double y1) {
    return {{mat_apply(m, x0, y0), mat_apply(m, x1, y0), mat_apply(m, x1, y1), mat_apply(m, x0, y1)}};
}

inline Box quad_bounds(const Quad &q) {
    Box b;
    for (const Point &p : q.p) box_add(b, p);
    return b;
}

// Area of a convex quadrilateral (or any simple polygon of four corners).
double quad_area(const Quad &q);

// Area of the part of the quad that lies inside the box.
double quad_area_in_box(const Quad &q, const Box &box);

// True when the open interiors of the quad and the box meet.
bool quad_meets_box(const Quad &q, const Box &box);

#endif
