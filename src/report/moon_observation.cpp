#include "report/moon_observation.h"

#include "astro/time_scales.h"

#include <algorithm>
#include <cmath>

namespace serflash::report {
namespace {

// A peak pixel stands for the flash's centre to within half a pixel.
constexpr double peak_pixel_err = 0.5;

astro::grey_image averaged_frames(ser::ser_reader& reader, std::int32_t first, std::int32_t count, std::int32_t& used) {
    astro::grey_image mean;
    used = 0;
    if (!reader.check_geometry() || count < 1) return mean;
    const std::int32_t w = reader.width(), h = reader.height();
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<std::uint16_t> frame(n);
    std::vector<std::uint32_t> sum(n, 0);
    const std::int32_t take = std::min(count, disk_frames);
    for (std::int32_t k = 0; k < take; ++k) {
        const std::int32_t f = first + static_cast<std::int32_t>(static_cast<std::int64_t>(k) * count / take);
        reader.read_rows(f, 0, h, frame);
        for (std::size_t i = 0; i < n; ++i) sum[i] += frame[i];
        ++used;
    }
    mean.width = w;
    mean.height = h;
    mean.samples.resize(n);
    for (std::size_t i = 0; i < n; ++i) mean.samples[i] = static_cast<float>(static_cast<double>(sum[i]) / used);
    return mean;
}

// The ephemeris, or none outside the years it serves.
std::optional<astro::moon_ephemeris> ephemeris_at(std::int64_t ticks,
                                                  const std::optional<astro::observing_site>& site) {
    if (!astro::in_ephemeris_range(ticks)) return std::nullopt;
    return astro::moon_at(ticks, site);
}

} // namespace

std::string moon_observation::ephemeris_note() const {
    if (!ephemeris || site) return {};
    return "no site: the geocentric ephemeris is used (parallax moves the Moon by up to a degree)";
}

moon_observation observe_moon(ser::ser_reader& reader, const ser::frame_times& times, std::int32_t start_frame,
                              std::int32_t packet_size, const moon_options& options) {
    moon_observation m;
    m.looked = times.known() || options.requested();
    if (!m.looked) return m;
    m.site = options.site;
    const std::int32_t present = reader.frames_present();
    m.first_frame = std::clamp(start_frame, 0, std::max(0, present - 1));
    const std::int32_t span = std::min(std::max(1, packet_size), present - m.first_frame);
    m.mean = averaged_frames(reader, m.first_frame, span, m.frames_averaged);
    m.limb = astro::find_limb(m.mean);
    if (m.frames_averaged > 0) m.utc_ticks = times.utc_of(m.first_frame + span / 2);
    if (m.utc_ticks) m.ephemeris = ephemeris_at(*m.utc_ticks, options.site);

    m.view.mirror = options.mirror;
    if (m.limb.found) {
        m.view.disk = m.limb.disk;
        if (m.ephemeris) m.scale_arcsec_per_px = m.ephemeris->semidiameter_arcsec / m.limb.disk.radius;
    }
    if (options.rotation_deg) {
        m.oriented = true;
        m.orientation_source = "given";
        m.view.orientation_deg = astro::positive_degrees(*options.rotation_deg);
    } else if (m.limb.found && m.ephemeris) {
        const astro::sunlight sun = astro::sunlight_of(*m.ephemeris);
        m.bright = astro::measure_bright_limb(m.mean, m.limb.disk, sun.cos_phase);
        if (m.bright.found) {
            m.oriented = true;
            m.orientation_source = "measured from the bright limb";
            m.view.orientation_deg =
                astro::orientation_for(m.bright.image_angle_deg, sun.bright_limb_pa_deg, m.view.mirror);
            m.view.orientation_err_deg = m.bright.err_deg;
        } else {
            m.orientation_source = m.bright.why_not + "; give the rotation";
        }
    } else {
        m.orientation_source = m.limb.found ? "no time, so no ephemeris to measure it against" : m.limb.why_not;
    }

    return m;
}

candidate_position position_on_moon(const moon_observation& m, const detect::candidate& c,
                                    const ser::frame_times& times) {
    candidate_position p;
    if (!m.looked) return p;
    const auto ticks = times.utc_of(c.peak.frame);
    if (!m.limb.found)
        p.why_not = no_limb_reason;
    else if (!ticks)
        p.why_not = no_time_reason;
    else if (!m.oriented)
        p.why_not = no_orientation_reason;
    else if (const auto e = ephemeris_at(*ticks, m.site); !e)
        p.why_not = no_time_reason;
    else {
        p.at = astro::locate(m.view, *e, {static_cast<double>(c.peak.det.x), static_cast<double>(c.peak.det.y)},
                             peak_pixel_err);
        if (!p.at) p.why_not = off_disk_reason;
    }
    return p;
}

} // namespace serflash::report
