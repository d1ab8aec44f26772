// The measures and rules that give each candidate its class, and the expected noise.
#include "detect/memory_scan.h"
#include "detect/noise_tail.h"
#include "detect/rules.h"
#include "report/noise_expected.h"
#include "report/observation.h"
#include "report/vetting.h"
#include "ser/ser_reader.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>
#include <random>

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
    for (std::int32_t dx = -2; dx <= 2; ++dx)
        track.v[static_cast<std::size_t>(class_half * (2 * class_half + 1) + class_half + dx)] = 500;
    EXPECT_GT(measure_place(track, flat, 20.0).elongation, 2.0);
    EXPECT_EQ(class_named("cosmic_ray"), candidate_class::cosmic_ray);
    EXPECT_EQ(class_name(candidate_class::hot_pixel), "hot_pixel");
}

// The pixels of a whole packet mean on a source are the places whose mean_excess makes a star:
// within 3 px of a star, not on a slope however steep, and the same figure as for one place.
TEST(Vetting, SourcePixelsOfAPacketAreThePlacesThatMakeAStar) {
    constexpr std::int32_t w = 48, h = 40;
    std::vector<double> mean(w * h), sigma(w * h, 20.0);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const double dx = x - 30.0, dy = y - 20.0;
            mean[static_cast<std::size_t>(y * w + x)] =
                100.0 + 40.0 * x + 200.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * 1.2 * 1.2));
        }
    sigma[static_cast<std::size_t>(20 * w + 10)] = detect::mask_value; // masked: never a source
    const std::vector<bool> on = source_pixels(mean, sigma, w, h, 1.5);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            const bool near = std::abs(x - 30) <= 3 && std::abs(y - 20) <= 3;
            const bool far = std::abs(x - 30) > 8 || std::abs(y - 20) > 8;
            if (near || far) {
                EXPECT_EQ(on[static_cast<std::size_t>(y * w + x)], near) << x << "," << y;
            }
        }
    // One place measured on its own window gives the same answer.
    for (const auto& [x, y] : {std::pair{30, 20}, {33, 23}, {35, 20}, {10, 10}}) {
        window win;
        win.half = class_half;
        for (std::int32_t dy = -class_half; dy <= class_half; ++dy)
            for (std::int32_t dx = -class_half; dx <= class_half; ++dx) {
                const std::int32_t xx = x + dx, yy = y + dy;
                win.v.push_back(xx < 0 || yy < 0 || xx >= w || yy >= h ? std::nan("")
                                                                       : mean[static_cast<std::size_t>(yy * w + xx)]);
            }
        const class_measures m = measure_place(win, win, 20.0);
        EXPECT_EQ(on[static_cast<std::size_t>(y * w + x)], m.mean_excess >= 1.5) << x << "," << y;
    }
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
    m.track_first_frame = m.track_last_frame = frame;
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

// A spot of the given peak (in pixel deviations of 1) at (x, y) of a window of noise.
void add_spot(window& w, double x, double y, double peak) {
    for (std::int32_t dy = -w.half; dy <= w.half; ++dy)
        for (std::int32_t dx = -w.half; dx <= w.half; ++dx)
            w.v[static_cast<std::size_t>((dy + w.half) * (2 * w.half + 1) + dx + w.half)] +=
                peak * std::exp(-((dx - x) * (dx - x) + (dy - y) * (dy - y)) / (2.0 * 0.8 * 0.8));
}

// A star explains what rises on it, however far; a broad feature of the surface only what the
// image motion can swing, about its own relief: a spot rising far above that is not its doing.
TEST(Vetting, ABroadSourceExplainsOnlyASwingOfAboutItsOwnExcess) {
    observation o;
    const auto on_source = [&](std::int32_t frame, std::int32_t x, double sigma, double excess, double width) {
        o.candidates.push_back(at(frame, x, 40, sigma));
        o.candidates.back().measures.mean_excess = excess;
        o.candidates.back().source_width = width;
    };
    on_source(10, 10, 8.0, 4.0, 1.0); // stars, which give the PSF: 1 px
    on_source(20, 20, 8.0, 4.0, 1.0);
    on_source(30, 30, 12.0, 3.0, 1.1); // a star rising four times its excess
    on_source(40, 40, 12.0, 3.0, 4.0); // a broad feature outrisen four times: a flash on it
    on_source(50, 50, 6.0, 3.0, 4.0);  // a broad feature swung by twice its excess
    classify(o);
    ASSERT_EQ(o.candidates.size(), 5u);
    std::map<std::int32_t, candidate_class> by_frame;
    for (const measured_candidate& m : o.candidates) by_frame[m.c.peak.frame] = m.cls;
    EXPECT_EQ(by_frame[10], candidate_class::star);
    EXPECT_EQ(by_frame[30], candidate_class::star);
    EXPECT_EQ(by_frame[40], candidate_class::flash);
    EXPECT_EQ(by_frame[50], candidate_class::star);
}

