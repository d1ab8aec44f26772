#include "report/noise_expected.h"

#include "report/observation.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace serflash::report {
namespace {

double upper_gaussian(double s) { return 0.5 * std::erfc(s / std::sqrt(2.0)); }

} // namespace

std::vector<std::int32_t> lowest_threshold_by_frame(const std::vector<detect::pass_report>& passes,
                                                    const detect::scan_settings& settings) {
    const std::int32_t range = std::max(0, settings.end_frame - settings.start_frame + 1);
    std::vector<std::int32_t> lowest(static_cast<std::size_t>(range), 0);
    for (const detect::pass_report& p : passes) {
        const std::int32_t last = std::min(last_frame_examined(p), settings.end_frame);
        for (std::int32_t f = std::max(p.first_frame, settings.start_frame); f <= last; ++f) {
            std::int32_t& t = lowest[static_cast<std::size_t>(f - settings.start_frame)];
            if (t == 0 || p.threshold < t) t = p.threshold;
        }
    }
    return lowest;
}

noise_model fit_noise(const detect::mirrored_tail& tail, const std::vector<std::int32_t>& lowest,
                      const detect::scan_settings& settings) {
    noise_model m;
    m.pct[0] = settings.pct_left;
    m.pct[1] = settings.pct_right;
    m.pct[2] = settings.pct_top;
    m.pct[3] = settings.pct_bottom;
    std::map<std::int32_t, std::int64_t> frames_at;
    std::int64_t examined = 0;
    for (const std::int32_t t : lowest)
        if (t > 0) {
            ++frames_at[t];
            ++examined;
        }
    for (const auto& [t, n] : frames_at)
        m.shares.push_back({t, static_cast<double>(n) / static_cast<double>(examined)});
    m.trials = tail.trials;
    if (!tail.read || examined == 0 || tail.trials == 0) {
        m.note = "no frame was examined";
        return m;
    }
    m.at_least.assign(tail.events.size(), 0);
    std::int64_t sum = 0;
    for (std::size_t k = tail.events.size(); k-- > 0;) m.at_least[k] = sum += tail.events[k];
    m.mirrored_events = m.at_least.empty() ? 0 : m.at_least[0];
    if (m.mirrored_events < min_mirrored_events) {
        m.method = "gaussian";
        m.note = "too few mirrored events (" + std::to_string(m.mirrored_events) +
                 " at 3 sigma or more): Gaussian noise over the pixel tests made";
        return m;
    }
    // The tail beyond the counts taken as they are: a straight line in log N over the last
    // sigma and a half of bins that still hold enough events.
    std::size_t last = 0;
    for (std::size_t k = 0; k < m.at_least.size(); ++k)
        if (m.at_least[k] >= min_direct_events) last = k;
    const std::size_t first = last >= 15 ? last - 15 : 0;
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, n = 0.0;
    for (std::size_t k = first; k <= last; ++k) {
        const double x = (detect::tail_first + static_cast<double>(k)) / 10.0;
        const double y = std::log(static_cast<double>(m.at_least[k]));
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
        n += 1.0;
    }
    const double denominator = n * sxx - sx * sx;
    m.slope = denominator > 0.0 ? (n * sxy - sx * sy) / denominator : 0.0;
    if (!(m.slope < 0.0)) m.slope = -1.0; // a flat tail (one bin): one e-fold per sigma
    m.fit_from = (detect::tail_first + static_cast<double>(last)) / 10.0;
    m.intercept = std::log(static_cast<double>(m.at_least[last])) - m.slope * m.fit_from;
    m.method = "mirrored";
    m.note = "the detection test on the mirrored deviations (mean - sample) over the pixels and frames examined";
    return m;
}

void expect_noise(std::vector<measured_candidate>& candidates, const noise_model& noise) {
    const auto on_source = [](const measured_candidate& m) {
        return m.cls == candidate_class::star || m.cls == candidate_class::hot_pixel;
    };
    std::vector<double> sources;
    for (const measured_candidate& m : candidates)
        if (on_source(m)) sources.push_back(m.c.peak.significance());
    for (measured_candidate& m : candidates) {
        const double sigma = m.c.peak.significance();
        m.noise_from_sources = on_source(m);
        m.noise_expected = m.noise_from_sources
                               ? static_cast<double>(std::count_if(sources.begin(), sources.end(),
                                                                   [&](double s) { return s >= sigma; }))
                               : noise.expected(sigma);
    }
}

double noise_model::tail(double sigma) const {
    if (method == "gaussian") {
        double p = upper_gaussian(sigma);
        for (const std::int32_t q : pct) p *= upper_gaussian(sigma * q / 100.0);
        return static_cast<double>(trials) * p;
    }
    if (method != "mirrored" || at_least.empty()) return 0.0;
    if (sigma >= fit_from) return std::exp(intercept + slope * sigma);
    const double pos = std::max(0.0, sigma * 10.0 - detect::tail_first);
    const std::size_t k = static_cast<std::size_t>(pos);
    const double frac = pos - static_cast<double>(k);
    const double lo = std::log(static_cast<double>(std::max<std::int64_t>(at_least[k], 1)));
    const double hi = std::log(static_cast<double>(std::max<std::int64_t>(at_least[k + 1], 1)));
    return std::exp(lo + (hi - lo) * frac);
}

double noise_model::expected(double sigma) const {
    if (!std::isfinite(sigma)) return sigma > 0.0 ? 0.0 : std::nan("");
    double total = 0.0;
    for (const threshold_share& s : shares) total += s.share * tail(std::max(sigma, s.threshold / 10.0));
    return total;
}

} // namespace serflash::report
