#include "report/vetting.h"

#include "report/observation.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

namespace serflash::report {
namespace {

constexpr std::array<std::string_view, 7> names = {"flash",     "star", "moving",   "cosmic_ray",
                                                   "hot_pixel", "edge", "scattered"};

// The plane a + b dx + c dy fitted to the window's outermost ring: the surroundings of the
// place, slope included, so that a source stands out from it and a gradient does not.
struct plane {
    double a = std::numeric_limits<double>::quiet_NaN(), b = 0.0, c = 0.0;
    double at(std::int32_t dx, std::int32_t dy) const { return a + b * dx + c * dy; }
};

plane ring_plane(const window& w) {
    // The ring is symmetric about the place: the three sums decouple.
    double s = 0.0, sx = 0.0, sy = 0.0, xx = 0.0, yy = 0.0, n = 0.0;
    for (std::int32_t dy = -w.half; dy <= w.half; ++dy)
        for (std::int32_t dx = -w.half; dx <= w.half; ++dx) {
            if (std::abs(dx) != w.half && std::abs(dy) != w.half) continue;
            const double v = w.at(dx, dy);
            if (!std::isfinite(v)) continue;
            s += v;
            sx += v * dx;
            sy += v * dy;
            xx += static_cast<double>(dx * dx);
            yy += static_cast<double>(dy * dy);
            n += 1.0;
        }
    plane p;
    if (n == 0.0) return p;
    p.a = s / n;
    p.b = xx > 0.0 ? sx / xx : 0.0;
    p.c = yy > 0.0 ? sy / yy : 0.0;
    return p;
}

// The window less the plane of its ring.
window above_ring(const window& w) {
    const plane p = ring_plane(w);
    window out = w;
    for (std::int32_t dy = -w.half; dy <= w.half; ++dy)
        for (std::int32_t dx = -w.half; dx <= w.half; ++dx)
            out.v[static_cast<std::size_t>((dy + w.half) * (2 * w.half + 1) + dx + w.half)] -= p.at(dx, dy);
    return out;
}

// The share of the peak its four neighbours hold on average, around (cx, cy), above `floor`.
double neighbour_ratio(const window& w, std::int32_t cx, std::int32_t cy, double floor) {
    const double peak = w.at(cx, cy) - floor;
    const double sum = (w.at(cx - 1, cy) - floor) + (w.at(cx + 1, cy) - floor) + (w.at(cx, cy - 1) - floor) +
                       (w.at(cx, cy + 1) - floor);
    return sum / 4.0 / peak;
}

// The elongation of the spot: square root of the ratio of its second moments along its axes,
// over the pixels within two of the place that hold a fifth of its peak or more.
double elongation_of(const window& e) {
    const double peak = e.at(0, 0);
    if (!(peak > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    double sw = 0.0, sx = 0.0, sy = 0.0;
    for (std::int32_t dy = -2; dy <= 2; ++dy)
        for (std::int32_t dx = -2; dx <= 2; ++dx) {
            const double v = e.at(dx, dy);
            if (!(v >= 0.2 * peak)) continue;
            sw += v;
            sx += v * dx;
            sy += v * dy;
        }
    const double mx = sx / sw, my = sy / sw;
    double xx = 0.0, yy = 0.0, xy = 0.0;
    for (std::int32_t dy = -2; dy <= 2; ++dy)
        for (std::int32_t dx = -2; dx <= 2; ++dx) {
            const double v = e.at(dx, dy);
            if (!(v >= 0.2 * peak)) continue;
            const double ddx = dx - mx, ddy = dy - my;
            xx += v * ddx * ddx;
            yy += v * ddy * ddy;
            xy += v * ddx * ddy;
        }
    xx /= sw;
    yy /= sw;
    xy /= sw;
    // A pixel is a twelfth of a square pixel wide in each direction.
    const double mid = (xx + yy) / 2.0 + 1.0 / 12.0;
    const double spread = std::sqrt((xx - yy) * (xx - yy) / 4.0 + xy * xy);
    return std::sqrt((mid + spread) / (mid - spread));
}

struct place {
    std::int32_t frame = 0;
    double x = 0.0, y = 0.0;
};

// The places of a chain of candidates, frame by frame.
std::vector<place> places_of(const std::vector<measured_candidate>& all, const std::vector<std::size_t>& chain) {
    std::vector<place> out;
    for (const std::size_t k : chain)
        for (const detect::candidate_frame& f : all[k].c.frames)
            out.push_back({f.frame, static_cast<double>(f.x), static_cast<double>(f.y)});
    return out;
}

// Chains candidates in frames close after one another whose places move on steadily.
std::vector<std::vector<std::size_t>> find_tracks(const std::vector<measured_candidate>& all,
                                                  const vetting_limits& limits) {
    std::vector<std::vector<std::size_t>> tracks;
    std::vector<char> used(all.size(), 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (used[i] != 0) continue;
        std::vector<std::size_t> chain{i};
        for (;;) {
            const std::vector<place> path = places_of(all, chain);
            const place& end = path.back();
            const bool has_velocity = path.size() >= 2 && path[path.size() - 2].frame < end.frame;
            double vx = 0.0, vy = 0.0;
            if (has_velocity) {
                const place& before = path[path.size() - 2];
                vx = (end.x - before.x) / (end.frame - before.frame);
                vy = (end.y - before.y) / (end.frame - before.frame);
            }
            std::size_t best = all.size();
            double best_miss = 0.0;
            for (std::size_t j = 0; j < all.size(); ++j) {
                if (used[j] != 0 || j == i || std::find(chain.begin(), chain.end(), j) != chain.end()) continue;
                const detect::candidate& next = all[j].c;
                const std::int32_t dt = next.first_frame - end.frame;
                if (dt < 1 || dt > limits.track_frame_gap || next.frames.empty()) continue;
                const double sx = next.frames.front().x, sy = next.frames.front().y;
                const double step = std::hypot(sx - end.x, sy - end.y);
                if (step > limits.track_max_speed * dt || step <= detect::candidate_reach) continue;
                const double miss = has_velocity ? std::hypot(sx - (end.x + vx * dt), sy - (end.y + vy * dt)) : step;
                if (has_velocity && miss > limits.track_tolerance) continue;
                if (best == all.size() || miss < best_miss) {
                    best = j;
                    best_miss = miss;
                }
            }
            if (best == all.size()) break;
            chain.push_back(best);
        }
        const std::vector<place> path = places_of(all, chain);
        const std::int32_t span = path.back().frame - path.front().frame + 1;
        // Two candidates alone give no steadiness to test; one candidate moves on its own.
        const bool moves_alone =
            chain.size() == 1 && span >= limits.track_min_frames &&
            std::hypot(path.back().x - path.front().x, path.back().y - path.front().y) > detect::candidate_reach;
        if ((chain.size() >= 3 && span >= limits.track_min_frames) || moves_alone) {
            for (const std::size_t k : chain) used[k] = 1;
            tracks.push_back(chain);
        }
    }
    // Candidates on a track's path within its frames (found at another pass, or between the
    // frames chained) belong to it.
    for (auto& track : tracks) {
        const std::vector<place> path = places_of(all, track);
        for (std::size_t j = 0; j < all.size(); ++j) {
            if (used[j] != 0 || all[j].c.frames.empty()) continue;
            const detect::candidate_frame& f = all[j].c.frames.front();
            for (std::size_t k = 1; k < path.size(); ++k) {
                const place& a = path[k - 1];
                const place& b = path[k];
                if (f.frame < a.frame || f.frame > b.frame || b.frame == a.frame) continue;
                const double t = static_cast<double>(f.frame - a.frame) / (b.frame - a.frame);
                if (std::hypot(f.x - (a.x + (b.x - a.x) * t), f.y - (a.y + (b.y - a.y) * t)) <=
                    limits.track_tolerance + detect::candidate_reach) {
                    used[j] = 1;
                    track.push_back(j);
                    break;
                }
            }
        }
        std::sort(track.begin(), track.end(), [&](std::size_t p, std::size_t q) {
            return all[p].c.first_frame != all[q].c.first_frame ? all[p].c.first_frame < all[q].c.first_frame : p < q;
        });
    }
    return tracks;
}

// One candidate for a whole track: the strongest member's peak and measures, every member's
// frames, detections and thresholds.
measured_candidate join_track(const std::vector<measured_candidate>& all, const std::vector<std::size_t>& track) {
    std::size_t strongest = track.front();
    for (const std::size_t k : track)
        if (all[k].c.peak.significance() > all[strongest].c.peak.significance()) strongest = k;
    measured_candidate m = all[strongest];
    const measured_candidate& first = all[track.front()];
    std::size_t latest = track.back();
    for (const std::size_t k : track)
        if (all[k].c.last_frame > all[latest].c.last_frame) latest = k;
    const measured_candidate& last = all[latest];
    m.c.first_frame = first.c.first_frame;
    m.c.last_frame = last.c.last_frame;
    m.c.frames.clear();
    m.c.detections = 0;
    m.integrated_excess = 0.0;
    std::set<std::int32_t> thresholds;
    for (const std::size_t k : track) {
        const measured_candidate& part = all[k];
        m.c.frames.insert(m.c.frames.end(), part.c.frames.begin(), part.c.frames.end());
        m.c.detections += part.c.detections;
        m.integrated_excess += part.integrated_excess;
        thresholds.insert(part.c.thresholds.begin(), part.c.thresholds.end());
    }
    m.c.thresholds.assign(thresholds.rbegin(), thresholds.rend());
    std::stable_sort(
        m.c.frames.begin(), m.c.frames.end(),
        [](const detect::candidate_frame& a, const detect::candidate_frame& b) { return a.frame < b.frame; });
    m.start_x = first.start_x;
    m.start_y = first.start_y;
    m.end_x = last.end_x;
    m.end_y = last.end_y;
    m.speed = m.c.last_frame > m.c.first_frame
                  ? std::hypot(m.end_x - m.start_x, m.end_y - m.start_y) / (m.c.last_frame - m.c.first_frame)
                  : 0.0;
    m.track_members = static_cast<std::int32_t>(track.size());
    m.cls = candidate_class::moving;
    return m;
}

double median_of(std::vector<double> v) {
    if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

} // namespace

std::vector<std::size_t> review_order(const std::vector<measured_candidate>& candidates) {
    std::vector<std::size_t> order(candidates.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const measured_candidate& p = candidates[a];
        const measured_candidate& q = candidates[b];
        if (p.cls != q.cls) return p.cls < q.cls;
        // Not known counts as likely from noise.
        const auto noise = [](double v) { return std::isnan(v) ? std::numeric_limits<double>::infinity() : v; };
        return p.cls == candidate_class::flash && noise(p.noise_expected) < noise(q.noise_expected);
    });
    return order;
}

void classify(observation& o) {
    const vetting_limits& limits = o.limits;
    // Tracks first: their members become one candidate.
    const auto tracks = find_tracks(o.candidates, limits);
    if (!tracks.empty()) {
        std::vector<char> in_track(o.candidates.size(), 0);
        std::vector<measured_candidate> joined;
        for (const auto& track : tracks) {
            for (const std::size_t k : track) in_track[k] = 1;
            joined.push_back(join_track(o.candidates, track));
        }
        for (std::size_t k = 0; k < o.candidates.size(); ++k)
            if (in_track[k] == 0) joined.push_back(std::move(o.candidates[k]));
        std::sort(joined.begin(), joined.end(), [](const measured_candidate& a, const measured_candidate& b) {
            if (a.c.first_frame != b.c.first_frame) return a.c.first_frame < b.c.first_frame;
            if (a.c.peak.det.y != b.c.peak.det.y) return a.c.peak.det.y < b.c.peak.det.y;
            if (a.c.peak.det.x != b.c.peak.det.x) return a.c.peak.det.x < b.c.peak.det.x;
            return a.c.peak.frame < b.c.peak.frame;
        });
        for (std::size_t k = 0; k < joined.size(); ++k) joined[k].c.number = static_cast<std::int32_t>(k + 1);
        o.candidates = std::move(joined);
    }

    // The PSF from the sources of the packet mean under the candidates (stars), when there are any
    // wider than a hot pixel.
    std::vector<double> widths;
    for (const measured_candidate& m : o.candidates)
        if (m.cls != candidate_class::moving && m.measures.mean_excess >= limits.star_excess &&
            std::isfinite(m.source_width) && m.source_width >= 0.5 && m.source_width <= 5.0)
            widths.push_back(m.source_width);
    const double measured_psf = median_of(widths);
    const bool psf_measured = std::isfinite(measured_psf);
    const double psf = psf_measured ? measured_psf : limits.default_psf_width;

    // The pass over every frame runs at the lowest threshold, where a night's image motion makes
    // many frames scatter: its withdrawals say little about what the described passes found.
    std::set<std::int32_t> scattered;
    for (const detect::scattered_frame& s : o.scattered)
        if (!s.every_frame) scattered.insert(s.frame);
    std::map<std::pair<std::int32_t, std::int32_t>, std::set<std::int32_t>> packets_at; // place -> packets
    for (const measured_candidate& m : o.candidates)
        if (m.cls != candidate_class::moving)
            packets_at[{m.c.peak.det.x, m.c.peak.det.y}].insert(m.c.peak.packet_first_frame);

    for (measured_candidate& m : o.candidates) {
        m.measures.psf_width = psf;
        m.measures.psf_measured = psf_measured;
        if (m.cls == candidate_class::moving) continue;
        const class_measures& x = m.measures;
        const bool on_scatter =
            std::any_of(m.c.frames.begin(), m.c.frames.end(),
                        [&](const detect::candidate_frame& f) { return scattered.count(f.frame) > 0; });
        const bool source = x.mean_excess >= limits.star_excess;
        if (on_scatter)
            m.cls = candidate_class::scattered;
        else if (packets_at[{m.c.peak.det.x, m.c.peak.det.y}].size() >= 2 ||
                 (source && m.source_width < limits.sharp_width * psf))
            m.cls = candidate_class::hot_pixel;
        else if (source)
            m.cls = candidate_class::star;
        else if (x.gradient >= limits.edge_gradient)
            m.cls = candidate_class::edge;
        else if (m.c.duration_frames() == 1 &&
                 (x.width < limits.sharp_width * psf || x.elongation >= limits.track_elongation))
            m.cls = candidate_class::cosmic_ray;
        else
            m.cls = candidate_class::flash;
    }
}

std::string_view class_name(candidate_class c) { return names[static_cast<std::size_t>(c)]; }

std::optional<candidate_class> class_named(std::string_view name) {
    for (const candidate_class c : candidate_classes)
        if (class_name(c) == name) return c;
    return std::nullopt;
}

double width_of_ratio(double ratio) {
    if (!(ratio > 0.0)) return 0.0;
    if (!(ratio < 1.0)) return std::numeric_limits<double>::infinity();
    return std::sqrt(-1.0 / (2.0 * std::log(ratio)));
}

class_measures measure_place(const window& excess, const window& mean, double sigma) {
    class_measures m;
    m.width = width_of_ratio(neighbour_ratio(excess, 0, 0, 0.0));
    m.elongation = elongation_of(excess);
    if (sigma > 0.0) {
        const window source = above_ring(mean);
        double top = source.at(0, 0);
        for (std::int32_t dy = -1; dy <= 1; ++dy)
            for (std::int32_t dx = -1; dx <= 1; ++dx) top = std::max(top, source.at(dx, dy));
        m.mean_excess = top / sigma;
        const double gx = (mean.at(1, 0) - mean.at(-1, 0)) / 2.0;
        const double gy = (mean.at(0, 1) - mean.at(0, -1)) / 2.0;
        m.gradient = std::sqrt(gx * gx + gy * gy) / sigma;
    }
    return m;
}

double source_width(const window& mean) {
    const window source = above_ring(mean);
    std::int32_t bx = 0, by = 0;
    for (std::int32_t dy = -1; dy <= 1; ++dy)
        for (std::int32_t dx = -1; dx <= 1; ++dx)
            if (source.at(dx, dy) > source.at(bx, by)) bx = dx, by = dy;
    return width_of_ratio(neighbour_ratio(source, bx, by, 0.0));
}

} // namespace serflash::report
