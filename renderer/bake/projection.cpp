#include "renderer/bake/projection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vosh::render {

namespace {

// Nearest source hit along `direction` from `from`, within `reach`, on
// either face; its distance from `from` in `distance`. The ray starts a
// hair behind `from` so that a source lying on the low surface itself is
// found from both sides.
bool nearest_source(const SceneGeometry& sources, Vec3 from, Vec3 direction, double reach, double hair,
                    SurfaceHit& hit, double& distance) {
    if (!(reach > 0)) return false;
    if (!sources.intersect(from - direction * hair, direction, reach + hair, 'a', UINT32_MAX, UINT32_MAX, hit))
        return false;
    distance = std::fabs(hit.distance - hair);
    return true;
}

void grow(Vec3& lo, Vec3& hi, Vec3 p) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

Vec3 to_world(const ObjectDesc& o, Vec3 p) { return o.has_transform ? transform_point(o.transform, p) : p; }

}  // namespace

bool project_point(const SceneGeometry& sources, const SceneGeometry& scene, uint32_t low,
                   uint32_t triangle, double b1, double b2, const ProjectionReach& reach,
                   SurfaceHit& hit) {
    SurfaceHit at;
    if (!scene.surface_at(low, triangle, b1, b2, at)) return false;
    // `out` points away from the low surface, the way the front reach runs.
    Vec3 out = at.shading_normal;
    double front = reach.front;
    if (reach.cage != no_object) {
        SurfaceHit cage;
        if (!scene.surface_at(reach.cage, triangle, b1, b2, cage)) return false;
        front = length(cage.point - at.point);
        if (!(front > 0)) return false;
        out = (cage.point - at.point) * (1.0 / front);
    }
    if (!(length(out) > 0.5) || !is_finite(out)) return false;
    const double hair = 1e-4 * (front + reach.back);
    SurfaceHit ahead, behind;
    double d_ahead = 0, d_behind = 0;
    const bool hit_ahead = nearest_source(sources, at.point, out, front, hair, ahead, d_ahead);
    const bool hit_behind = nearest_source(sources, at.point, -out, reach.back, hair, behind, d_behind);
    if (!hit_ahead && !hit_behind) return false;
    hit = hit_ahead && (!hit_behind || d_ahead <= d_behind) ? ahead : behind;
    hit.distance = 0;  // described as a hit seen from no distance, like the bake's own texels
    return true;
}

double default_reach(const Scene& scene) {
    const double inf = std::numeric_limits<double>::infinity();
    Vec3 lo{inf, inf, inf}, hi{-inf, -inf, -inf};
    for (const ObjectDesc& o : scene.objects) {
        if (o.bake_role != BakeRole::source) continue;
        switch (o.shape) {
            case ShapeKind::mesh:
                for (const Vec3& p : o.mesh.positions) grow(lo, hi, to_world(o, p));
                break;
            case ShapeKind::quad:
                for (const Vec3& p : {o.corner, o.corner + o.edge1, o.corner + o.edge2, o.corner + o.edge1 + o.edge2})
                    grow(lo, hi, to_world(o, p));
                break;
            case ShapeKind::sphere:
            case ShapeKind::disk:
                for (int k = 0; k < 8; ++k)
                    grow(lo, hi, to_world(o, o.center + Vec3{k & 1 ? o.radius : -o.radius,
                                                             k & 2 ? o.radius : -o.radius,
                                                             k & 4 ? o.radius : -o.radius}));
                break;
        }
    }
    if (!(lo.x <= hi.x)) return 0;
    return 0.01 * length(hi - lo);
}

bool check_projection(const Scene& scene, uint32_t low, uint32_t cage, std::string& error) {
    const ObjectDesc& target = scene.objects[low];
    if (target.bake_role == BakeRole::source) {
        error = scene.file + ": \"" + target.name + "\" is the low-poly baked and one of its sources: a mesh "
                "cannot be projected onto itself";
        return false;
    }
    if (std::none_of(scene.objects.begin(), scene.objects.end(),
                     [](const ObjectDesc& o) { return o.bake_role == BakeRole::source; })) {
        error = scene.file + ": the bake has no high-poly source";
        return false;
    }
    if (cage == no_object) return true;
    const ObjectDesc& c = scene.objects[cage];
    if (cage == low || c.bake_role == BakeRole::source) {
        error = scene.file + ": the cage \"" + c.name + "\" is also the low-poly or a source";
        return false;
    }
    if (c.shape != ShapeKind::mesh) {
        error = scene.file + ": the cage \"" + c.name + "\" is not a mesh";
        return false;
    }
    const size_t cv = c.mesh.positions.size(), ct = c.mesh.indices.size() / 3;
    const size_t lv = target.mesh.positions.size(), lt = target.mesh.indices.size() / 3;
    if (cv != lv || ct != lt) {
        error = scene.file + ": the cage \"" + c.name + "\" has " + std::to_string(cv) + " vertices and " +
                std::to_string(ct) + " triangles, the low-poly \"" + target.name + "\" " + std::to_string(lv) +
                " and " + std::to_string(lt) + ": a cage needs the low-poly's topology, vertex for vertex";
        return false;
    }
    return true;
}

}  // namespace vosh::render
