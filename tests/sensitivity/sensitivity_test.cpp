#include "detect/rules.h"
#include "report/csv.h"
#include "sensitivity/injection.h"
#include "sensitivity/sensitivity.h"
#include "sensitivity/sensitivity_report.h"
#include "synth/synth.h"
#include "../detect/memory_fs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <random>
#include <regex>

namespace serflash::sensitivity {
namespace {

using detect::testing::memory_fs;

constexpr const char* ser_path = "/d/f.ser";

// A clean sky of known noise: no stars, hot pixels, regions, gradient or photon noise.
synth::params clean_sky(std::int32_t w, std::int32_t h, std::int32_t frames) {
    synth::params p = synth::default_params(16);
    p.width = w;
    p.height = h;
    p.frames = frames;
    p.stars = 0;
    p.hot_pixels = 0;
    p.bright_region = false;
    p.dark_region = false;
    p.gradient = 0.0;
    p.shot_noise = 0.0;
    p.write_times = true;
    return p;
}

struct fixture {
    memory_fs fs;
    detect::scan_job job;
    detect::file_report plain;

    explicit fixture(const synth::params& p, std::int32_t packet = 0) {
        fs.dirs.insert("/d");
        fs.files[ser_path] = synth::make_ser_bytes(p);
        job.path = ser_path;
        job.settings = detect::default_settings(p.frames, p.depth, 0);
        if (packet > 0) job.settings.packet_size = packet;
        job.settings.max_det_frames = 50;
        rescan();
    }
    void rescan() {
        detect::scan_environment env;
        env.results_parent = "/d";
        env.fs = &fs;
        plain = detect::scan_file(job, env, {});
        ASSERT_EQ(plain.outcome, detect::file_outcome::scanned) << plain.problem_text();
    }
    file_sensitivity measure(const sensitivity_options& o) {
        auto r = measure_sensitivity(fs, job, plain, o, {});
        EXPECT_TRUE(r.ok()) << r.reason();
        return r.ok() ? r.value() : file_sensitivity{};
    }
};

sensitivity_options counts_ladder(double first, double last, double step, std::int32_t per_level) {
    sensitivity_options o;
    o.ladder = {amplitude_unit::counts, first, last, step};
    o.per_level = per_level;
    return o;
}

std::vector<std::uint16_t> frame_of(platform::file_system& fs, const detect::scan_job& job, std::int32_t k) {
    auto in = fs.open_read(job.path);
    ser::ser_reader r(std::move(in.value()));
    r.set_bit_shift(job.bit_shift);
    r.set_swap_bytes(job.swap_bytes);
    r.read_ser_header();
    std::vector<std::uint16_t> f(r.samples_per_frame());
    r.seek_frame(k);
    r.read_frame(f);
    return f;
}

std::string lines_text(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

TEST(Ladder, RungsAndRefusals) {
    EXPECT_EQ((amplitude_ladder{amplitude_unit::sigma, 3, 15, 1}.values().size()), 13U);
    EXPECT_EQ((amplitude_ladder{amplitude_unit::sigma, 0.5, 1.5, 0.1}.values().size()), 11U);
    EXPECT_FALSE((amplitude_ladder{amplitude_unit::sigma, 0, 5, 1}.check()));
    EXPECT_FALSE((amplitude_ladder{amplitude_unit::sigma, 5, 3, 1}.check()));
    EXPECT_FALSE((amplitude_ladder{amplitude_unit::counts, 1, 5, 0}.check()));
    EXPECT_FALSE((amplitude_ladder{amplitude_unit::counts, 1, 5000, 1}.check()));
}

TEST(Limits, InterpolatedBetweenRungs) {
    std::vector<level_result> levels = {{3, 30, 10, 0}, {4, 40, 10, 4}, {5, 50, 10, 8}, {6, 60, 10, 10}};
    const amplitude_limit half = limit_at(levels, 0.5);
    ASSERT_TRUE(half.reached);
    EXPECT_NEAR(half.sigma, 4.25, 1e-9);
    EXPECT_NEAR(half.counts, 42.5, 1e-9);
    const amplitude_limit most = limit_at(levels, 0.9);
    EXPECT_NEAR(most.sigma, 5.5, 1e-9);
    EXPECT_FALSE(limit_at({{3, 30, 10, 0}, {4, 40, 10, 8}}, 0.9).reached);
    EXPECT_TRUE(limit_at({{3, 30, 10, 6}}, 0.5).at_first_rung);
}

// The stream read through the injection differs from the file only in the patched bytes, each
// spot pixel rises by its rounded share in counts (the bit shift and the byte order as the scan
// reads them), and the second frame of a two-frame flash by half.
TEST(Injection, StreamEqualsThePlainOneOutsideTheSpots) {
    for (const auto& [depth, colour, shift, swap] :
         {std::tuple{16, 0, 0, false}, {16, 0, 3, true}, {8, 0, 0, false}, {16, 100, 2, false}, {8, 101, 0, false}}) {
        synth::params p = clean_sky(40, 30, 6);
        p.depth = depth;
        p.color_id = colour;
        p.swap_bytes = swap;
        if (depth == 8) {
            p = synth::default_params(8);
            p.width = 40, p.height = 30, p.frames = 6, p.stars = 0, p.hot_pixels = 0, p.color_id = colour;
        }
        memory_fs fs;
        fs.files[ser_path] = synth::make_ser_bytes(p);
        const std::vector<std::uint8_t> original = fs.files[ser_path];
        detect::scan_job job;
        job.path = ser_path;
        job.bit_shift = shift;
        job.swap_bytes = swap;
        const std::vector<injected_flash> flashes = {{12, 14, 2, 2, 40.0}, {30, 20, 4, 1, 9.0}};
        auto in = fs.open_read(ser_path);
        ser::ser_reader reader(std::move(in.value()));
        reader.set_bit_shift(shift);
        reader.set_swap_bytes(swap);
        reader.read_ser_header();
        auto patch = byte_patch::make(reader.file(), frame_layout::of(reader), flashes, 0.8);
        ASSERT_TRUE(patch.ok()) << patch.reason();
        injecting_file_system injected(fs, ser_path, std::make_shared<const byte_patch>(patch.value()));

        // Byte for byte, read in odd pieces so that samples are split between reads.
        auto stream = injected.open_read(ser_path);
        std::vector<std::uint8_t> seen(original.size());
        for (std::size_t at = 0; at < seen.size(); at += 7)
            stream->read(seen.data() + at, std::min<std::size_t>(7, seen.size() - at));
        std::size_t changed = 0;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (seen[i] == original[i]) continue;
            ++changed;
            EXPECT_TRUE(
                std::binary_search(patch->offsets().begin(), patch->offsets().end(), static_cast<std::int64_t>(i)));
            EXPECT_GE(i, static_cast<std::size_t>(ser::header_size));
        }
        EXPECT_EQ(changed, patch->size());
        EXPECT_GT(changed, 0U);

        detect::scan_job injected_job = job;
        for (std::int32_t k = 0; k < 6; ++k) {
            const auto plain = frame_of(fs, job, k);
            const auto with = frame_of(injected, job, k);
            for (std::int32_t y = 0; y < 30; ++y)
                for (std::int32_t x = 0; x < 40; ++x) {
                    double rise = 0;
                    for (const injected_flash& f : flashes)
                        for (std::int32_t j = 0; j < f.frames; ++j)
                            if (f.frame + j == k)
                                for (const spot_pixel& s :
                                     spot_pixels(f.x, f.y, j == 0 ? f.counts : f.counts / 2, 0.8, 40, 30))
                                    if (s.x == x && s.y == y) rise += static_cast<double>(std::llround(s.rise));
                    const std::size_t i = static_cast<std::size_t>(y * 40 + x);
                    EXPECT_EQ(with[i] - plain[i], static_cast<int>(rise))
                        << depth << " " << colour << " frame " << k << " " << x << "," << y;
                }
        }
        EXPECT_EQ(fs.files[ser_path], original); // the file itself is never touched
    }
}

TEST(Injection, WritesStayInMemory) {
    memory_fs fs;
    fs.files[ser_path] = synth::make_ser_bytes(clean_sky(40, 30, 4));
    injecting_file_system injected(fs, ser_path, std::make_shared<const byte_patch>());
    EXPECT_FALSE(injected.open_write("Results_f/x.txt", platform::write_mode::truncate)); // no such folder yet
    ASSERT_TRUE(injected.make_dir("Results_f"));
    auto out = injected.open_write("Results_f/x.txt", platform::write_mode::truncate);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->write("abc", 3));
    EXPECT_TRUE(out->close());
    EXPECT_TRUE(injected.rename_no_replace("Results_f", "Results_f_s45_3"));
    EXPECT_EQ(injected.kind_of("Results_f_s45_3/x.txt"), platform::entry_kind::file);
    EXPECT_EQ(injected.bytes_written(), 3);
    EXPECT_EQ(fs.files.size(), 1U);
    EXPECT_TRUE(fs.dirs.empty());
}

TEST(Plan, DeterministicForASeedAndKeptApart) {
    fixture f(clean_sky(160, 120, 400), 100);
    sensitivity_options o;
    o.per_level = 6;
    auto a = plan_injections(f.fs, f.job, f.plain, o, {});
    auto b = plan_injections(f.fs, f.job, f.plain, o, {});
    ASSERT_TRUE(a.ok()) << a.reason();
    ASSERT_EQ(a->flashes.size(), 13U * 6U);
    ASSERT_EQ(a->flashes.size(), b->flashes.size());
    for (std::size_t i = 0; i < a->flashes.size(); ++i) {
        EXPECT_EQ(a->flashes[i].flash.x, b->flashes[i].flash.x);
        EXPECT_EQ(a->flashes[i].flash.frame, b->flashes[i].flash.frame);
        EXPECT_EQ(a->flashes[i].flash.counts, b->flashes[i].flash.counts);
    }
    o.seed = 2;
    auto c = plan_injections(f.fs, f.job, f.plain, o, {});
    std::size_t same = 0;
    for (std::size_t i = 0; i < a->flashes.size(); ++i)
        same +=
            a->flashes[i].flash.x == c->flashes[i].flash.x && a->flashes[i].flash.frame == c->flashes[i].flash.frame;
    EXPECT_LT(same, 5U);

    for (const planned_flash& p : a->flashes) {
        EXPECT_TRUE(detect::in_inner_area(p.flash.y, p.flash.x, 160, 120));
        EXPECT_NEAR(p.sigma_multiple(), 3.0 + p.level, 1e-9);
        const planned_run& r = a->runs[static_cast<std::size_t>(p.run)];
        EXPECT_GE(p.flash.frame, r.first_frame);
        EXPECT_LE(p.flash.frame, r.last_frame);
        for (const planned_flash& q : a->flashes) {
            if (&p == &q || p.run != q.run) continue;
            EXPECT_GT(std::hypot(p.flash.x - q.flash.x, p.flash.y - q.flash.y), least_separation);
            EXPECT_GE(std::abs(p.flash.frame - q.flash.frame), 3); // beyond the recovery reach of each other
        }
    }
}

// Far above the noise (20 counts) always, far below never; the file stays as it was; and the
// answer is the same on one core as on several.
TEST(Measure, FarAboveAlwaysFarBelowNever) {
    fixture f(clean_sky(96, 96, 300));
    const std::vector<std::uint8_t> before = f.fs.files[ser_path];
    const std::size_t files_before = f.fs.files.size();
    sensitivity_options o = counts_ladder(4, 2004, 2000, 12);
    o.threads = 1;
    const file_sensitivity s = f.measure(o);
    ASSERT_EQ(s.levels.size(), 2U);
    EXPECT_EQ(s.levels[0].injected, 12);
    EXPECT_EQ(s.levels[0].recovered, 0);
    EXPECT_EQ(s.levels[1].recovered, 12);
    EXPECT_EQ(f.fs.files[ser_path], before);
    EXPECT_EQ(f.fs.files.size(), files_before);
    o.threads = 3;
    EXPECT_EQ(sensitivity_json(f.measure(o)), sensitivity_json(s));

    o.flash_frames = 2;
    const file_sensitivity two = f.measure(o);
    EXPECT_EQ(two.levels[1].recovered, 12);
    for (const planned_flash& p : two.plan.flashes) EXPECT_EQ(p.flash.frames, 2);
}

// Completeness rises with the amplitude (within the binomial noise of the flashes per rung), and
// its 50 % point lies where the detection test puts it for this noise: a Monte Carlo of the test
// on the centre and its four neighbours, over a packet that holds the flash, at the lowest pass.
TEST(Measure, CompletenessRisesAndAgreesWithTheDetectionTest) {
    fixture f(clean_sky(200, 160, 400));
    ASSERT_EQ(f.plain.passes.back().threshold, detect::lowest_threshold);
    sensitivity_options o;
    o.ladder = {amplitude_unit::sigma, 3, 9, 0.5};
    o.per_level = 40;
    const file_sensitivity s = f.measure(o);
    for (std::size_t i = 1; i < s.levels.size(); ++i)
        EXPECT_GE(s.levels[i].completeness(), s.levels[i - 1].completeness() - 0.25) << i;
    EXPECT_EQ(s.levels.front().recovered, 0);
    ASSERT_TRUE(s.half.reached);

    // The same test on simulated pixels.
    const std::int32_t packet = f.job.settings.packet_size;
    const double neighbour = std::exp(-0.5 / (0.8 * 0.8));
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, 20.0);
    const auto detected_share = [&](double k) {
        int hits = 0;
        constexpr int trials = 1500;
        for (int t = 0; t < trials; ++t) {
            double mean[5], sigma[5], first[5];
            for (int p = 0; p < 5; ++p) {
                double sum = 0, sq = 0;
                for (std::int32_t j = 0; j < packet; ++j) {
                    double v = std::round(1200.0 + noise(rng));
                    if (j == 0) v += static_cast<double>(std::llround(k * 20.0 * (p == 0 ? 1.0 : neighbour)));
                    if (j == 0) first[p] = v;
                    sum += v;
                    sq += v * v;
                }
                mean[p] = sum / packet;
                sigma[p] = std::sqrt((sq - packet * mean[p] * mean[p]) / (packet - 1));
            }
            if (!detect::main_test(first[0], mean[0], sigma[0], detect::lowest_threshold)) continue;
            bool all = true;
            for (int p = 1; p < 5; ++p) all = all && detect::neighbour_test(first[p], mean[p], first[0] - mean[0], 25);
            hits += all ? 1 : 0;
        }
        return static_cast<double>(hits) / trials;
    };
    // Rung by rung within the binomial noise of 40 flashes; the neighbour tests keep even bright
    // flashes from being found every time (a neighbour at 46 % of the peak must rise by 25 %).
    for (const level_result& l : s.levels) {
        const double p = detected_share(l.sigma);
        EXPECT_NEAR(l.completeness(), p, 3.0 * std::sqrt(p * (1 - p) / 40.0) + 0.05) << l.sigma << " sigma";
    }
    double implied = 0;
    for (double k = 3.0; k < 12.0; k += 0.05)
        if (detected_share(k) >= 0.5) {
            implied = k;
            break;
        }
    // The local sigma of the measurement is that of each pixel over its packet (about 20 counts).
    EXPECT_NEAR(s.half.sigma, implied, 0.6) << "implied " << implied;
    std::printf("50%% completeness: measured %.2f sigma, implied by the detection test %.2f sigma\n", s.half.sigma,
                implied);
}

