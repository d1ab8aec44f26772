// A frame full of scattered points (a cloud edge, wind shake, a cosmic-ray shower): by default
// each pass is held there; with continue_after_scatter the passes go on past it.
#include "bench/scan_once.h"
#include "detect/fast_scan.h"
#include "detect/frame_hits.h"
#include "detect/passes.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace serflash::detect {
namespace {

namespace fs = std::filesystem;

class ScatterTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serflash_scatter_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        synth::params p = synth::default_params(16);
        p.width = 96;
        p.height = 72;
        p.frames = 300;
        p.seed = 2026;
        p.stars = 3;
        p.flashes = {{30, 30, 40, 700.0, 1}, {60, 40, 290, 700.0, 1}};
        p.burst_frame = 280;
        path_ = (root_ / "night.ser").string();
        EXPECT_TRUE(synth::write_ser(platform::native_file_system(), path_, p).ok);
        // The same night with a shower of faint points (about 6 sigma each) in frame 280, and in it
        // a flash (a single frame scores about 10 sigma against its 100-frame packet).
        p.burst_amplitude = 170.0;
        p.flashes.push_back({50, 25, 280, 3000.0, 1});
        faint_path_ = (root_ / "faint.ser").string();
        EXPECT_TRUE(synth::write_ser(platform::native_file_system(), faint_path_, p).ok);
    }
    void TearDown() override { fs::remove_all(root_); }

    bench::scan_result scan(bool go_on, bool fast, const std::string& where, bool complete = false) {
        return scan_file(path_, go_on, fast, where, complete);
    }
    bench::scan_result scan_file(const std::string& path, bool go_on, bool fast, const std::string& where,
                                 bool complete) {
        bench::scan_job job;
        job.ser_path = path;
        auto in = platform::native_file_system().open_read(path);
        ser::ser_reader reader(std::move(in.value()));
        reader.read_ser_header();
        job.settings = bench::default_settings(reader);
        job.settings.packet_size = 100;
        job.settings.max_det_frames = 1000; // no pass ends on the limit
        job.settings.continue_after_scatter = go_on;
        job.settings.complete = complete;
        job.results_parent = (root_ / where).string();
        fs::create_directories(job.results_parent);
        return bench::scan_once(job, fast ? make_fast_scanner({2, 1 << 20, 1 << 16}) : file_scanner(run_scan));
    }

    static bool saved(const file_report& r, std::int32_t frame) {
        for (const saved_frame& f : r.frames)
            if (f.frame == frame) return true;
        return false;
    }

    fs::path root_;
    std::string path_, faint_path_;
};

TEST_F(ScatterTest, ByDefaultEveryPassIsHeldAtTheScatteredFrame) {
    const bench::scan_result r = scan(false, false, "ref");
    ASSERT_FALSE(r.report.passes.empty());
    for (const pass_report& p : r.report.passes) {
        EXPECT_EQ(p.end, pass_end::scattered) << p.threshold;
        EXPECT_EQ(p.frame_reached, 280) << p.threshold;
    }
    EXPECT_TRUE(saved(r.report, 40));
    EXPECT_FALSE(saved(r.report, 290)); // never examined
    ASSERT_FALSE(r.report.scattered.empty());
    EXPECT_EQ(r.report.scattered.front().frame, 280);
    EXPECT_GT(r.report.scattered.front().points, 10);
}

TEST_F(ScatterTest, GoingOnExaminesTheFramesAfterIt) {
    const bench::scan_result r = scan(true, false, "ref");
    ASSERT_FALSE(r.report.passes.empty());
    for (const pass_report& p : r.report.passes) {
        EXPECT_EQ(p.end, pass_end::end_of_range) << p.threshold;
        EXPECT_EQ(p.frame_reached, 300) << p.threshold;
    }
    EXPECT_TRUE(saved(r.report, 40));
    EXPECT_TRUE(saved(r.report, 290));
    EXPECT_FALSE(saved(r.report, 280));
    const auto tree = bench::read_tree(r.report.result_dir);
    EXPECT_NE(tree.at("night_summary.txt").find("Continue after a scattered frame ON"), std::string::npos);
}

