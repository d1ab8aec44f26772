#include "detect/noise_tail.h"

#include "detect/candidates.h"
#include "detect/passes.h"
#include "detect/rules.h"
#include "detect/packet_buffers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace serflash::detect {
namespace {

struct event {
    std::int32_t row = 0, col = 0;
    std::size_t bin = 0;
};

// A frame's whole-image shift against the packet mean, found by least squares on the mean's
// gradient over a grid of unmasked inner pixels: frame(x) - mean(x) = -grad mean(x) . shift.
struct frame_shift {
    double dx = 0.0, dy = 0.0;
};
constexpr std::int32_t shift_grid = 2; // every second row and column is enough to measure it
constexpr double largest_shift = 1.0;  // px: beyond this the mean's neighbourhood no longer bounds the mirror

frame_shift measure_shift(const packet_buffers& buf) {
    const std::int32_t w = buf.width;
    const std::int32_t h = buf.height;
    const std::size_t uw = static_cast<std::size_t>(w);
    double sxx = 0.0, sxy = 0.0, syy = 0.0, sxd = 0.0, syd = 0.0;
    for (std::int32_t row = inner_margin; row < h - inner_margin; row += shift_grid)
        for (std::int32_t col = inner_margin; col < w - inner_margin; col += shift_grid) {
            const std::size_t i = static_cast<std::size_t>(row) * uw + static_cast<std::size_t>(col);
            if (!(buf.sigma_map[i] < mask_value)) continue;
            const double gx = 0.5 * (buf.mean_map[i + 1] - buf.mean_map[i - 1]);
            const double gy = 0.5 * (buf.mean_map[i + uw] - buf.mean_map[i - uw]);
            const double d = static_cast<double>(buf.frame_buf[i]) - buf.mean_map[i];
            sxx += gx * gx;
            sxy += gx * gy;
            syy += gy * gy;
            sxd += gx * d;
            syd += gy * d;
        }
    const double det = sxx * syy - sxy * sxy;
    if (!(det > 0.0)) return {};
    frame_shift s{-(syy * sxd - sxy * syd) / det, -(sxx * syd - sxy * sxd) / det};
    if (!(std::abs(s.dx) <= largest_shift)) s.dx = std::clamp(s.dx, -largest_shift, largest_shift);
    if (!(std::abs(s.dy) <= largest_shift)) s.dy = std::clamp(s.dy, -largest_shift, largest_shift);
    if (!std::isfinite(s.dx) || !std::isfinite(s.dy)) return {};
    return s;
}

// The mirror of each sample is taken about the packet mean moved with the frame, since the image
// motion alone brightens the dark side of an edge in every frame that moves it there. With
// shifts of at most a pixel that centre lies within the mean's 3 x 3 neighbourhood, so a sample
// above the limit below fails the mirrored main test at tail_first whatever the shift.
void mirrored_limits(const packet_buffers& buf, std::vector<std::int32_t>& limits) {
    const std::int32_t w = buf.width;
    const std::int32_t h = buf.height;
    const std::size_t uw = static_cast<std::size_t>(w);
    limits.assign(buf.sigma_map.size(), -1);
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row)
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i = static_cast<std::size_t>(row) * uw + static_cast<std::size_t>(col);
            double highest = buf.mean_map[i];
            for (std::size_t j : {i - uw - 1, i - uw, i - uw + 1, i - 1, i + 1, i + uw - 1, i + uw, i + uw + 1})
                highest = std::max(highest, buf.mean_map[j]);
            // The largest sample s with 2 x highest - s passing against the pixel's own statistics.
            const double bound = main_test_bound(buf.mean_map[i], buf.sigma_map[i], tail_first);
            const auto passes = [&](std::int32_t v) {
                return passes_bound(2.0 * highest - static_cast<double>(v), bound);
            };
            std::int32_t& limit = limits[i];
            if (!passes(0)) continue; // NaN statistics too
            if (passes(65535)) {
                limit = 65535;
                continue;
            }
            std::int32_t good = 0, bad = 65535;
            while (bad - good > 1) {
                const std::int32_t mid = good + (bad - good) / 2;
                (passes(mid) ? good : bad) = mid;
            }
            limit = good;
        }
}

