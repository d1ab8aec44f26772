#include "report/vetting.h"

#include "detect/rules.h"
#include "report/observation.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

namespace serflash::report {
namespace {

// A source of the packet mean this far (px) from the detection, in x and in y, is the one it sits
// on: the image motion swings a wide star's flank as much as its core.
constexpr std::int32_t source_reach = 3;

constexpr std::array<std::string_view, 7> names = {"flash",     "star", "moving",   "cosmic_ray",
                                                   "hot_pixel", "edge", "scattered"};

// The plane a + b dx + c dy fitted to the window's outermost ring: the surroundings of the
// place, slope included, so that a source stands out from it and a gradient does not.
struct plane {
    double a = std::numeric_limits<double>::quiet_NaN(), b = 0.0, c = 0.0;
    double at(std::int32_t dx, std::int32_t dy) const { return a + b * dx + c * dy; }
};

// `at(dx, dy)`: the value at that offset from the place, NaN outside the frame.
template <typename At>
plane ring_plane_of(At at, std::int32_t half) {
    // The ring is symmetric about the place: the three sums decouple.
    double s = 0.0, sx = 0.0, sy = 0.0, xx = 0.0, yy = 0.0, n = 0.0;
    for (std::int32_t dy = -half; dy <= half; ++dy)
        for (std::int32_t dx = -half; dx <= half; ++dx) {
            if (std::abs(dx) != half && std::abs(dy) != half) continue;
            const double v = at(dx, dy);
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
    if (n == static_cast<double>(8 * half)) {
        p.a = s / n;
        p.b = xx > 0.0 ? sx / xx : 0.0;
        p.c = yy > 0.0 ? sy / yy : 0.0;
        return p;
    }
    // Cut by the frame's border: the ring is no longer symmetric, so the plane is fitted by
    // least squares in full (otherwise a slope would pass for a source there).
    double x = 0.0, y = 0.0, xy = 0.0;
    for (std::int32_t dy = -half; dy <= half; ++dy)
        for (std::int32_t dx = -half; dx <= half; ++dx) {
            if (std::abs(dx) != half && std::abs(dy) != half) continue;
            if (!std::isfinite(at(dx, dy))) continue;
            x += dx;
            y += dy;
            xy += static_cast<double>(dx * dy);
        }
    // The normal equations [n x y; x xx xy; y xy yy] (a b c) = (s sx sy), by Cramer's rule.
    const double det = n * (xx * yy - xy * xy) - x * (x * yy - xy * y) + y * (x * xy - xx * y);
    if (!(std::abs(det) > 1e-9)) {
        p.a = s / n;
        return p;
    }
    p.a = (s * (xx * yy - xy * xy) - x * (sx * yy - xy * sy) + y * (sx * xy - xx * sy)) / det;
    p.b = (n * (sx * yy - xy * sy) - s * (x * yy - xy * y) + y * (x * sy - sx * y)) / det;
    p.c = (n * (xx * sy - sx * xy) - x * (x * sy - sx * y) + s * (x * xy - xx * y)) / det;
    return p;
}

plane ring_plane(const window& w) {
    return ring_plane_of([&](std::int32_t dx, std::int32_t dy) { return w.at(dx, dy); }, w.half);
}

// How far the packet mean rises above the plane of its ring within source_reach of the place.
template <typename At>
double source_excess_of(At at, std::int32_t half) {
    const plane p = ring_plane_of(at, half);
    double top = at(0, 0) - p.at(0, 0);
    for (std::int32_t dy = -source_reach; dy <= source_reach; ++dy)
        for (std::int32_t dx = -source_reach; dx <= source_reach; ++dx) top = std::max(top, at(dx, dy) - p.at(dx, dy));
    return top;
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
std::vector<place> places_of(const std::vector<detect::candidate>& all, const std::vector<std::size_t>& chain) {
    std::vector<place> out;
    for (const std::size_t k : chain)
        for (const detect::candidate_frame& f : all[k].frames)
            out.push_back({f.frame, static_cast<double>(f.x), static_cast<double>(f.y)});
    return out;
}

// Chains candidates in frames close after one another whose places move on steadily.
std::vector<std::vector<std::size_t>> find_tracks(const std::vector<detect::candidate>& all,
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
                const detect::candidate& next = all[j];
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
            if (used[j] != 0 || all[j].frames.empty()) continue;
            const detect::candidate_frame& f = all[j].frames.front();
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
            return all[p].first_frame != all[q].first_frame ? all[p].first_frame < all[q].first_frame : p < q;
        });
    }
    return tracks;
}

// Two moving candidates of one object as one: the stronger one's peak and measures, both
// ones' frames, detections and thresholds, and the track from the earlier start to the later end
// (the later candidate's on a tie).
measured_candidate joined(const measured_candidate& a, const measured_candidate& b) {
    measured_candidate m = b.c.peak.significance() > a.c.peak.significance() ? b : a;
    m.c.first_frame = std::min(a.c.first_frame, b.c.first_frame);
    m.c.last_frame = std::max(a.c.last_frame, b.c.last_frame);
    m.c.frames = a.c.frames;
    m.c.frames.insert(m.c.frames.end(), b.c.frames.begin(), b.c.frames.end());
    std::stable_sort(
        m.c.frames.begin(), m.c.frames.end(),
        [](const detect::candidate_frame& p, const detect::candidate_frame& q) { return p.frame < q.frame; });
    m.c.detections = a.c.detections + b.c.detections;
    m.integrated_excess = a.integrated_excess + b.integrated_excess;
    std::set<std::int32_t> thresholds(a.c.thresholds.begin(), a.c.thresholds.end());
    thresholds.insert(b.c.thresholds.begin(), b.c.thresholds.end());
    m.c.thresholds.assign(thresholds.rbegin(), thresholds.rend());
    const measured_candidate& from = b.track_first_frame < a.track_first_frame ? b : a;
    const measured_candidate& to = b.track_last_frame >= a.track_last_frame ? b : a;
    m.start_x = from.start_x;
    m.start_y = from.start_y;
    m.track_first_frame = from.track_first_frame;
    m.end_x = to.end_x;
    m.end_y = to.end_y;
    m.track_last_frame = to.track_last_frame;
    m.speed = m.track_last_frame > m.track_first_frame
                  ? std::hypot(m.end_x - m.start_x, m.end_y - m.start_y) / (m.track_last_frame - m.track_first_frame)
                  : 0.0;
    m.track_members = a.track_members + b.track_members;
    m.cls = candidate_class::moving;
    return m;
}

// One candidate for a whole track, its members joined in order.
measured_candidate join_track(const std::vector<measured_candidate>& all, const std::vector<std::size_t>& track) {
    measured_candidate m = all[track.front()];
    m.cls = candidate_class::moving;
    for (std::size_t k = 1; k < track.size(); ++k) m = joined(m, all[track[k]]);
    return m;
}

// The candidate with the track its search found: moving, with the track's places, frames and speed.
measured_candidate moving_by_search(measured_candidate m) {
    const searched_track& t = m.searched;
    m.cls = candidate_class::moving;
    m.start_x = static_cast<std::int32_t>(std::lround(t.start_x));
    m.start_y = static_cast<std::int32_t>(std::lround(t.start_y));
    m.end_x = static_cast<std::int32_t>(std::lround(t.end_x));
    m.end_y = static_cast<std::int32_t>(std::lround(t.end_y));
    m.track_first_frame = t.first_frame;
    m.track_last_frame = t.last_frame;
    m.speed = std::hypot(t.vx, t.vy);
    return m;
}

// Two moving candidates are one object when the later starts at most track_frame_gap frames
// after the earlier ends (or before), and one steady motion passes within the tolerance of both
// ones' start and end places (the line fitted to the four over their frames).
bool continues(const measured_candidate& a, const measured_candidate& b, const vetting_limits& limits) {
    const bool a_first = a.track_first_frame <= b.track_first_frame;
    const measured_candidate& early = a_first ? a : b;
    const measured_candidate& late = a_first ? b : a;
    if (late.track_first_frame - early.track_last_frame > limits.track_frame_gap) return false;
    struct seen {
        double t, x, y;
    };
    const std::array<seen, 4> points = {seen{static_cast<double>(early.track_first_frame),
                                             static_cast<double>(early.start_x), static_cast<double>(early.start_y)},
                                        seen{static_cast<double>(early.track_last_frame),
                                             static_cast<double>(early.end_x), static_cast<double>(early.end_y)},
                                        seen{static_cast<double>(late.track_first_frame),
                                             static_cast<double>(late.start_x), static_cast<double>(late.start_y)},
                                        seen{static_cast<double>(late.track_last_frame),
                                             static_cast<double>(late.end_x), static_cast<double>(late.end_y)}};
    double mt = 0.0, mx = 0.0, my = 0.0;
    for (const seen& p : points) {
        mt += p.t / 4.0;
        mx += p.x / 4.0;
        my += p.y / 4.0;
    }
    double tt = 0.0, tx = 0.0, ty = 0.0;
    for (const seen& p : points) {
        tt += (p.t - mt) * (p.t - mt);
        tx += (p.t - mt) * (p.x - mx);
        ty += (p.t - mt) * (p.y - my);
    }
    if (!(tt > 0.0)) return false;
    const double vx = tx / tt, vy = ty / tt;
    return std::all_of(points.begin(), points.end(), [&](const seen& p) {
        return std::hypot(p.x - (mx + vx * (p.t - mt)), p.y - (my + vy * (p.t - mt))) <= limits.track_tolerance;
    });
}

// A spot of a searched frame, relative to the window's centre (sub-pixel).
struct spot_at {
    double x = 0.0, y = 0.0;
};

// The centroid of the positive excess of the 3 x 3 pixels around (cx, cy).
spot_at centroid_at(const window& e, std::int32_t cx, std::int32_t cy) {
    double sw = 0.0, sx = 0.0, sy = 0.0;
    for (std::int32_t dy = -1; dy <= 1; ++dy)
        for (std::int32_t dx = -1; dx <= 1; ++dx) {
            const double v = e.at(cx + dx, cy + dy);
            if (!(v > 0.0)) continue;
            sw += v;
            sx += v * dx;
            sy += v * dy;
        }
    return sw > 0.0 ? spot_at{cx + sx / sw, cy + sy / sw} : spot_at{static_cast<double>(cx), static_cast<double>(cy)};
}

// The point-like spots of one frame within `reach` px of the centre: a pixel at least `bar` of
// its standard deviation above its mean, the highest of its 3 x 3 neighbours, whose 3 x 3 sum
// stands `bar` of that sum's deviation above the means too (a lone noisy pixel does not).
std::vector<spot_at> spots_of(const window& e, const window& sigma, double reach, double bar) {
    std::vector<spot_at> out;
    const std::int32_t r = std::min(e.half - 1, static_cast<std::int32_t>(std::ceil(reach)));
    for (std::int32_t dy = -r; dy <= r; ++dy)
        for (std::int32_t dx = -r; dx <= r; ++dx) {
            if (dx * dx + dy * dy > reach * reach) continue;
            const double v = e.at(dx, dy);
            const double s = sigma.at(dx, dy);
            if (!(s > 0.0) || !(v >= bar * s)) continue;
            bool highest = true;
            double sum = 0.0, var = 0.0;
            for (std::int32_t ny = -1; ny <= 1 && highest; ++ny)
                for (std::int32_t nx = -1; nx <= 1; ++nx) {
                    const double u = e.at(dx + nx, dy + ny);
                    const double t = sigma.at(dx + nx, dy + ny);
                    // Ties go to the first in row order; the frame's border is no place for one.
                    if (!std::isfinite(u) || !std::isfinite(t) || u > v ||
                        (u == v && (ny < 0 || (ny == 0 && nx < 0)))) {
                        highest = false;
                        break;
                    }
                    sum += u;
                    var += t * t;
                }
            if (highest && sum >= bar * std::sqrt(var)) out.push_back(centroid_at(e, dx, dy));
        }
    return out;
}

// The spots one motion (place `a` at the peak frame, velocity v) passes within the tolerance of:
// for each searched frame the nearest, by index into the frames (the peak's own excluded).
struct motion_fit {
    double ax = 0.0, ay = 0.0, vx = 0.0, vy = 0.0;
    std::vector<std::pair<std::int32_t, spot_at>> on; // frame offset from the peak, spot
    double miss = 0.0;
};

motion_fit fit_motion(const std::vector<std::vector<spot_at>>& spots, std::int32_t peak_k, double ax, double ay,
                      double vx, double vy, double tolerance) {
    motion_fit m{ax, ay, vx, vy, {}, 0.0};
    for (std::size_t j = 0; j < spots.size(); ++j) {
        const std::int32_t k = static_cast<std::int32_t>(j) - peak_k;
        if (k == 0) continue;
        const double px = ax + vx * k, py = ay + vy * k;
        double best = tolerance;
        const spot_at* found = nullptr;
        for (const spot_at& q : spots[j]) {
            const double d = std::hypot(q.x - px, q.y - py);
            if (d <= best) {
                best = d;
                found = &q;
            }
        }
        if (found != nullptr) {
            m.on.emplace_back(k, *found);
            m.miss += best;
        }
    }
    return m;
}

double median_of(std::vector<double> v) {
    if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

// Numbers from 1 in the order of the first frame, then the peak's row, column and frame.
void renumber(std::vector<measured_candidate>& all) {
    std::sort(all.begin(), all.end(), [](const measured_candidate& a, const measured_candidate& b) {
        if (a.c.first_frame != b.c.first_frame) return a.c.first_frame < b.c.first_frame;
        if (a.c.peak.det.y != b.c.peak.det.y) return a.c.peak.det.y < b.c.peak.det.y;
        if (a.c.peak.det.x != b.c.peak.det.x) return a.c.peak.det.x < b.c.peak.det.x;
        return a.c.peak.frame < b.c.peak.frame;
    });
    for (std::size_t k = 0; k < all.size(); ++k) all[k].c.number = static_cast<std::int32_t>(k + 1);
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
    std::vector<detect::candidate> detected;
    for (const measured_candidate& m : o.candidates) detected.push_back(m.c);
    const auto tracks = find_tracks(detected, limits);
    if (!tracks.empty()) {
        std::vector<char> in_track(o.candidates.size(), 0);
        std::vector<measured_candidate> joined;
        for (const auto& track : tracks) {
            for (const std::size_t k : track) in_track[k] = 1;
            joined.push_back(join_track(o.candidates, track));
        }
        for (std::size_t k = 0; k < o.candidates.size(); ++k)
            if (in_track[k] == 0) joined.push_back(std::move(o.candidates[k]));
        o.candidates = std::move(joined);
        renumber(o.candidates);
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
    // The stars of the packet mean are widened by the image motion, so their width bounds the
    // optics' spot from above: a hit on the sensor is told by being sharper than the smaller of
    // it and the default spot.
    const double sharp_limit = limits.sharp_width * std::min(psf, limits.default_psf_width);

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
        const bool broad_and_outrisen = m.source_width > limits.broad_source * psf &&
                                        m.c.peak.significance() > limits.broad_source_rise * x.mean_excess;
        const bool source = x.mean_excess >= limits.star_excess && !broad_and_outrisen;
        // A source under the candidate explains it better than its frame's scatter does.
        if (packets_at[{m.c.peak.det.x, m.c.peak.det.y}].size() >= 2 || (source && m.source_width < sharp_limit))
            m.cls = candidate_class::hot_pixel;
        else if (source)
            m.cls = candidate_class::star;
        else if (on_scatter)
            m.cls = candidate_class::scattered;
        else if (x.gradient >= limits.edge_gradient)
            m.cls = candidate_class::edge;
        else if (m.searched.frames_found >= limits.track_search_min_frames)
            // On a track too faint elsewhere to be detected.
            m = moving_by_search(m);
        else if (m.c.duration_frames() == 1 && (x.width < sharp_limit || x.elongation >= limits.track_elongation))
            m.cls = candidate_class::cosmic_ray;
        else
            m.cls = candidate_class::flash;
    }

    // The pieces of one moving object are one candidate: tracks apart by a gap, a track and a
    // candidate searched beyond its end, and a candidate given another class (on a source in the
    // packet mean, where the object's own light raises it) whose search found a track that
    // continues a moving one.
    bool merged = false;
    for (std::size_t i = 0; i < o.candidates.size(); ++i) {
        if (o.candidates[i].cls != candidate_class::moving) continue;
        for (std::size_t j = 0; j < o.candidates.size();) {
            const measured_candidate& other = o.candidates[j];
            const bool piece = j != i && (other.cls == candidate_class::moving ||
                                          (other.cls != candidate_class::scattered &&
                                           other.searched.frames_found >= limits.track_search_min_frames));
            const measured_candidate as_moving =
                piece && other.cls != candidate_class::moving ? moving_by_search(other) : measured_candidate{};
            const measured_candidate& moving = other.cls == candidate_class::moving ? other : as_moving;
            if (piece && continues(o.candidates[i], moving, limits)) {
                o.candidates[i] = joined(o.candidates[i], moving);
                o.candidates.erase(o.candidates.begin() + static_cast<std::ptrdiff_t>(j));
                if (j < i) --i;
                merged = true;
                j = 0; // the longer track may reach candidates passed over
            } else {
                ++j;
            }
        }
    }
    if (merged) renumber(o.candidates);
}

std::vector<char> track_searched(const std::vector<detect::candidate>& candidates, const vetting_limits& limits) {
    std::vector<char> out(candidates.size(), 0);
    if (limits.track_search_reach <= 0) return out;
    for (std::size_t k = 0; k < candidates.size(); ++k)
        out[k] = candidates[k].duration_frames() <= limits.track_search_max_frames ? 1 : 0;
    for (const auto& track : find_tracks(candidates, limits))
        for (const std::size_t k : track) out[k] = 0;
    return out;
}

std::int32_t track_search_half(const vetting_limits& limits) {
    // The spots' neighbours lie one pixel beyond the reach.
    return static_cast<std::int32_t>(
               std::ceil(limits.track_search_reach * limits.track_max_speed + limits.track_search_tolerance)) +
           1;
}

searched_track search_track(const track_search_data& data, std::int32_t x, std::int32_t y,
                            const vetting_limits& limits) {
    searched_track out;
    const std::int32_t peak_k = data.peak_frame - data.first_frame;
    if (peak_k < 0 || peak_k >= static_cast<std::int32_t>(data.excess.size())) return out;
    const double tol = limits.track_search_tolerance;
    std::vector<std::vector<spot_at>> spots(data.excess.size());
    for (std::size_t j = 0; j < spots.size(); ++j) {
        const std::int32_t k = static_cast<std::int32_t>(j) - peak_k;
        if (k != 0)
            spots[j] = spots_of(data.excess[j], data.sigma, std::abs(k) * limits.track_max_speed + tol,
                                limits.track_search_sigma);
    }
    const spot_at own = centroid_at(data.excess[static_cast<std::size_t>(peak_k)], 0, 0);
    const auto fast_enough = [&](double vx, double vy) {
        const double speed = std::hypot(vx, vy);
        return speed >= limits.track_search_min_speed && speed <= limits.track_max_speed;
    };
    const auto better = [](const motion_fit& a, const motion_fit& b) {
        return a.on.size() > b.on.size() || (a.on.size() == b.on.size() && a.miss < b.miss);
    };
    motion_fit best;
    for (std::size_t j = 0; j < spots.size(); ++j) {
        const std::int32_t k = static_cast<std::int32_t>(j) - peak_k;
        for (const spot_at& q : spots[j]) {
            const double vx = (q.x - own.x) / k, vy = (q.y - own.y) / k;
            if (!fast_enough(vx, vy)) continue;
            motion_fit m = fit_motion(spots, peak_k, own.x, own.y, vx, vy, tol);
            if (m.on.size() >= 2) {
                // The line fitted through the candidate's place and the spots on it, once.
                double n = 1.0, sk = 0.0, skk = 0.0, sx = own.x, sy = own.y, skx = 0.0, sky = 0.0;
                for (const auto& [t, p] : m.on) {
                    n += 1.0;
                    sk += t;
                    skk += static_cast<double>(t) * t;
                    sx += p.x;
                    sy += p.y;
                    skx += t * p.x;
                    sky += t * p.y;
                }
                const double det = n * skk - sk * sk;
                if (det > 0.0) {
                    const double fvx = (n * skx - sk * sx) / det, fvy = (n * sky - sk * sy) / det;
                    const double fax = (sx - fvx * sk) / n, fay = (sy - fvy * sk) / n;
                    if (fast_enough(fvx, fvy)) {
                        motion_fit refined = fit_motion(spots, peak_k, fax, fay, fvx, fvy, tol);
                        if (refined.on.size() >= m.on.size()) m = std::move(refined);
                    }
                }
            }
            if (best.on.empty() || better(m, best)) best = std::move(m);
        }
    }
    if (best.on.empty()) return out;
    std::int32_t lo = 0, hi = 0;
    for (const auto& [t, p] : best.on) {
        lo = std::min(lo, t);
        hi = std::max(hi, t);
    }
    out.frames_found = static_cast<std::int32_t>(best.on.size());
    out.first_frame = data.peak_frame + lo;
    out.last_frame = data.peak_frame + hi;
    out.vx = best.vx;
    out.vy = best.vy;
    out.start_x = x + best.ax + best.vx * lo;
    out.start_y = y + best.ay + best.vy * lo;
    out.end_x = x + best.ax + best.vx * hi;
    out.end_y = y + best.ay + best.vy * hi;
    return out;
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
        m.mean_excess =
            source_excess_of([&](std::int32_t dx, std::int32_t dy) { return mean.at(dx, dy); }, mean.half) / sigma;
        const double gx = (mean.at(1, 0) - mean.at(-1, 0)) / 2.0;
        const double gy = (mean.at(0, 1) - mean.at(0, -1)) / 2.0;
        m.gradient = std::sqrt(gx * gx + gy * gy) / sigma;
    }
    return m;
}

double source_width(const window& mean) {
    const window source = above_ring(mean);
    std::int32_t bx = 0, by = 0;
    for (std::int32_t dy = -source_reach; dy <= source_reach; ++dy)
        for (std::int32_t dx = -source_reach; dx <= source_reach; ++dx)
            if (source.at(dx, dy) > source.at(bx, by)) bx = dx, by = dy;
    return width_of_ratio(neighbour_ratio(source, bx, by, 0.0));
}

std::vector<bool> source_pixels(const std::vector<double>& mean, const std::vector<double>& sigma, std::int32_t w,
                                std::int32_t h, double star_excess) {
    std::vector<bool> out(mean.size(), false);
    const std::size_t uw = static_cast<std::size_t>(w);
    for (std::int32_t row = 0; row < h; ++row)
        for (std::int32_t col = 0; col < w; ++col) {
            const std::size_t i = static_cast<std::size_t>(row) * uw + static_cast<std::size_t>(col);
            if (!(sigma[i] > 0.0 && sigma[i] < detect::mask_value)) continue;
            const auto at = [&](std::int32_t dx, std::int32_t dy) {
                const std::int32_t x = col + dx, y = row + dy;
                return x < 0 || y < 0 || x >= w || y >= h
                           ? std::numeric_limits<double>::quiet_NaN()
                           : mean[static_cast<std::size_t>(y) * uw + static_cast<std::size_t>(x)];
            };
            out[i] = source_excess_of(at, class_half) / sigma[i] >= star_excess;
        }
    return out;
}

} // namespace serflash::report
