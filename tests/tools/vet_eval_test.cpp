#include "synth/night.h"
#include "vet_eval/vet_eval.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace serflash::vet_eval {
namespace {

synth::night_truth small_truth() {
    synth::night_params p = synth::night_preset(31);
    p.file.width = 200;
    p.file.height = 150;
    p.file.frames = 40;
    p.packet = 40;
    p.flashes = 2;
    p.sky_stars = 2;
    p.dark_stars = 0;
    p.cosmic_rays = 1;
    p.hot_pixels = 1;
    synth::night_truth t;
    synth::make_night_bytes(p, &t);
    return t;
}

const synth::night_event& first_of(const synth::night_truth& t, synth::event_kind k) {
    for (const synth::night_event& e : t.events)
        if (e.kind == k) return e;
    throw std::runtime_error("no such event");
}

candidate at(double x, double y, std::int32_t frame, const std::string& cls, std::optional<double> noise = {}) {
    candidate c;
    c.x = static_cast<std::int32_t>(std::lround(x));
    c.y = static_cast<std::int32_t>(std::lround(y));
    c.first_frame = c.last_frame = c.peak_frame = frame;
    c.cls = cls;
    c.noise_expected = noise;
    return c;
}

TEST(VetEval, CandidatesMatchTheEventTheySitOn) {
    const synth::night_truth t = small_truth();
    const synth::night_event& flash = first_of(t, synth::event_kind::flash);
    const synth::night_event& star = first_of(t, synth::event_kind::star);
    const synth::night_event& sat = first_of(t, synth::event_kind::satellite);
    const synth::night_event& ray = first_of(t, synth::event_kind::cosmic_ray);
    const synth::night_event& hot = first_of(t, synth::event_kind::hot_pixel);
    const synth::event_frame& f0 = flash.frames.front();
    const synth::event_frame& s_mid = sat.frames[4];
    candidate track = at(sat.frames.front().x, sat.frames.front().y, sat.first_frame, "moving");
    track.last_frame = sat.last_frame;
    std::vector<candidate> cands = {
        at(f0.x, f0.y, f0.frame, "flash", 0.001),
        at(f0.x, f0.y, f0.frame + 20 < 40 ? f0.frame + 20 : f0.frame - 20, "flash", 0.5), // right place, wrong frame
        at(star.x + t.shift_x[7], star.y + t.shift_y[7], 7, "star"),
        at(s_mid.x, s_mid.y, s_mid.frame, "flash", 0.2), // a satellite's frame taken for a flash
        track,
        at(ray.frames.front().x, ray.frames.front().y, ray.first_frame, "cosmic_ray"),
        at(hot.x, hot.y, 3, "hot_pixel"),
        at(hot.x + 30, hot.y, 3, ""), // nothing there (unless another event is)
    };
    const auto m = match_candidates(t, cands);
    ASSERT_EQ(m.size(), cands.size());
    const auto kind = [&](std::size_t i) {
        return m[i] ? std::string(synth::event_kind_name(t.events[*m[i]].kind)) : std::string(no_event);
    };
    EXPECT_EQ(kind(0), "flash");
    EXPECT_EQ(kind(2), "star");
    EXPECT_EQ(kind(3), "satellite");
    EXPECT_EQ(kind(4), "satellite");
    EXPECT_EQ(kind(5), "cosmic_ray");
    EXPECT_EQ(kind(6), "hot_pixel");

    evaluation e;
    e.add("n", t, cands);
    EXPECT_EQ(e.table["flash"]["flash"], 1u);
    EXPECT_EQ(e.table["satellite"]["flash"], 1u);
    EXPECT_EQ(e.table["satellite"]["moving"], 1u);
    EXPECT_EQ(e.satellites, 1u);
    EXPECT_EQ(e.satellites_found, 1u);
    EXPECT_EQ(e.satellites_one_moving, 0u); // two candidates on it
    // The second flash had no candidate; the first was found.
    ASSERT_EQ(e.flashes, 2u);
    ASSERT_EQ(e.flashes_not_found_as_flash.size(), 1u);
    EXPECT_EQ(e.flashes_not_found_as_flash[0].found_as, "");
    EXPECT_GE(e.others_as_confident_flash, 1u);
    const std::string report = e.report();
    EXPECT_NE(report.find("Confusion table over 1 file"), std::string::npos);
    EXPECT_NE(report.find("no candidate"), std::string::npos);
}

TEST(VetEval, CalibrationCountsTheUnexplainedCandidatesAndReadsTheJson) {
    synth::night_params p = synth::noise_only_preset(5);
    p.file.width = 100;
    p.file.height = 80;
    p.file.frames = 10;
    synth::night_truth t;
    synth::make_night_bytes(p, &t);
    t.ser_file = "quiet.ser";

    const auto dir = std::filesystem::temp_directory_path() / ("serflash_vet_" + std::to_string(::getpid()));
    const auto results = dir / "Results_quiet_s45_9";
    std::filesystem::create_directories(results);
    nlohmann::json cands = nlohmann::json::array();
    const double noise[] = {0.05, 0.2, 0.5, 2.0, 5.0, 50.0};
    for (std::size_t i = 0; i < std::size(noise); ++i)
        cands.push_back({{"candidate", i + 1},
                         {"x", 20 + 10 * static_cast<int>(i)},
                         {"y", 40},
                         {"peak_frame", 3},
                         {"first_frame", 3},
                         {"last_frame", 3},
                         {"class", "flash"},
                         {"noise_expected", noise[i]}});
    cands.push_back({{"candidate", 7}, {"x", 5}, {"y", 5}, {"peak_frame", 1}}); // before classes were written
    std::ofstream(results / "quiet_candidates.json")
        << nlohmann::json{{"format", "serflash-candidates"}, {"candidates", cands}}.dump();

    std::string why;
    const auto path = find_candidates(dir.string(), t.ser_file, &why);
    ASSERT_TRUE(path) << why;
    const auto read = read_candidates(*path, &why);
    ASSERT_TRUE(read) << why;
    ASSERT_EQ(read->size(), 7u);
    EXPECT_EQ(read->back().cls, "unclassified");
    EXPECT_FALSE(read->back().noise_expected);

    evaluation e;
    e.add("quiet", t, *read);
    ASSERT_EQ(e.calibration.size(), 1u);
    const file_calibration& c = e.calibration[0];
    EXPECT_EQ(c.unexplained, 7u);
    EXPECT_EQ(c.without_noise_expected, 1u);
    const std::array<std::size_t, 5> expected = {1, 2, 3, 4, 5};
    EXPECT_EQ(c.at_most, expected);
    EXPECT_EQ(e.table[no_event]["flash"], 6u);
    EXPECT_NE(e.report().find("mean of 1 noise-only"), std::string::npos);

    std::filesystem::create_directories(dir / "Results_quiet_s50_9");
    std::ofstream(dir / "Results_quiet_s50_9" / "quiet_candidates.json") << "{}";
    EXPECT_FALSE(find_candidates(dir.string(), t.ser_file, &why));
    EXPECT_NE(why.find("several"), std::string::npos);
    EXPECT_FALSE(find_candidates(dir.string(), "other.ser", &why));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace serflash::vet_eval