// The mirrored test of every inner pixel of the frame in buf.frame_buf: the sample reflected
// about the packet mean moved with the frame, through the detector's own main and neighbour
// tests at tail_first against the pixel's statistics. Samples above the pixel's mirrored limit
// fail the main test and are passed over unreflected. Events as close as a candidate's
// detections count once, at the strongest; a frame gives at most as many as the detector lists.
void count_frame(const packet_buffers& buf, const scan_settings& cfg, const std::vector<std::int32_t>& limits,
                 mirrored_tail& tail, std::vector<event>& kept) {
    kept.clear();
    const std::int32_t w = buf.width;
    const std::int32_t h = buf.height;
    const std::size_t uw = static_cast<std::size_t>(w);
    // The mean at (col - dx, row - dy), by bilinear weights that are the same for every pixel.
    const frame_shift shift = measure_shift(buf);
    const double ox = std::floor(-shift.dx), oy = std::floor(-shift.dy);
    const double fx = -shift.dx - ox, fy = -shift.dy - oy;
    const std::ptrdiff_t offset =
        static_cast<std::ptrdiff_t>(oy) * static_cast<std::ptrdiff_t>(w) + static_cast<std::ptrdiff_t>(ox);
    const auto centre = [&](std::size_t i) {
        const double* m = buf.mean_map.data() + static_cast<std::ptrdiff_t>(i) + offset;
        const double top = m[0] + (m[1] - m[0]) * fx;
        const double bottom = m[uw] + (m[uw + 1] - m[uw]) * fx;
        return top + (bottom - top) * fy;
    };
    const auto mirrored = [&](std::size_t i) { return 2.0 * centre(i) - static_cast<double>(buf.frame_buf[i]); };
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row)
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i = static_cast<std::size_t>(row) * uw + static_cast<std::size_t>(col);
            const double sigma = buf.sigma_map[i];
            if (!(sigma < mask_value)) continue;
            ++tail.trials;
            if (static_cast<std::int32_t>(buf.frame_buf[i]) > limits[i]) continue;
            const double s = mirrored(i);
            const double m = buf.mean_map[i];
            if (!main_test(s, m, sigma, tail_first)) continue;
            // The neighbour tests in the detector's order: left, right, above, below.
            const double rise = s - m;
            const auto neighbour_ok = [&](std::size_t j, std::int32_t pct) {
                return neighbour_test(mirrored(j), buf.mean_map[j], rise, pct);
            };
            if (!(neighbour_ok(i - 1, cfg.pct_left) && neighbour_ok(i + 1, cfg.pct_right) &&
                  neighbour_ok(i - uw, cfg.pct_top) && neighbour_ok(i + uw, cfg.pct_bottom)))
                continue;
            // Binned by significance in tenths; a sigma of 0 passes at any threshold (the last bin).
            std::size_t k = tail_bins - 1;
            if (sigma > 0.0) {
                const double bin = std::floor((s - m) / sigma * 10.0) - tail_first;
                if (bin < static_cast<double>(tail_bins - 1)) k = bin > 0.0 ? static_cast<std::size_t>(bin) : 0;
            }
            bool joined = false;
            for (auto it = kept.rbegin(); it != kept.rend() && row - it->row <= candidate_reach; ++it)
                if (std::abs(it->col - col) <= candidate_reach) {
                    it->bin = std::max(it->bin, k);
                    joined = true;
                    break;
                }
            if (!joined) kept.push_back({row, col, k});
        }
    if (kept.size() > static_cast<std::size_t>(max_lines_per_frame))
        kept.resize(static_cast<std::size_t>(max_lines_per_frame));
    for (const event& e : kept) ++tail.events[e.bin];
}

} // namespace

mirrored_tail sweep_mirrored(ser::ser_reader& reader, scan_settings settings, const mask_switches& switches,
                             const std::vector<bool>& examined, const passed_over_pixels& passed_over) {
    mirrored_tail tail;
    if (!reader.check_geometry() || settings.packet_size < 1) return tail;
    clip_to_image(settings, reader.width(), reader.height());
    packet_buffers buf;
    try {
        buf.star_map.assign(reader.samples_per_frame(), 0);
    } catch (const std::bad_alloc&) {
        return tail;
    }
    const std::int32_t first = settings.start_frame;
    const std::int32_t range = static_cast<std::int32_t>(examined.size());
    const std::int32_t npackets = range / settings.packet_size;
    const auto wanted = [&](std::int32_t f) {
        return f - first < range && examined[static_cast<std::size_t>(f - first)];
    };
    std::vector<event> kept;
    std::vector<std::int32_t> limits;
    const auto sweep = [&](std::int32_t from, std::int32_t count) {
        for (std::int32_t f = from; f < from + count; ++f) {
            if (!wanted(f)) continue;
            reader.seek_frame(f);
            reader.read_frame(buf.frame_buf);
            count_frame(buf, settings, limits, tail, kept);
        }
    };
    for (std::int32_t p = 0; p < npackets; ++p) {
        const std::int32_t packet_first = first + p * settings.packet_size;
        bool any = false;
        for (std::int32_t f = packet_first; f < packet_first + settings.packet_size; ++f) any = any || wanted(f);
        const bool last = p + 1 == npackets;
        if (last)
            for (std::int32_t f = packet_first + settings.packet_size; f < first + range; ++f) any = any || wanted(f);
        if (!any) break; // the passes examined no frame from here on
        if (!compute_packet_stats(buf, reader, settings.packet_size, packet_first, {})) return tail;
        apply_masks(buf, settings, switches);
        if (passed_over) {
            const std::vector<bool> over = passed_over(buf.mean_map, buf.sigma_map, reader.width(), reader.height());
            for (std::size_t i = 0; i < over.size() && i < buf.sigma_map.size(); ++i)
                if (over[i]) buf.sigma_map[i] = mask_value;
        }
        mirrored_limits(buf, limits);
        sweep(packet_first, last ? first + range - packet_first : settings.packet_size);
    }
    tail.read = true;
    return tail;
}

} // namespace serflash::detect