TEST(TrackSearch, SpotsOnASteadyMotionThroughThePlaceAndNothingElse) {
    const vetting_limits limits;
    const std::int32_t half = track_search_half(limits);
    const std::size_t count = static_cast<std::size_t>((2 * half + 1) * (2 * half + 1));
    const auto data = [&](const auto& spots_in) {
        track_search_data d;
        d.peak_frame = 40;
        d.first_frame = 37;
        d.sigma = {half, std::vector<double>(count, 1.0)};
        for (std::int32_t k = -3; k <= 3; ++k) {
            window e{half, std::vector<double>(count, 0.0)};
            spots_in(k, e);
            d.excess.push_back(std::move(e));
        }
        return d;
    };
    // Faint in the frames around (6 deviations), bright in its own: found, with its velocity.
    searched_track t = search_track(
        data([](std::int32_t k, window& e) { add_spot(e, 7.0 * k, -2.5 * k, k == 0 ? 20.0 : 6.0); }), 200, 100, limits);
    EXPECT_EQ(t.frames_found, 6);
    EXPECT_EQ(t.first_frame, 37);
    EXPECT_EQ(t.last_frame, 43);
    EXPECT_NEAR(t.vx, 7.0, 0.05);
    EXPECT_NEAR(t.vy, -2.5, 0.05);
    EXPECT_NEAR(t.start_x, 179.0, 0.2);
    EXPECT_NEAR(t.end_y, 92.5, 0.2);
    // Only after the peak, and too faint in one frame: two frames still make it.
    t = search_track(data([](std::int32_t k, window& e) {
                         if (k >= 0) add_spot(e, 4.0 * k, 3.0 * k, k == 2 ? 2.0 : 6.0);
                     }),
                     200, 100, limits);
    EXPECT_EQ(t.frames_found, 2);
    EXPECT_EQ(t.last_frame, 43);
    // A flash fading where it rose, a spot elsewhere in each frame, and spots collinear with the
    // place but not at equal steps: never two frames on one motion.
    for (const auto& spots_in : std::vector<std::function<void(std::int32_t, window&)>>{
             [](std::int32_t k, window&e) {
                 if (k >= 0) add_spot(e, 0.2 * k, 0.0, 20.0 / (1 << k));
             },
             [](std::int32_t k, window&e) {
                 if (k != 0) add_spot(e, 13.0 * k * k - 30.0, 20.0 - 9.0 * k, 8.0);
             },
             [](std::int32_t k, window&e) {
                 if (k > 0) add_spot(e, 5.0 * k * k, 0.0, 8.0);
             }})
        EXPECT_LE(search_track(data(spots_in), 200, 100, limits).frames_found, 1);
    // Too slow for a track: a star's wander.
    EXPECT_LE(search_track(data([](std::int32_t k, window& e) { add_spot(e, 1.5 * k, 0.0, 8.0); }), 200, 100, limits)
                  .frames_found,
              1);
}

// A track found around a candidate by its search, at (vx, 0) px per frame.
searched_track found(std::int32_t frames, std::int32_t first, std::int32_t last, double x0, double vx) {
    return {frames, first, last, x0, 40.0, x0 + vx * (last - first), 40.0, vx, 0.0};
}