// With the masks on, flashes inside a manual mask are never recovered, the plan places none
// there, and the masked share of the inner area is reported.
TEST(Measure, ManualMaskHidesFlashes) {
    fixture f(clean_sky(120, 100, 300));
    f.job.settings.mask_ul[1] = detect::pack_point(10, 10);
    f.job.settings.mask_lr[1] = detect::pack_point(59, 89); // the left half of the inner area
    f.rescan();
    const run_result inside =
        run_injected(f.fs, f.job, {{30, 40, 120, 1, 3000.0}, {90, 40, 200, 1, 3000.0}}, 0.8, 1, {});
    ASSERT_TRUE(inside.scanned) << inside.problem;
    EXPECT_FALSE(inside.recovered[0]);
    EXPECT_TRUE(inside.recovered[1]);

    sensitivity_options o = counts_ladder(3000, 3000, 1, 10);
    const file_sensitivity s = f.measure(o);
    EXPECT_NEAR(s.plan.masked_fraction, 0.5, 1e-9);
    for (const planned_flash& p : s.plan.flashes) EXPECT_GE(p.flash.x, 60);
    EXPECT_EQ(s.levels[0].recovered, s.levels[0].injected);
}

// A flash counts only when it comes out as a flash: one dropped on a star is found as a star and
// not recovered, one on the open sky beside it is; the plain scan's twinkling stars are counted
// per class, in the JSON and the lines as well.
TEST(Measure, OnlyFlashesRecoverAndFalseCandidatesArePerClass) {
    synth::params p = clean_sky(120, 100, 300);
    p.stars = 3; // bright ones that wander (the defaults): the plain scan finds them
    synth::ground_truth truth;
    fixture f(p);
    f.fs.files[ser_path] = synth::make_ser_bytes(p, &truth);
    ASSERT_EQ(truth.stars.size(), 3U);
    const synth::point star = truth.stars[0];
    std::int32_t free_x = 60, free_y = 50; // the open sky, far from every star
    for (std::int32_t y = 20; y < 80; y += 7)
        for (std::int32_t x = 20; x < 100; x += 7) {
            const auto far = [&](std::int32_t u, std::int32_t v) {
                return std::all_of(truth.stars.begin(), truth.stars.end(),
                                   [&](const synth::point& t) { return std::hypot(t.x - u, t.y - v) > 25.0; });
            };
            if (far(x, y) && !far(free_x, free_y)) free_x = x, free_y = y;
        }
    const run_result r =
        run_injected(f.fs, f.job, {{star.x, star.y, 150, 2, 1500.0}, {free_x, free_y, 150, 2, 1500.0}}, 0.8, 1, {});
    ASSERT_TRUE(r.scanned) << r.problem;
    ASSERT_TRUE(r.found_as[0].has_value());
    EXPECT_EQ(*r.found_as[0], report::candidate_class::star);
    EXPECT_FALSE(r.recovered[0]);
    EXPECT_EQ(r.found_as[1], report::candidate_class::flash);
    EXPECT_TRUE(r.recovered[1]);

    f.rescan();
    const file_sensitivity s = f.measure(counts_ladder(1500, 1500, 1, 4));
    const std::int32_t stars = s.false_by_class[static_cast<std::size_t>(report::candidate_class::star)];
    EXPECT_GT(stars, 0) << lines_text(sensitivity_lines(s));
    std::int32_t sum = 0;
    for (const std::int32_t n : s.false_by_class) sum += n;
    EXPECT_EQ(sum, s.false_candidates);
    const auto j = nlohmann::json::parse(sensitivity_json(s));
    EXPECT_EQ(j["false_candidates"]["by_class"]["star"], stars);
    EXPECT_EQ(j["false_candidates"]["by_class"].size(), std::size(report::candidate_classes));
    for (const auto& flash : j["flashes"])
        EXPECT_EQ(flash["recovered"].get<bool>(), flash["found_as"] == "flash") << flash.dump();
    const std::vector<std::string> lines = sensitivity_lines(s);
    EXPECT_EQ(lines.back().rfind("  false candidates by class: flash ", 0), 0U) << lines.back();
    EXPECT_NE(lines.back().find("star " + std::to_string(stars)), std::string::npos) << lines.back();
}

