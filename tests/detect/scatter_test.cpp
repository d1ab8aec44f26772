// A frame full of scattered points (a cloud edge, wind shake, a cosmic-ray shower): by default
// each pass is held there; with continue_after_scatter the passes go on past it.
#include "bench/scan_once.h"
#include "detect/fast_scan.h"
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
    }
    void TearDown() override { fs::remove_all(root_); }

    bench::scan_result scan(bool go_on, bool fast, const std::string& where) {
        bench::scan_job job;
        job.ser_path = path_;
        auto in = platform::native_file_system().open_read(path_);
        ser::ser_reader reader(std::move(in));
        reader.read_ser_header();
        job.settings = bench::default_settings(reader);
        job.settings.packet_size = 100;
        job.settings.max_det_frames = 1000; // no pass ends on the limit
        job.settings.continue_after_scatter = go_on;
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
    std::string path_;
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

} // namespace
} // namespace serflash::detect
