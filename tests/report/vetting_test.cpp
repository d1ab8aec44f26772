// The measures and rules that give each candidate its class, and the expected noise.
#include "report/noise_expected.h"
#include "report/observation.h"
#include "report/vetting.h"

#include <gtest/gtest.h>

#include <cmath>

namespace serflash::report {
namespace {

window spot(double peak, double width, double slope = 0.0, double base = 100.0) {
    window w{class_half, {}};
    for (std::int32_t dy = -class_half; dy <= class_half; ++dy)
        for (std::int32_t dx = -class_half; dx <= class_half; ++dx)
            w.v.push_back(base + slope * dx + peak * std::exp(-(dx * dx + dy * dy) / (2.0 * width * width)));
    return w;
}

TEST(Vetting, WidthElongationSourceAndGradientOfAPlace) {
    EXPECT_NEAR(width_of_ratio(std::exp(-1.0 / (2.0 * 0.8 * 0.8))), 0.8, 1e-12);
    const window flat = spot(0.0, 1.0);
    // A round spot on a flat mean: its width, round, no source and no gradient under it.
    class_measures m = measure_place(spot(300.0, 0.8, 0.0, 0.0), flat, 20.0);
    EXPECT_NEAR(m.width, 0.8, 1e-9);
    EXPECT_NEAR(m.elongation, 1.0, 1e-9);
    EXPECT_NEAR(m.mean_excess, 0.0, 1e-9);
    EXPECT_NEAR(m.gradient, 0.0, 1e-9);
    // A star in the mean stands out; a slope does not, but its gradient does.
    m = measure_place(spot(300.0, 0.8, 0.0, 0.0), spot(200.0, 1.2), 20.0);
    EXPECT_NEAR(m.mean_excess, 10.0, 0.05); // the ring holds a little of the spot
    EXPECT_NEAR(source_width(spot(200.0, 1.2)), 1.2, 0.01);
    m = measure_place(spot(300.0, 0.8, 0.0, 0.0), spot(0.0, 1.0, 40.0), 20.0);
    EXPECT_NEAR(m.mean_excess, 0.0, 1e-9);
    EXPECT_NEAR(m.gradient, 2.0, 1e-9);
    // A short track is elongated.
    window track = spot(0.0, 1.0, 0.0, 0.0);
    for (std::int32_t dx = -2; dx <= 2; ++dx) track.v[static_cast<std::size_t>(class_half * 9 + class_half + dx)] = 500;
    EXPECT_GT(measure_place(track, flat, 20.0).elongation, 2.0);
    EXPECT_EQ(class_named("cosmic_ray"), candidate_class::cosmic_ray);
    EXPECT_EQ(class_name(candidate_class::hot_pixel), "hot_pixel");
}

measured_candidate at(std::int32_t frame, std::int32_t x, std::int32_t y, double sigma = 8.0, std::int32_t packet = 0) {
    measured_candidate m;
    m.c.first_frame = m.c.last_frame = frame;
    m.c.peak.frame = frame;
    m.c.peak.packet_first_frame = packet;
    m.c.peak.det.x = x;
    m.c.peak.det.y = y;
    m.c.peak.det.sample = static_cast<std::int32_t>(100 + 10 * sigma);
    m.c.peak.det.mean = 100.0;
    m.c.peak.det.sigma = 10.0;
    m.c.thresholds = {60};
    m.c.detections = 1;
    m.c.frames = {{frame, packet, x, y}};
    m.start_x = m.end_x = x;
    m.start_y = m.end_y = y;
    m.measures.width = 0.8;
    m.measures.elongation = 1.0;
    m.measures.mean_excess = 0.0;
    m.measures.gradient = 0.0;
    m.source_width = 0.0;
    return m;
}

TEST(Vetting, ATrackIsOneMovingCandidateAndTheRestByTheirMeasures) {
    observation o;
    for (std::int32_t k = 0; k < 8; ++k)
        if (k != 3) o.candidates.push_back(at(50 + k, 100 + 5 * k, 40 + 2 * k, 9.0 + k)); // frame 53 missed
    o.candidates.push_back(at(20, 60, 60));                                               // a flash
    o.candidates.push_back(at(30, 70, 70));                                               // on a star
    o.candidates.back().measures.mean_excess = 4.0;
    o.candidates.back().source_width = 1.1;
    o.candidates.push_back(at(40, 80, 20)); // on the limb
    o.candidates.back().measures.gradient = 3.0;
    o.candidates.push_back(at(45, 20, 80)); // sharp, one frame
    o.candidates.back().measures.width = 0.3;
    o.candidates.push_back(at(10, 90, 90, 6.0, 0)); // the same pixel in two packets
    o.candidates.push_back(at(210, 90, 90, 6.0, 200));
    o.candidates.push_back(at(300, 30, 30)); // in a frame withdrawn at another pass
    o.scattered.push_back({45, 300, 40, 50, 60});
    std::sort(o.candidates.begin(), o.candidates.end(), [](const measured_candidate& a, const measured_candidate& b) {
        return a.c.first_frame < b.c.first_frame;
    });
    classify(o);
    std::map<candidate_class, int> count;
    for (const measured_candidate& m : o.candidates) ++count[m.cls];
    EXPECT_EQ(count[candidate_class::moving], 1);
    EXPECT_EQ(count[candidate_class::flash], 1);
    EXPECT_EQ(count[candidate_class::star], 1);
    EXPECT_EQ(count[candidate_class::edge], 1);
    EXPECT_EQ(count[candidate_class::cosmic_ray], 1);
    EXPECT_EQ(count[candidate_class::hot_pixel], 2);
    EXPECT_EQ(count[candidate_class::scattered], 1);
    for (std::size_t k = 0; k < o.candidates.size(); ++k) EXPECT_EQ(o.candidates[k].c.number, static_cast<int>(k + 1));
    const auto moving = std::find_if(o.candidates.begin(), o.candidates.end(),
                                     [](const measured_candidate& m) { return m.cls == candidate_class::moving; });
    EXPECT_EQ(moving->c.first_frame, 50);
    EXPECT_EQ(moving->c.last_frame, 57);
    EXPECT_EQ(moving->start_x, 100);
    EXPECT_EQ(moving->end_x, 135);
    EXPECT_EQ(moving->end_y, 54);
    EXPECT_NEAR(moving->speed, std::hypot(35.0, 14.0) / 7.0, 1e-12);
    EXPECT_EQ(moving->track_members, 7);
    EXPECT_EQ(moving->c.detections, 7);
    EXPECT_EQ(moving->c.peak.frame, 57); // the strongest
    // The PSF came from the star.
    EXPECT_TRUE(moving->measures.psf_measured);
    EXPECT_DOUBLE_EQ(moving->measures.psf_width, 1.1);
    // Flashes come first in the order of review.
    EXPECT_EQ(o.candidates[review_order(o.candidates).front()].cls, candidate_class::flash);
}

TEST(NoiseExpected, MirroredTailFittedBeyondItsCountsOrGaussianWhenTooFew) {
    detect::scan_settings s;
    s.start_frame = 0;
    s.end_frame = 99;
    std::vector<detect::pass_report> passes(2);
    passes[0].threshold = 60;
    passes[0].frame_reached = 100; // every frame
    passes[1].threshold = 45;
    passes[1].frame_reached = 49; // ended at Max on frame 49
    passes[1].end = detect::pass_end::max_det_frames;
    const std::vector<std::int32_t> lowest = lowest_threshold_by_frame(passes, s);
    EXPECT_EQ(lowest[0], 45);
    EXPECT_EQ(lowest[49], 45);
    EXPECT_EQ(lowest[50], 60);

    detect::mirrored_tail tail;
    tail.read = true;
    tail.trials = 1'000'000;
    // An exponential tail: N(>= s) = 1e5 exp(-2 (s - 3)).
    for (std::size_t k = 0; k + 1 < tail.events.size(); ++k) {
        const double hi = 1e5 * std::exp(-2.0 * static_cast<double>(k) / 10.0);
        const double lo = 1e5 * std::exp(-2.0 * static_cast<double>(k + 1) / 10.0);
        tail.events[k] = std::llround(hi) - std::llround(lo);
    }
    noise_model m = fit_noise(tail, lowest, s);
    EXPECT_EQ(m.method, "mirrored");
    EXPECT_NEAR(m.slope, -2.0, 0.05);
    // Half the frames were examined at 4.5, half only at 6: N(6) everywhere, N(4.5) in half.
    EXPECT_NEAR(m.expected(4.5), 0.5 * 1e5 * std::exp(-3.0) + 0.5 * 1e5 * std::exp(-6.0), 300.0);
    EXPECT_NEAR(m.expected(10.0) / (1e5 * std::exp(-14.0)), 1.0, 0.3); // beyond the counts
    EXPECT_LT(m.expected(20.0), m.expected(10.0));

    detect::mirrored_tail few;
    few.read = true;
    few.trials = 1'000'000;
    few.events[5] = 3;
    m = fit_noise(few, lowest, s);
    EXPECT_EQ(m.method, "gaussian");
    EXPECT_GT(m.expected(5.0), m.expected(6.0));
    EXPECT_LT(m.expected(10.0), 1e-12);
}

} // namespace
} // namespace serflash::report
