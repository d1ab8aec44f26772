#include "photometry/star_measure.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace serflash::photometry {
namespace {

constexpr std::int32_t frames_to_locate = 16;

double median_of(std::vector<double> v) {
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1) return upper;
    return (*std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid)) + upper) / 2.0;
}

// 1.4826 x the median absolute deviation.
double spread_of(const std::vector<double>& v, double median) {
    std::vector<double> d;
    d.reserve(v.size());
    for (const double x : v) d.push_back(std::fabs(x - median));
    return 1.4826 * median_of(std::move(d));
}

} // namespace

star_measurement measure_star(ser::ser_reader& reader, const aperture& a) {
    star_measurement m;
    if (const platform::status geometry = reader.check_geometry(); !geometry.ok()) {
        m.error = geometry.reason();
        return m;
    }
    const std::int32_t w = reader.width(), h = reader.height(), present = reader.frames_present();
    const auto margin = static_cast<std::int32_t>(std::ceil(a.sky_outer)) + 1;
    if (present < 1) {
        m.error = "the file holds no whole frame";
        return m;
    }
    if (w <= 2 * margin || h <= 2 * margin) {
        m.error = "the frame is too small for the sky annulus (" + std::to_string(2 * margin + 1) + " pixels across)";
        return m;
    }
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<std::uint16_t> frame(n);
    std::vector<double> mean(n, 0.0);
    const std::int32_t locate = std::min(present, frames_to_locate);
    for (std::int32_t k = 0; k < locate; ++k) {
        reader.read_rows(k, 0, h, frame);
        for (std::size_t i = 0; i < n; ++i) mean[i] += frame[i];
    }
    // The 3 x 3 mean over the mean of the ring 5 pixels out, so that a sloping sky does not win.
    const auto at = [&](std::int32_t x, std::int32_t y) {
        return mean[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
    };
    constexpr std::int32_t ring = 5;
    double best = -std::numeric_limits<double>::infinity();
    std::int32_t bx = w / 2, by = h / 2;
    for (std::int32_t y = std::max(margin, ring); y < h - std::max(margin, ring); ++y)
        for (std::int32_t x = std::max(margin, ring); x < w - std::max(margin, ring); ++x) {
            double core = 0.0, around = 0.0;
            for (std::int32_t dy = -1; dy <= 1; ++dy)
                for (std::int32_t dx = -1; dx <= 1; ++dx) core += at(x + dx, y + dy);
            for (std::int32_t d = -ring; d < ring; ++d)
                around += at(x + d, y - ring) + at(x + ring, y + d) + at(x - d, y + ring) + at(x - ring, y - d);
            const double score = core / 9.0 - around / (8.0 * ring);
            if (score > best) {
                best = score;
                bx = x;
                by = y;
            }
        }

    const double saturated = reader.depth() == 8 ? 255.0 : 65535.0;
    const double big = a.sky_inner - 1.0; // the circle of the curve of growth
    std::vector<double> inner, outer, xs, ys, skies, sky_sigmas;
    for (std::int32_t k = 0; k < present; ++k) {
        reader.read_rows(k, by - margin, 2 * margin + 1,
                         std::span<std::uint16_t>(
                             frame.data(), static_cast<std::size_t>(2 * margin + 1) * static_cast<std::size_t>(w)));
        const patch p = cut_patch(frame.data(), w, by - margin, 2 * margin + 1, bx, by, margin);
        const sky s = sky_in_annulus(p, bx, by, a.sky_inner, a.sky_outer);
        const point c = centroid(p, bx, by, a.radius, s.level + 3.0 * s.sigma);
        const circle_sum in = sum_in_circle(p, c.x, c.y, a.radius);
        const circle_sum out = sum_in_circle(p, c.x, c.y, big);
        for (std::int32_t y = by - 1; y <= by + 1; ++y)
            for (std::int32_t x = bx - 1; x <= bx + 1; ++x)
                if (p.at(x, y) >= saturated) {
                    m.error = "the star reaches the largest sample value in frame " + std::to_string(k) +
                              " (saturated): record it with a shorter exposure or a lower gain";
                    return m;
                }
        inner.push_back(in.sum - s.level * in.pixels);
        outer.push_back(out.sum - s.level * out.pixels);
        xs.push_back(c.x);
        ys.push_back(c.y);
        skies.push_back(s.level);
        sky_sigmas.push_back(s.sigma);
    }
    m.frames = present;
    m.x = median_of(xs);
    m.y = median_of(ys);
    m.sky_level = median_of(skies);
    m.sky_sigma = median_of(sky_sigmas);
    m.aperture_counts = median_of(inner);
    // The standard error of a median is about 1.2533 that of a mean.
    m.aperture_counts_err = 1.2533 * spread_of(inner, m.aperture_counts) / std::sqrt(static_cast<double>(present));
    if (!(m.aperture_counts > 5.0 * m.aperture_counts_err) || !(m.aperture_counts > 0.0)) {
        m.error = "no star stands out of the sky at column " + std::to_string(bx) + ", row " + std::to_string(by);
        return m;
    }
    const double ratio = m.aperture_counts / median_of(outer);
    m.psf_sigma_px = gaussian_sigma_from_ratio(a.radius, big, ratio);
    if (std::isnan(m.psf_sigma_px)) {
        if (ratio < 1.0) {
            m.error = "the star's spot is too wide for an aperture of " + std::to_string(a.radius) +
                      " pixels: give a larger --aperture";
            return m;
        }
        m.psf_sigma_px = 0.05; // all of the spot inside the circle already
    }
    m.whole_counts = m.aperture_counts / gaussian_fraction(a.radius, m.psf_sigma_px);
    return m;
}

zero_point zero_point_of(const star_measurement& m, const aperture& a, double magnitude, const std::string& band,
                         double exposure_s) {
    zero_point z;
    z.band = band;
    z.magnitude = magnitude + 2.5 * std::log10(m.whole_counts / exposure_s);
    z.error = magnitude_error(m.aperture_counts, m.aperture_counts_err);
    z.aperture_px = a.radius;
    z.sky_inner_px = a.sky_inner;
    z.sky_outer_px = a.sky_outer;
    z.psf_sigma_px = m.psf_sigma_px;
    z.exposure_s = exposure_s;
    z.star_magnitude = magnitude;
    z.star_counts_per_s = m.whole_counts / exposure_s;
    z.frames_measured = m.frames;
    return z;
}

} // namespace serflash::photometry