TEST(Vetting, ThePiecesOfOneMovingObjectAreOneCandidate) {
    observation o;
    for (std::int32_t k = 0; k < 3; ++k) o.candidates.push_back(at(50 + k, 100 + 5 * k, 40)); // a track
    // Alone in frame 60, its search found the track going on (8 frames after the track's end).
    o.candidates.push_back(at(60, 150, 40, 12.0));
    o.candidates.back().searched = found(3, 57, 61, 135.0, 5.0);
    // On a source, where the object's own light raised the packet mean: a star, but its search
    // found the same track.
    o.candidates.push_back(at(64, 170, 40));
    o.candidates.back().measures.mean_excess = 4.0;
    o.candidates.back().source_width = 1.1;
    o.candidates.back().searched = found(3, 62, 66, 160.0, 5.0);
    // Another track elsewhere, and a flash whose search found too little.
    o.candidates.push_back(at(200, 300, 40));
    o.candidates.back().searched = found(4, 197, 203, 285.0, 5.0);
    o.candidates.push_back(at(62, 150, 100));
    o.candidates.back().searched = found(2, 60, 64, 140.0, 5.0);
    std::sort(o.candidates.begin(), o.candidates.end(), [](const measured_candidate& a, const measured_candidate& b) {
        return a.c.first_frame < b.c.first_frame;
    });
    classify(o);
    ASSERT_EQ(o.candidates.size(), 3u);
    const measured_candidate& object = o.candidates[0];
    EXPECT_EQ(object.cls, candidate_class::moving);
    EXPECT_EQ(object.track_members, 5);
    EXPECT_EQ(object.c.first_frame, 50);
    EXPECT_EQ(object.c.last_frame, 64);
    EXPECT_EQ(object.c.peak.frame, 60); // the strongest
    EXPECT_EQ(object.start_x, 100);
    EXPECT_EQ(object.end_x, 180);
    EXPECT_EQ(object.track_last_frame, 66);
    EXPECT_DOUBLE_EQ(object.speed, 5.0);
    EXPECT_EQ(o.candidates[1].cls, candidate_class::flash);
    EXPECT_EQ(o.candidates[2].cls, candidate_class::moving);
    EXPECT_EQ(o.candidates[2].start_x, 285);
    EXPECT_EQ(o.candidates[2].track_first_frame, 197);
    for (std::size_t k = 0; k < o.candidates.size(); ++k) EXPECT_EQ(o.candidates[k].c.number, static_cast<int>(k + 1));
}

// The records of a detection of (x, y) in one frame, tested against the packet from frame 0.
detect::saved_frame detected(std::int32_t frame, std::int32_t x, std::int32_t y) {
    detect::saved_frame f;
    f.threshold = 60;
    f.frame = frame;
    f.detection_count = 1;
    f.detections = {{1, x, y, 1600, 1200.0, 20.0}};
    return f;
}

TEST(TrackSearch, ASatelliteDetectedInOneFrameIsMovingAndAFadingFlashStaysAFlash) {
    synth::params p = synth::default_params(16);
    p.width = 320;
    p.height = 240;
    p.frames = 80;
    p.stars = 0;
    p.hot_pixels = 0;
    p.bright_region = false;
    p.dark_region = false;
    p.gradient = 0.0;
    // A satellite over frames 20 to 29 at (6, 3) px per frame, bright enough to be detected only in
    // frame 24, faint but plain in the others; a flash at rest fading over three frames.
    for (std::int32_t k = 0; k < 10; ++k)
        p.flashes.push_back({80 + 6 * k, 60 + 3 * k, 20 + k, k == 4 ? 500.0 : 160.0, 1});
    p.flashes.push_back({250, 180, 50, 600.0, 1});
    p.flashes.push_back({250, 180, 51, 300.0, 1});
    p.flashes.push_back({250, 180, 52, 150.0, 1});
    const std::vector<std::uint8_t> bytes = synth::make_ser_bytes(p);
    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    detect::scan_job job;
    job.settings = detect::default_settings(reader.frames_present(), reader.depth(), 0);
    scan_records records;
    records.frames = {detected(24, 104, 72), detected(50, 250, 180), detected(51, 250, 180)};
    const std::vector<measured_candidate> classed = classed_candidates(reader, job, records);
    ASSERT_EQ(classed.size(), 2u);
    const measured_candidate& satellite = classed[0];
    EXPECT_EQ(satellite.cls, candidate_class::moving);
    EXPECT_GE(satellite.searched.frames_found, 5);
    EXPECT_EQ(satellite.searched.first_frame, 21);
    EXPECT_EQ(satellite.searched.last_frame, 27);
    EXPECT_NEAR(satellite.speed, std::hypot(6.0, 3.0), 0.3);
    EXPECT_NEAR(satellite.start_x, 86, 1);
    EXPECT_NEAR(satellite.end_y, 81, 1);
    EXPECT_EQ(satellite.c.first_frame, 24); // its detections are what they were
    const measured_candidate& flash = classed[1];
    EXPECT_EQ(flash.cls, candidate_class::flash);
    EXPECT_LE(flash.searched.frames_found, 1);
}