TEST(Report, FilesParseAndTheLastLineHasItsForm) {
    fixture f(clean_sky(96, 96, 300));
    sensitivity_options o = counts_ladder(10, 410, 100, 4);
    const file_sensitivity s = f.measure(o);
    const auto j = nlohmann::json::parse(sensitivity_json(s));
    EXPECT_EQ(j["completeness"].size(), 5U);
    EXPECT_EQ(j["flashes"].size(), s.plan.flashes.size());
    EXPECT_EQ(j["false_candidates"]["count"], s.false_candidates);
    EXPECT_TRUE(j["false_candidates"]["per_hour"].is_number()); // the file has time stamps
    EXPECT_NEAR(j["covered"]["seconds"].get<double>(), 300 / 25.0, 1e-6);
    const auto rows = report::parse_csv(sensitivity_csv(s));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 6U);
    EXPECT_EQ((*rows)[0][0], "amplitude_sigma");
    EXPECT_EQ((*rows)[1][1], "10.00");

    const std::regex form(R"(sensitivity: 50% (\d+\.\d counts \d+\.\d sigma|- counts - sigma), 90% (\d+\.\d counts )"
                          R"(\d+\.\d sigma|- counts - sigma), false candidates \d+ \((\d+\.\d|-) per hour\))");
    EXPECT_TRUE(std::regex_match(sensitivity_last_line(s), form)) << sensitivity_last_line(s);
    file_sensitivity none = s;
    none.most = {};
    none.false_per_hour = std::numeric_limits<double>::quiet_NaN();
    none.false_candidates = 3;
    const std::string line = sensitivity_last_line(none);
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    EXPECT_NE(line.find("90% - counts - sigma, false candidates 3 (- per hour)"), std::string::npos) << line;
    EXPECT_NE(sensitivity_section(s).find("<svg class=\"completeness\""), std::string::npos);
}

} // namespace
} // namespace serflash::sensitivity
