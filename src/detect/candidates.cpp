#include "detect/candidates.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <numeric>
#include <set>

namespace serflash::detect {
namespace {

// Which of two hits is the better peak: larger significance, then the earlier frame, the
// higher threshold, then scan order, so that the choice never depends on the order of records.
bool better_peak(const candidate_hit& a, const candidate_hit& b) {
    const double sa = a.significance();
    const double sb = b.significance();
    if (sa != sb) {
        if (std::isnan(sb)) return !std::isnan(sa);
        if (std::isnan(sa)) return false;
        return sa > sb;
    }
    if (a.frame != b.frame) return a.frame < b.frame;
    if (a.threshold != b.threshold) return a.threshold > b.threshold;
    if (a.det.y != b.det.y) return a.det.y < b.det.y;
    return a.det.x < b.det.x;
}

class disjoint_sets {
public:
    explicit disjoint_sets(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), std::size_t{0}); }
    std::size_t find(std::size_t i) {
        while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
        return i;
    }
    void join(std::size_t a, std::size_t b) {
        a = find(a);
        b = find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::size_t> parent_;
};

bool near(const candidate_hit& a, const candidate_hit& b) {
    return std::abs(a.det.x - b.det.x) <= candidate_reach && std::abs(a.det.y - b.det.y) <= candidate_reach;
}

} // namespace

double candidate_hit::significance() const {
    const double rise = excess();
    if (det.sigma > 0.0) return rise / det.sigma;
    if (rise > 0.0) return std::numeric_limits<double>::infinity();
    return std::numeric_limits<double>::quiet_NaN();
}

std::vector<candidate> group_candidates(const std::vector<saved_frame>& frames) {
    std::vector<candidate_hit> hits;
    for (const saved_frame& f : frames)
        for (const detection& d : f.detections) hits.push_back({f.frame, f.threshold, f.packet_first_frame, d});

    std::map<std::int32_t, std::vector<std::size_t>> by_frame;
    for (std::size_t i = 0; i < hits.size(); ++i) by_frame[hits[i].frame].push_back(i);
    disjoint_sets sets(hits.size());
    for (const auto& [frame, here] : by_frame) {
        for (std::size_t a = 0; a < here.size(); ++a)
            for (std::size_t b = a + 1; b < here.size(); ++b)
                if (near(hits[here[a]], hits[here[b]])) sets.join(here[a], here[b]);
        if (frame == std::numeric_limits<std::int32_t>::min()) continue;
        const auto before = by_frame.find(frame - 1);
        if (before == by_frame.end()) continue;
        for (const std::size_t a : here)
            for (const std::size_t b : before->second)
                if (near(hits[a], hits[b])) sets.join(a, b);
    }

    std::map<std::size_t, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < hits.size(); ++i) groups[sets.find(i)].push_back(i);

    std::vector<candidate> out;
    for (const auto& [root, members] : groups) {
        candidate c;
        c.peak = hits[members.front()];
        c.first_frame = c.last_frame = c.peak.frame;
        std::set<std::int32_t> thresholds;
        std::map<std::int32_t, const candidate_hit*> strongest; // per frame
        for (const std::size_t i : members) {
            const candidate_hit& h = hits[i];
            if (better_peak(h, c.peak)) c.peak = h;
            c.first_frame = std::min(c.first_frame, h.frame);
            c.last_frame = std::max(c.last_frame, h.frame);
            thresholds.insert(h.threshold);
            auto& best = strongest[h.frame];
            if (best == nullptr || better_peak(h, *best)) best = &h;
        }
        c.detections = static_cast<std::int32_t>(members.size());
        c.thresholds.assign(thresholds.rbegin(), thresholds.rend());
        // Linked frames are consecutive, so every frame from the first to the last has a hit.
        for (const auto& [frame, hit] : strongest)
            c.frames.push_back({frame, hit->packet_first_frame, hit->det.x, hit->det.y});
        out.push_back(std::move(c));
    }
    std::sort(out.begin(), out.end(), [](const candidate& a, const candidate& b) {
        if (a.first_frame != b.first_frame) return a.first_frame < b.first_frame;
        if (a.peak.det.y != b.peak.det.y) return a.peak.det.y < b.peak.det.y;
        if (a.peak.det.x != b.peak.det.x) return a.peak.det.x < b.peak.det.x;
        return a.peak.frame < b.peak.frame;
    });
    for (std::size_t i = 0; i < out.size(); ++i) out[i].number = static_cast<std::int32_t>(i + 1);
    return out;
}

} // namespace serflash::detect
