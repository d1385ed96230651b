#include "renderer/trace/environment.h"

#include <algorithm>
#include <cmath>

namespace vosh::render {

namespace {

Color texel(const Image& img, int x, int y) {
    x = ((x % img.width) + img.width) % img.width;  // wraps around in longitude
    y = std::clamp(y, 0, img.height - 1);
    const float* p = &img.rgba[(static_cast<size_t>(y) * img.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

Color environment_lookup(const EnvironmentDesc& env, Vec3 direction) {
    if (!env.has_image) return env.color;
    const Vec3 d = normalize(direction);
    if (!is_finite(d) || !(length(d) > 0)) return {0, 0, 0, 1};
    // u = 0.5 looks along -z, u = 0.75 along +x; v = 0 straight up.
    const double u = 0.5 + std::atan2(d.x, -d.z) / (2 * M_PI);
    const double v = std::acos(std::clamp(d.y, -1.0, 1.0)) / M_PI;
    const double fx = u * env.image.width - 0.5, fy = v * env.image.height - 0.5;
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const float tx = static_cast<float>(fx - x0), ty = static_cast<float>(fy - y0);
    const Color a = texel(env.image, x0, y0), b = texel(env.image, x0 + 1, y0);
    const Color c = texel(env.image, x0, y0 + 1), e = texel(env.image, x0 + 1, y0 + 1);
    const auto mix = [&](float p, float q, float r, float s) {
        return (p * (1 - tx) + q * tx) * (1 - ty) + (r * (1 - tx) + s * tx) * ty;
    };
    return {mix(a.r, b.r, c.r, e.r), mix(a.g, b.g, c.g, e.g), mix(a.b, b.b, c.b, e.b), 1.0f};
}

}  // namespace vosh::render
