#include "detect/noise_tail.h"

#include "detect/candidates.h"
#include "detect/passes.h"
#include "detect/rules.h"
#include "detect/scan_state.h"

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

// The largest sample whose mirror about the mean passes the main test at tail_first, or -1 when
// none does. The mirror 2 x mean - sample falls as the sample rises, rounding included, so the
// mirrored main test holds exactly for the samples at or below this limit.
std::int32_t mirrored_limit(double mean, double sigma) {
    const double bound = main_test_bound(mean, sigma, tail_first);
    const auto passes = [&](std::int32_t s) { return passes_bound(2.0 * mean - static_cast<double>(s), bound); };
    if (!passes(0)) return -1; // NaN statistics too
    if (passes(65535)) return 65535;
    std::int32_t good = 0, bad = 65535;
    while (bad - good > 1) {
        const std::int32_t mid = good + (bad - good) / 2;
        if (passes(mid))
            good = mid;
        else
            bad = mid;
    }
    return good;
}

// The mirrored limits of the packet's inner pixels, against its masked maps.
void mirrored_limits(const scan_state& st, std::vector<std::int32_t>& limits) {
    const std::int32_t w = st.width();
    const std::int32_t h = st.height();
    limits.assign(st.sigma_map.size(), -1);
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row)
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + static_cast<std::size_t>(col);
            limits[i] = mirrored_limit(st.mean_map[i], st.sigma_map[i]);
        }
}

// The mirrored test of every inner pixel of the frame in st.frame_buf: the sample reflected
// about the pixel's mean, through the detector's own main and neighbour tests at tail_first.
// Samples above the pixel's mirrored limit fail the main test and are passed over unreflected.
// Events as close as a candidate's detections count once, at the strongest.
void count_frame(const scan_state& st, const std::vector<std::int32_t>& limits, mirrored_tail& tail,
                 std::vector<event>& kept) {
    kept.clear();
    const std::int32_t w = st.width();
    const std::int32_t h = st.height();
    const std::size_t uw = static_cast<std::size_t>(w);
    const auto mirrored = [&](std::size_t i) { return 2.0 * st.mean_map[i] - static_cast<double>(st.frame_buf[i]); };
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row)
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i = static_cast<std::size_t>(row) * uw + static_cast<std::size_t>(col);
            const double sigma = st.sigma_map[i];
            if (!(sigma < mask_value)) continue;
            ++tail.trials;
            if (static_cast<std::int32_t>(st.frame_buf[i]) > limits[i]) continue;
            const double s = mirrored(i);
            const double m = st.mean_map[i];
            if (!main_test(s, m, sigma, tail_first)) continue;
            // The neighbour tests in the detector's order: left, right, above, below.
            const double rise = s - m;
            const auto neighbour_ok = [&](std::size_t j, std::int32_t pct) {
                return neighbour_test(mirrored(j), st.mean_map[j], rise, pct);
            };
            const scan_settings& cfg = st.settings;
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
    for (const event& e : kept) ++tail.events[e.bin];
}

} // namespace

mirrored_tail sweep_mirrored(ser::ser_reader& reader, scan_settings settings, const mask_switches& switches,
                             const std::vector<bool>& examined) {
    mirrored_tail tail;
    if (!reader.check_geometry() || settings.packet_size < 1) return tail;
    scan_state st;
    st.reader = &reader;
    clip_to_image(settings, reader.width(), reader.height());
    st.settings = settings;
    try {
        st.star_map.assign(reader.samples_per_frame(), 0);
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
            reader.read_frame(st.frame_buf);
            count_frame(st, limits, tail, kept);
        }
    };
    for (std::int32_t p = 0; p < npackets; ++p) {
        st.cur_frame = first + p * settings.packet_size;
        bool any = false;
        for (std::int32_t f = st.cur_frame; f < st.cur_frame + settings.packet_size; ++f) any = any || wanted(f);
        const bool last = p + 1 == npackets;
        if (last)
            for (std::int32_t f = st.cur_frame + settings.packet_size; f < first + range; ++f) any = any || wanted(f);
        if (!any) break; // the passes examined no frame from here on
        if (!compute_packet_stats(st)) return tail;
        apply_masks(st, switches);
        mirrored_limits(st, limits);
        sweep(st.cur_frame, last ? first + range - st.cur_frame : settings.packet_size);
    }
    tail.read = true;
    return tail;
}

} // namespace serflash::detect
