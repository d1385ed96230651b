#include "renderer/bake/texel_coverage.h"

#include <cmath>

namespace vosh::render {

namespace {

// Coverage below this (in texels) is rounding at a shared texel border.
constexpr double min_cover = 1e-9;
// A point pulled onto a triangle's border moves this far (in texels) on
// inside: the border is often where the mesh meets other surfaces (a wall
// standing on a floor), and probes from exactly there slip through them.
constexpr double border_inset = 0.05;

double cross(TexelXY o, TexelXY a, TexelXY b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool lexically_less(TexelXY a, TexelXY b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

// Evaluated from the same endpoint whichever way the edge runs, so the two
// triangles beside an edge see exactly opposite values.
double edge_side(TexelXY a, TexelXY b, TexelXY p) {
    return lexically_less(a, b) ? cross(a, b, p) : -cross(b, a, p);
}

// Of the two directions of an edge, exactly one owns the points on it.
bool owns_edge(TexelXY a, TexelXY b) { return a.y < b.y || (a.y == b.y && a.x > b.x); }

// Clips `poly` (n points) to the half-plane keep(point) >= 0, given as
// a x + b y + c.
int clip(const TexelXY* in, int n, double a, double b, double c, TexelXY* out) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const TexelXY p = in[i], q = in[(i + 1) % n];
        const double sp = a * p.x + b * p.y + c, sq = a * q.x + b * q.y + c;
        if (sp >= 0) out[m++] = p;
        if ((sp >= 0) != (sq >= 0)) {
            const double t = sp / (sp - sq);
            out[m++] = {p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t};
        }
    }
    return m;
}

// The part of the triangle inside the unit square at (x, y); returns the
// number of points (at most 7) written to `out`.
int clip_to_square(const TexelXY corner[3], double x, double y, TexelXY out[8]) {
    TexelXY a[8] = {corner[0], corner[1], corner[2]};
    int n = clip(a, 3, 1, 0, -x, out);
    n = clip(out, n, -1, 0, x + 1, a);
    n = clip(a, n, 0, 1, -y, out);
    n = clip(out, n, 0, -1, y + 1, a);
    for (int i = 0; i < n; ++i) out[i] = a[i];
    return n;
}

double polygon_area(const TexelXY* p, int n) {
    double twice = 0;
    for (int i = 0; i < n; ++i) twice += p[i].x * p[(i + 1) % n].y - p[(i + 1) % n].x * p[i].y;
    return std::fabs(twice) * 0.5;
}

}  // namespace

double triangle_square_overlap(const TexelXY corner[3], double x, double y) {
    TexelXY poly[8];
    return polygon_area(poly, clip_to_square(corner, x, y, poly));
}

bool triangles_overlap_in_square(const TexelXY a[3], const TexelXY b[3], double x, double y) {
    TexelXY poly[16], other[16];
    int n = clip_to_square(a, x, y, poly);
    TexelXY c[3] = {b[0], b[1], b[2]};
    if (cross(c[0], c[1], c[2]) < 0) std::swap(c[1], c[2]);
    for (int i = 0; i < 3 && n > 0; ++i) {
        // Inside of edge p -> q of a counter-clockwise triangle: cross >= 0.
        const TexelXY p = c[i], q = c[(i + 1) % 3];
        n = clip(poly, n, -(q.y - p.y), q.x - p.x, (q.y - p.y) * p.x - (q.x - p.x) * p.y, other);
        for (int k = 0; k < n; ++k) poly[k] = other[k];
    }
    return polygon_area(poly, n) > min_cover;
}

bool contains_point(const TexelXY corner[3], TexelXY p) {
    TexelXY c[3] = {corner[0], corner[1], corner[2]};
    if (cross(c[0], c[1], c[2]) < 0) std::swap(c[1], c[2]);
    for (int i = 0; i < 3; ++i) {
        const TexelXY a = c[i], b = c[(i + 1) % 3];
        const double side = edge_side(a, b, p);
        if (side < 0 || (side == 0 && !owns_edge(a, b))) return false;
    }
    return true;
}

double nearest_weights(const TexelXY corner[3], TexelXY p, double& b1, double& b2) {
    const TexelXY c0 = corner[0], c1 = corner[1], c2 = corner[2];
    const double d = cross(c0, c1, c2);
    const double w1 = cross(c0, p, c2) / d, w2 = cross(c0, c1, p) / d;
    if (w1 >= 0 && w2 >= 0 && w1 + w2 <= 1) {
        b1 = w1;
        b2 = w2;
        return 0;
    }
    // Outside: the nearest point lies on one of the edges.
    double best = INFINITY;
    const double weights_of[3][2] = {{0, 0}, {1, 0}, {0, 1}};  // (b1, b2) at each corner
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        const TexelXY a = corner[i], b = corner[j];
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double len2 = ex * ex + ey * ey;
        double t = len2 > 0 ? ((p.x - a.x) * ex + (p.y - a.y) * ey) / len2 : 0;
        t = std::fmin(1.0, std::fmax(0.0, t));
        const double qx = a.x + ex * t - p.x, qy = a.y + ey * t - p.y;
        const double dist2 = qx * qx + qy * qy;
        if (dist2 < best) {
            best = dist2;
            b1 = weights_of[i][0] * (1 - t) + weights_of[j][0] * t;
            b2 = weights_of[i][1] * (1 - t) + weights_of[j][1] * t;
        }
    }
    return best;
}

