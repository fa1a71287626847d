// Polygon areas and clipping for the glyph and region tests.
#include "geometry.h"


namespace {

// A convex polygon clipped by a box has at most 4 + 4 corners.
struct Polygon {
    Point p[8];
    int n = 0;
};

double polygon_area(const Point *p, int n) {
    double twice = 0;
    for (int i = 0; i < n; ++i) {
        const Point &a = p[i];
        const Point &b = p[(i + 1) % n];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) / 2;
}

// Keeps the part of the polygon on the inner side of one box edge
// (Sutherland-Hodgman): `axis` 0 for x, 1 for y; `keep_above` keeps
// coordinates >= limit, otherwise <= limit.
Polygon clip_edge(const Polygon &in, int axis, double limit, bool keep_above) {
    Polygon out;
    auto coord = [axis](const Point &p) { return axis == 0 ? p.x : p.y; };
    auto inside = [&](const Point &p) { return keep_above ? coord(p) >= limit : coord(p) <= limit; };
    for (int i = 0; i < in.n && out.n < 8; ++i) {
        const Point &cur = in.p[i];
        const Point &prev = in.p[(i + in.n - 1) % in.n];
        const bool cur_in = inside(cur), prev_in = inside(prev);
        if (cur_in != prev_in) {
            const double t = (limit - coord(prev)) / (coord(cur) - coord(prev));
            out.p[out.n++] = {prev.x + t * (cur.x - prev.x), prev.y + t * (cur.y - prev.y)};
        }
        if (cur_in && out.n < 8) out.p[out.n++] = cur;
    }
    return out;
}

}  // namespace

double quad_area(const Quad &q) { return polygon_area(q.p, 4); }

double quad_area_in_box(const Quad &q, const Box &box) {
    if (box_empty(box)) return 0;
    const Box b = quad_bounds(q);
    if (b.x1 <= box.x0 || b.x0 >= box.x1 || b.y1 <= box.y0 || b.y0 >= box.y1) return 0;
    Polygon poly;
    for (const Point &p : q.p) poly.p[poly.n++] = p;
    poly = clip_edge(poly, 0, box.x0, true);
    poly = clip_edge(poly, 0, box.x1, false);
    poly = clip_edge(poly, 1, box.y0, true);
    poly = clip_edge(poly, 1, box.y1, false);
    return polygon_area(poly.p, poly.n);
}

bool quad_meets_box(const Quad &q, const Box &box) {
    if (box_empty(box)) return false;
    const Box b = quad_bounds(q);
    if (b.x1 <= box.x0 || b.x0 >= box.x1 || b.y1 <= box.y0 || b.y0 >= box.y1) return false;
    // A degenerate quad (a line) has no interior but still shows what it
    // draws; it meets the box when its bounds reach inside.
    if (quad_area(q) <= 1e-12) return true;
    return quad_area_in_box(q, box) > 1e-12;
}
