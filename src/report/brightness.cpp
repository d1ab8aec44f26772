#include "report/brightness.h"

#include "astro/moon_ephemeris.h"
#include "astro/time_scales.h"
#include "photometry/aperture.h"
#include "photometry/flash_energy.h"

#include <cmath>
#include <map>
#include <vector>

namespace serflash::report {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Frames of a candidate's neighbourhood as patches around its peak pixel.
using patches = std::map<std::int32_t, photometry::patch>;

patches read_patches(ser::ser_reader& reader, const std::vector<std::int32_t>& frames, std::int32_t x, std::int32_t y,
                     std::int32_t half) {
    const std::int32_t w = reader.width(), h = reader.height();
    const std::int32_t top = std::max(0, y - half), bottom = std::min(h - 1, y + half);
    std::vector<std::uint16_t> rows(static_cast<std::size_t>(bottom - top + 1) * static_cast<std::size_t>(w));
    patches out;
    for (const std::int32_t f : frames) {
        reader.read_rows(f, top, bottom - top + 1, rows);
        out.emplace(f, photometry::cut_patch(rows.data(), w, top, bottom - top + 1, x, y, half));
    }
    return out;
}

// The per-pixel mean and variance of the background frames.
struct background {
    photometry::patch mean, variance;
    std::int32_t frames = 0;
};

background background_of(const patches& all, const std::vector<std::int32_t>& frames) {
    background b;
    const photometry::patch& first = all.at(frames.front());
    b.mean = first;
    b.variance = first;
    const std::size_t n = first.values.size();
    b.frames = static_cast<std::int32_t>(frames.size());
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (const std::int32_t f : frames) sum += all.at(f).values[i];
        const double mean = sum / b.frames;
        double sq = 0.0;
        for (const std::int32_t f : frames) sq += (all.at(f).values[i] - mean) * (all.at(f).values[i] - mean);
        b.mean.values[i] = mean;
        b.variance.values[i] = b.frames > 1 ? sq / (b.frames - 1) : nan;
    }
    return b;
}

photometry::patch excess_of(const photometry::patch& frame, const background& b) {
    photometry::patch e = frame;
    for (std::size_t i = 0; i < e.values.size(); ++i) e.values[i] -= b.mean.values[i];
    return e;
}

} // namespace

double exposure_of(const observation& o, const photometry::zero_point& z) {
    if (o.times.frame_interval > 0.0) return o.times.frame_interval;
    return z.exposure_s > 0.0 ? z.exposure_s : 0.0;
}

double moon_distance_km(const observation& o, const detect::candidate& c,
                        const std::optional<astro::observing_site>& site) {
    const auto t = o.times.utc_of(c.peak.frame);
    if (!t || !astro::in_ephemeris_range(*t)) return photometry::mean_moon_distance_km;
    return astro::moon_at(*t, site).distance_km;
}

void measure_brightness(ser::ser_reader& reader, observation& o, const photometry::zero_point& z,
                        const std::optional<astro::observing_site>& site) {
    const photometry::band* band = photometry::find_band(z.band);
    const double exposure = exposure_of(o, z);
    if (band == nullptr || !(exposure > 0.0) || !reader.check_geometry().ok()) return;
    const std::int32_t packet = std::max(1, o.settings.packet_size);
    const std::int32_t present = reader.frames_present();
    // A plain value brings no spot width: the flash's own is taken from its curve of growth.
    const double outer = z.sky_inner_px - 1.0;
    const auto half = static_cast<std::int32_t>(std::ceil(z.from_value() ? outer : z.aperture_px)) + 1;

    for (measured_candidate& m : o.candidates) {
        const detect::candidate& c = m.c;
        std::vector<std::int32_t> own, others;
        for (std::int32_t f = c.first_frame; f <= c.last_frame && f < present; ++f) own.push_back(f);
        const std::int32_t first = c.peak.packet_first_frame;
        for (std::int32_t f = first; f < first + packet && f < present; ++f)
            if (f < c.first_frame || f > c.last_frame) others.push_back(f);
        // The packet's mean without the flash's own frames, whose light would lift it.
        if (others.size() < 2 || own.empty()) continue;
        std::vector<std::int32_t> frames = own;
        frames.insert(frames.end(), others.begin(), others.end());
        const patches all = read_patches(reader, frames, c.peak.det.x, c.peak.det.y, half);
        const background bg = background_of(all, others);
        const double cx = c.peak.det.x, cy = c.peak.det.y;

        const photometry::patch peak = excess_of(all.at(c.peak.frame), bg);
        const photometry::circle_sum in = photometry::sum_in_circle(peak, cx, cy, z.aperture_px);
        const photometry::circle_sum var = photometry::sum_in_circle(bg.variance, cx, cy, z.aperture_px);
        if (!in.complete) continue;
        double sigma = z.psf_sigma_px;
        if (z.from_value()) {
            const photometry::circle_sum wide = photometry::sum_in_circle(peak, cx, cy, outer);
            sigma = photometry::gaussian_sigma_from_ratio(z.aperture_px, outer, in.sum / wide.sum);
            if (std::isnan(sigma)) sigma = 0.05; // a spot within the aperture, or too faint to tell
        }
        const double share = photometry::gaussian_fraction(z.aperture_px, sigma);
        // The noise of the frame and of the mean it is measured against.
        const double counts_sigma = std::sqrt(var.sum * (1.0 + 1.0 / bg.frames));
        const double counts = in.sum / share;
        m.brightness.peak_mag = photometry::magnitude_of(z, counts / exposure);
        m.brightness.peak_mag_err = std::hypot(photometry::magnitude_error(in.sum, counts_sigma), z.error);

        double total = 0.0;
        for (const std::int32_t f : own)
            total += photometry::sum_in_circle(excess_of(all.at(f), bg), cx, cy, z.aperture_px).sum;
        const double total_mag = photometry::magnitude_of(z, total / share / exposure);
        if (std::isfinite(total_mag))
            m.brightness.energy_j =
                photometry::luminous_energy_j(*band, total_mag, exposure, moon_distance_km(o, c, site));
    }
}

} // namespace serflash::report