// On a source or a hot pixel the noise is the source's own swing, which the mirror cannot see:
// such a candidate is counted among the file's candidates on sources at least as significant,
// however unlikely the mirrored noise makes it; every other candidate takes the noise model's.
TEST(NoiseExpected, CandidatesOnSourcesAreCountedAmongTheSources) {
    noise_model model;
    model.method = "gaussian";
    model.trials = 1'000'000;
    model.shares = {{45, 1.0}};
    std::vector<measured_candidate> cs = {at(10, 5, 5, 30.0), at(20, 6, 6, 8.0), at(30, 7, 7, 12.0), at(40, 8, 8, 12.0),
                                          at(50, 9, 9, 30.0)};
    cs[0].cls = candidate_class::star;
    cs[1].cls = candidate_class::star;
    cs[2].cls = candidate_class::hot_pixel;
    cs[3].cls = candidate_class::flash;
    cs[4].cls = candidate_class::edge;
    expect_noise(cs, model);
    EXPECT_EQ(cs[0].noise_expected, 1.0); // the strongest of the three on sources
    EXPECT_EQ(cs[2].noise_expected, 2.0);
    EXPECT_EQ(cs[1].noise_expected, 3.0);
    EXPECT_TRUE(cs[0].noise_from_sources && cs[1].noise_from_sources && cs[2].noise_from_sources);
    EXPECT_FALSE(cs[3].noise_from_sources || cs[4].noise_from_sources);
    EXPECT_EQ(cs[3].noise_expected, model.expected(12.0));
    EXPECT_EQ(cs[4].noise_expected, model.expected(30.0));
    EXPECT_LT(cs[3].noise_expected, 1e-20); // the model takes a 12 sigma flash for no noise at all
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

// A file whose image moves one way only now and then (a gust, a bump of the mount): a star's
// flank brightens in those frames and never darkens. The mirror of each sample is taken about
// the mean moved with the frame, so those rises are counted as the noise they are.
TEST(NoiseTail, TheMirrorMovesWithTheImage) {
    constexpr std::int32_t w = 64, h = 48, frames = 200;
    const auto file_with_bumps = [&](bool bumps) {
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(0.0, 8.0);
        std::vector<std::vector<std::uint16_t>> all;
        for (std::int32_t f = 0; f < frames; ++f) {
            const double shift = bumps && f % 40 == 20 ? 1.0 : 0.0;
            std::vector<std::uint16_t> frame(static_cast<std::size_t>(w * h));
            for (std::int32_t y = 0; y < h; ++y)
                for (std::int32_t x = 0; x < w; ++x) {
                    const double dx = x - 32.0 - shift, dy = y - 24.0;
                    const double v = 100.0 + 2000.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * 1.5 * 1.5)) + noise(rng);
                    frame[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint16_t>(std::lround(v));
                }
            all.push_back(std::move(frame));
        }
        return detect::testing::ser_bytes(w, h, 16, all);
    };
    const auto tail_of = [&](bool bumps) {
        ser::ser_reader reader(platform::make_memory_input(file_with_bumps(bumps)));
        reader.read_ser_header();
        detect::scan_settings s;
        s.end_frame = frames - 1;
        return detect::sweep_mirrored(reader, s, {}, std::vector<bool>(frames, true));
    };
    // Events at 5 sigma or more (the bins from 2 sigma above tail_first).
    const auto strong = [](const detect::mirrored_tail& t) {
        return std::accumulate(t.events.begin() + 20, t.events.end(), std::int64_t{0});
    };
    const detect::mirrored_tail still = tail_of(false), bumped = tail_of(true);
    ASSERT_TRUE(still.read && bumped.read);
    EXPECT_EQ(strong(still), 0);
    // Five bumped frames, each with the flank's rise as at least one event.
    EXPECT_GE(strong(bumped), 5);
    EXPECT_LE(strong(bumped), 5 * static_cast<std::int64_t>(detect::max_lines_per_frame));
}

} // namespace
} // namespace serflash::report
