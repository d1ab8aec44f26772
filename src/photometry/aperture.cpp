#include "photometry/aperture.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace serflash::photometry {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

double median_of(std::vector<double>& v) {
    if (v.empty()) return nan;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1) return upper;
    const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2.0;
}

// Calls f(value, squared distance) for every pixel of the patch within `radius` of (cx, cy),
// and f(NaN, ...) for those of the circle outside it.
template <typename F>
void each_within(const patch& p, double cx, double cy, double radius, F f) {
    const auto x0 = static_cast<std::int32_t>(std::floor(cx - radius));
    const auto x1 = static_cast<std::int32_t>(std::ceil(cx + radius));
    const auto y0 = static_cast<std::int32_t>(std::floor(cy - radius));
    const auto y1 = static_cast<std::int32_t>(std::ceil(cy + radius));
    for (std::int32_t y = y0; y <= y1; ++y)
        for (std::int32_t x = x0; x <= x1; ++x) {
            const double dx = x - cx, dy = y - cy;
            const double d2 = dx * dx + dy * dy;
            if (d2 <= radius * radius) f(p.at(x, y), d2, x, y);
        }
}

} // namespace

double patch::at(std::int32_t x, std::int32_t y) const {
    const std::int32_t c = x - left, r = y - top;
    if (c < 0 || r < 0 || c >= side || r >= side) return nan;
    return values[static_cast<std::size_t>(r) * static_cast<std::size_t>(side) + static_cast<std::size_t>(c)];
}

patch cut_patch(const std::uint16_t* samples, std::int32_t width, std::int32_t first_row, std::int32_t rows,
                std::int32_t cx, std::int32_t cy, std::int32_t half) {
    patch p;
    p.left = cx - half;
    p.top = cy - half;
    p.side = 2 * half + 1;
    p.values.assign(static_cast<std::size_t>(p.side) * static_cast<std::size_t>(p.side), nan);
    for (std::int32_t r = 0; r < p.side; ++r) {
        const std::int32_t row = p.top + r - first_row;
        if (row < 0 || row >= rows) continue;
        for (std::int32_t c = 0; c < p.side; ++c) {
            const std::int32_t col = p.left + c;
            if (col < 0 || col >= width) continue;
            p.values[static_cast<std::size_t>(r) * static_cast<std::size_t>(p.side) + static_cast<std::size_t>(c)] =
                samples[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(col)];
        }
    }
    return p;
}

aperture aperture_of_radius(double radius) { return {radius, 2.0 * radius, 3.5 * radius}; }

circle_sum sum_in_circle(const patch& p, double cx, double cy, double radius) {
    circle_sum s;
    each_within(p, cx, cy, radius, [&](double v, double, std::int32_t, std::int32_t) {
        if (std::isnan(v)) {
            s.complete = false;
            return;
        }
        s.sum += v;
        ++s.pixels;
    });
    return s;
}

sky sky_in_annulus(const patch& p, double cx, double cy, double inner, double outer) {
    std::vector<double> values;
    each_within(p, cx, cy, outer, [&](double v, double d2, std::int32_t, std::int32_t) {
        if (!std::isnan(v) && d2 >= inner * inner) values.push_back(v);
    });
    sky s;
    s.pixels = static_cast<std::int32_t>(values.size());
    s.level = median_of(values);
    for (double& v : values) v = std::fabs(v - s.level);
    s.sigma = 1.4826 * median_of(values);
    return s;
}

point centroid(const patch& p, double cx, double cy, double radius, double background) {
    double sw = 0.0, sx = 0.0, sy = 0.0;
    each_within(p, cx, cy, radius, [&](double v, double, std::int32_t x, std::int32_t y) {
        if (std::isnan(v) || v <= background) return;
        const double w = v - background;
        sw += w;
        sx += w * x;
        sy += w * y;
    });
    if (!(sw > 0.0)) return {cx, cy};
    return {sx / sw, sy / sw};
}

double gaussian_fraction(double radius, double sigma) {
    return 1.0 - std::exp(-(radius * radius) / (2.0 * sigma * sigma));
}

double gaussian_sigma_from_ratio(double inner, double outer, double ratio) {
    // The ratio falls from 1 (a point) as the spot widens; bisect on the width.
    const auto ratio_of = [&](double s) { return gaussian_fraction(inner, s) / gaussian_fraction(outer, s); };
    double lo = 0.05, hi = 4.0 * outer;
    if (!(ratio < ratio_of(lo) && ratio > ratio_of(hi))) return nan;
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2.0;
        if (ratio_of(mid) > ratio)
            lo = mid;
        else
            hi = mid;
    }
    return (lo + hi) / 2.0;
}

} // namespace serflash::photometry