double texel_cover_area(const PlacedTriangle& p, int x, int y) {
    if (x < p.x0 || x >= p.x1 || y < p.y0 || y >= p.y1) return 0;
    const double area = triangle_square_overlap(p.corner, x, y);
    return area > min_cover ? area : 0;
}

void cover_texel(const std::vector<PlacedTriangle>& placed, int x, int y, TexelCoverage& out) {
    out.covers.clear();
    out.chosen = nullptr;
    out.overlapped = false;
    const TexelXY centre{x + 0.5, y + 0.5};
    const PlacedTriangle *centre_tri = nullptr, *best_tri = nullptr;
    double centre_area = 0, best_area = 0;
    for (const PlacedTriangle& p : placed) {
        const double area = texel_cover_area(p, x, y);
        if (area == 0) continue;
        out.covers.push_back({&p, area});
        if (area > best_area) {
            best_area = area;
            best_tri = &p;
        }
        if (contains_point(p.corner, centre)) {
            if (area > centre_area) {
                centre_area = area;
                centre_tri = &p;
            }
        }
    }
    out.chosen = centre_tri ? centre_tri : best_tri;
    for (size_t i = 0; i < out.covers.size() && !out.overlapped; ++i)
        for (size_t j = i + 1; j < out.covers.size() && !out.overlapped; ++j)
            out.overlapped = triangles_overlap_in_square(out.covers[i].triangle->corner,
                                                         out.covers[j].triangle->corner, x, y);
}

namespace {

// Moves the weights (b1, b2) of a point on the border of the triangle
// border_inset texels toward its centroid, at most half way.
void inset_from_border(const TexelXY corner[3], double& b1, double& b2) {
    const double b0 = 1 - b1 - b2;
    const TexelXY p{corner[0].x * b0 + corner[1].x * b1 + corner[2].x * b2,
                    corner[0].y * b0 + corner[1].y * b1 + corner[2].y * b2};
    const TexelXY c{(corner[0].x + corner[1].x + corner[2].x) / 3, (corner[0].y + corner[1].y + corner[2].y) / 3};
    const double distance = std::hypot(c.x - p.x, c.y - p.y);
    if (!(distance > 0)) return;
    const double t = std::fmin(0.5, border_inset / distance);
    b1 += (1.0 / 3 - b1) * t;
    b2 += (1.0 / 3 - b2) * t;
}

}  // namespace

SurfacePoint locate_in_texel(const TexelCoverage& coverage, TexelXY p) {
    SurfacePoint s;
    if (!coverage.chosen) return s;
    if (coverage.overlapped) {
        s.triangle = coverage.chosen->triangle;
        if (nearest_weights(coverage.chosen->corner, p, s.b1, s.b2) > 0)
            inset_from_border(coverage.chosen->corner, s.b1, s.b2);
        return s;
    }
    double best = INFINITY;
    const TexelXY* nearest = nullptr;
    for (const TexelCover& c : coverage.covers) {
        double b1, b2;
        if (contains_point(c.triangle->corner, p)) {
            nearest_weights(c.triangle->corner, p, s.b1, s.b2);
            s.triangle = c.triangle->triangle;
            return s;
        }
        const double d = nearest_weights(c.triangle->corner, p, b1, b2);
        if (d < best) {
            best = d;
            s = {c.triangle->triangle, b1, b2};
            nearest = c.triangle->corner;
        }
    }
    if (nearest) inset_from_border(nearest, s.b1, s.b2);
    return s;
}

}  // namespace vosh::render
