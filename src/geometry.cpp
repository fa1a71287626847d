// Polygon areas and clipping for the glyph and region tests.
#include "geometry.h"

#include <vector>

namespace {

double polygon_area(const std::vector<Point> &poly) {
    double twice = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Point &a = poly[i];
        const Point &b = poly[(i + 1) % poly.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) / 2;
}

// Keeps the part of the polygon on the inner side of one box edge
// (Sutherland-Hodgman): `axis` 0 for x, 1 for y; `keep_above` keeps
// coordinates >= limit, otherwise <= limit.
std::vector<Point> clip_edge(const std::vector<Point> &in, int axis, double limit, bool keep_above) {
    std::vector<Point> out;
    if (in.empty()) return out;
    auto coord = [axis](const Point &p) { return axis == 0 ? p.x : p.y; };
    auto inside = [&](const Point &p) { return keep_above ? coord(p) >= limit : coord(p) <= limit; };
    for (size_t i = 0; i < in.size(); ++i) {
        const Point &cur = in[i];
        const Point &prev = in[(i + in.size() - 1) % in.size()];
        const bool cur_in = inside(cur), prev_in = inside(prev);
        if (cur_in != prev_in) {
            const double t = (limit - coord(prev)) / (coord(cur) - coord(prev));
            out.push_back({prev.x + t * (cur.x - prev.x), prev.y + t * (cur.y - prev.y)});
        }
        if (cur_in) out.push_back(cur);
    }
    return out;
}

std::vector<Point> clip_to_box(const Quad &q, const Box &box) {
    std::vector<Point> poly(q.p, q.p + 4);
    poly = clip_edge(poly, 0, box.x0, true);
    poly = clip_edge(poly, 0, box.x1, false);
    poly = clip_edge(poly, 1, box.y0, true);
    poly = clip_edge(poly, 1, box.y1, false);
    return poly;
}

}  // namespace

double quad_area(const Quad &q) { return polygon_area(std::vector<Point>(q.p, q.p + 4)); }

double quad_area_in_box(const Quad &q, const Box &box) {
    if (box_empty(box)) return 0;
    return polygon_area(clip_to_box(q, box));
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