TEST_F(ScatterTest, BothScannersAgreeInBothModes) {
    for (const bool go_on : {false, true}) {
        const std::string tag = go_on ? "on" : "off";
        const bench::scan_result ref = scan(go_on, false, "ref_" + tag);
        const bench::scan_result fast = scan(go_on, true, "fast_" + tag);
        EXPECT_EQ(bench::compare_trees((root_ / ("ref_" + tag)).string(), (root_ / ("fast_" + tag)).string()), "")
            << tag;
        ASSERT_EQ(fast.report.passes.size(), ref.report.passes.size()) << tag;
        for (std::size_t k = 0; k < ref.report.passes.size(); ++k) {
            EXPECT_EQ(fast.report.passes[k].end, ref.report.passes[k].end) << tag << " pass " << k;
            EXPECT_EQ(fast.report.passes[k].frame_reached, ref.report.passes[k].frame_reached) << tag;
        }
        ASSERT_EQ(fast.report.scattered.size(), ref.report.scattered.size()) << tag;
        ASSERT_EQ(fast.report.frames.size(), ref.report.frames.size()) << tag;
        for (std::size_t k = 0; k < ref.report.frames.size(); ++k)
            EXPECT_EQ(fast.report.frames[k].packet_first_frame, ref.report.frames[k].packet_first_frame) << tag;
    }
}

TEST_F(ScatterTest, EveryFrameExaminedKeepsWhatStandsAboveTheScatter) {
    const bench::scan_result ref = scan_file(faint_path_, false, false, "ref_complete", true);
    const bench::scan_result fast = scan_file(faint_path_, false, true, "fast_complete", true);
    EXPECT_EQ(bench::compare_trees((root_ / "ref_complete").string(), (root_ / "fast_complete").string()), "");
    // The pass over every frame saves frame 280 with the flash alone, at a threshold raised until
    // its detections no longer scatter and the flash stands well above the shower.
    const saved_frame* kept = nullptr;
    for (const saved_frame& f : ref.report.frames)
        if (f.frame == 280) kept = &f;
    ASSERT_NE(kept, nullptr);
    ASSERT_EQ(kept->detection_count, 1);
    EXPECT_EQ(kept->detections[0].x, 50);
    EXPECT_EQ(kept->detections[0].y, 25);
    EXPECT_GT(kept->threshold, 45);
    EXPECT_EQ((kept->threshold - 45) % scan_settings{}.threshold_step, 0) << "raised by whole steps";
    for (const scattered_frame& s : ref.report.scattered) EXPECT_FALSE(s.every_frame && s.frame == 280);
    EXPECT_TRUE(saved(ref.report, 290));
    // A shower of equal points thins out gradually: nothing of it is kept.
    const bench::scan_result shower = scan(false, false, "shower", true);
    for (const saved_frame& f : shower.report.frames) EXPECT_NE(f.frame, 280);
}

TEST(ThresholdAboveScatter, TheLowestWholeStepAtWhichTheRestNoLongerScatter) {
    scan_settings cfg;
    cfg.threshold_step = 5;
    cfg.scatter_h = cfg.scatter_v = 20;
    std::vector<ranked_hit> hits;
    for (std::int32_t k = 0; k < 12; ++k) hits.push_back({10 + 10 * k, 10 + 10 * k, 50 + k}); // spread
    // 12 spread hits with tops 50..61 thin out gradually: none stands out.
    EXPECT_EQ(threshold_above_scatter(hits, 45, cfg), 0);
    // One far above them does, once the raised threshold has left all of them out.
    hits.push_back({5, 300, 90});
    EXPECT_EQ(threshold_above_scatter(hits, 45, cfg), 65);
    hits.back().top_threshold = 80; // 19 tenths above the strongest of the rest
    EXPECT_EQ(threshold_above_scatter(hits, 45, cfg), 0);
    // Hits that pass at every threshold cannot be thinned out.
    std::vector<ranked_hit> recurring(11, ranked_hit{0, 0, std::numeric_limits<std::int32_t>::max()});
    for (std::int32_t k = 0; k < 11; ++k) recurring[static_cast<std::size_t>(k)].row = 30 * k;
    EXPECT_EQ(threshold_above_scatter(recurring, 45, cfg), 0);
    // Eleven close together do not scatter once the spread one falls out.
    std::vector<ranked_hit> close(11, ranked_hit{5, 5, 300});
    close.push_back({200, 200, 47});
    EXPECT_EQ(threshold_above_scatter(close, 45, cfg), 50);
    cfg.threshold_step = 3; // whole steps from the pass's threshold: 48 is the first above 47
    EXPECT_EQ(threshold_above_scatter(close, 45, cfg), 48);
    cfg.threshold_step = 0;
    EXPECT_EQ(threshold_above_scatter(hits, 45, cfg), 0);
}

} // namespace
} // namespace serflash::detect
