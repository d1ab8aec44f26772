#include "report/moon_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace serflash::report {
namespace {

using colour = std::array<std::uint8_t, 3>;
constexpr colour limb_colour = {255, 64, 64};
constexpr colour fit_point_colour = {255, 220, 0};
constexpr colour grid_colour = {60, 200, 90};
constexpr colour mark_colour = {0, 220, 255};

struct canvas {
    image8& image;
    double scale; // picture pixels per frame pixel

    void put(double fx, double fy, const colour& c) {
        const auto x = static_cast<std::int32_t>(std::lround(fx * scale));
        const auto y = static_cast<std::int32_t>(std::lround(fy * scale));
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
        const std::size_t i =
            (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)) * 3;
        std::copy(c.begin(), c.end(), image.pixels.begin() + static_cast<std::ptrdiff_t>(i));
    }
    // A line in frame pixels, drawn in steps of about one picture pixel.
    void line(const astro::image_point& a, const astro::image_point& b, const colour& c) {
        const double length = std::hypot(b.x - a.x, b.y - a.y) * scale;
        const int steps = std::max(1, static_cast<int>(std::min(length, 4000.0)));
        for (int k = 0; k <= steps; ++k) {
            const double t = static_cast<double>(k) / steps;
            put(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, c);
        }
    }
    void ring(double x, double y, double radius_px, const colour& c) {
        for (int k = 0; k < 64; ++k) {
            const double a = k * (2.0 * std::numbers::pi / 64);
            put(x + radius_px / scale * std::cos(a), y + radius_px / scale * std::sin(a), c);
        }
    }
};

} // namespace

std::vector<std::vector<astro::image_point>> selenographic_grid(const astro::disk_view& view,
                                                                const astro::moon_ephemeris& e) {
    std::vector<std::vector<astro::image_point>> lines;
    const auto trace = [&](auto point_at, double from, double to) {
        std::vector<astro::image_point> current;
        for (double t = from; t <= to + 1e-9; t += 1.0) {
            if (const auto p = astro::image_of(view, e, point_at(t))) {
                current.push_back(*p);
            } else if (!current.empty()) {
                lines.push_back(std::move(current));
                current.clear();
            }
        }
        if (!current.empty()) lines.push_back(std::move(current));
    };
    for (double lat = -90.0 + grid_step_deg; lat < 90.0 - 1e-9; lat += grid_step_deg)
        trace([lat](double lon) { return astro::selenographic_point{lat, lon}; }, -180.0, 180.0);
    for (double lon = -180.0; lon < 180.0 - 1e-9; lon += grid_step_deg)
        trace([lon](double lat) { return astro::selenographic_point{lat, lon}; }, -90.0, 90.0);
    return lines;
}

image8 moon_picture(const moon_observation& m, const std::vector<astro::image_point>& candidates) {
    image8 out;
    const astro::grey_image& g = m.mean;
    if (g.width < 1 || g.height < 1) return out;
    const double scale = std::min(1.0, static_cast<double>(moon_picture_width) / g.width);
    out.width = std::max(1, static_cast<std::int32_t>(g.width * scale));
    out.height = std::max(1, static_cast<std::int32_t>(g.height * scale));
    out.channels = 3;
    out.pixels.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3, 0);
    // Square-root steps from the darkest percent to the brightest, so earthshine and sunlight both show.
    std::vector<float> sorted = g.samples;
    std::sort(sorted.begin(), sorted.end());
    const double black = sorted[sorted.size() / 100];
    const double white = std::max(black + 1.0, static_cast<double>(sorted[sorted.size() - 1 - sorted.size() / 1000]));
    for (std::int32_t y = 0; y < out.height; ++y)
        for (std::int32_t x = 0; x < out.width; ++x) {
            const auto fx = std::min(g.width - 1, static_cast<std::int32_t>(x / scale));
            const auto fy = std::min(g.height - 1, static_cast<std::int32_t>(y / scale));
            const double t = std::clamp((g.at(fx, fy) - black) / (white - black), 0.0, 1.0);
            const auto v = static_cast<std::uint8_t>(std::lround(255.0 * std::sqrt(t)));
            const std::size_t i =
                (static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) + static_cast<std::size_t>(x)) * 3;
            out.pixels[i] = out.pixels[i + 1] = out.pixels[i + 2] = v;
        }
    canvas c{out, scale};
    if (m.limb.found) {
        if (m.oriented && m.ephemeris)
            for (const auto& line : selenographic_grid(m.view, *m.ephemeris))
                for (std::size_t k = 1; k < line.size(); ++k) c.line(line[k - 1], line[k], grid_colour);
        const astro::disk_circle& d = m.limb.disk;
        const double steps = std::max(64.0, 2.0 * std::numbers::pi * d.radius * scale);
        for (double k = 0; k < steps; k += 1.0) {
            const double a = k / steps * 2.0 * std::numbers::pi;
            c.put(d.x + d.radius * std::cos(a), d.y + d.radius * std::sin(a), limb_colour);
        }
        for (const astro::image_point& p : m.limb.limb) c.put(p.x, p.y, fit_point_colour);
    }
    for (const astro::image_point& p : candidates) {
        c.ring(p.x, p.y, 6.0, mark_colour);
        c.ring(p.x, p.y, 7.0, mark_colour);
    }
    return out;
}

} // namespace serflash::report
