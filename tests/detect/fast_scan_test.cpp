// The fast scan must leave exactly the results of the reference scan: the same summary bytes,
// the same snapshots and the same folder name, on files made to stress its shortcuts.
#include "bench/scan_once.h"
#include "detect/passes.h"
#include "detect/fast_scan.h"
#include "detect/memory_scan.h"
#include "platform/native_forwarding_fs.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace serflash::detect {
namespace {

namespace fs = std::filesystem;

class FastScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serflash_fast_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string make_file(const synth::params& p, const std::string& name = "clip") {
        const std::string path = (root_ / (name + ".ser")).string();
        const synth::result r = synth::write_ser(platform::native_file_system(), path, p);
        EXPECT_TRUE(r.ok) << r.error;
        return path;
    }

    scan_settings defaults_for(const std::string& path) {
        auto in = platform::native_file_system().open_read(path);
        ser::ser_reader reader(std::move(in.value()));
        reader.read_ser_header();
        return bench::default_settings(reader);
    }

    // Scans with the reference and with the fast scanner (each option set) and expects
    // byte-identical results trees and the same end state.
    void expect_same(const std::string& path, const scan_settings& s, mask_switches sw, std::int32_t shift = 0,
                     const std::vector<fast_scan_options>& variants = {fast_scan_options{}}) {
        bench::scan_job job;
        job.ser_path = path;
        job.settings = s;
        job.switches = sw;
        job.bit_shift = shift;
        job.swap_bytes = swap_bytes_;
        const fs::path ref_dir = root_ / ("ref" + std::to_string(runs_));
        fs::create_directories(ref_dir);
        job.results_parent = ref_dir.string();
        const bench::scan_result ref = bench::scan_once(job, run_scan);
        ASSERT_TRUE(ref.ran);
        ASSERT_FALSE(ref.report.outcome == file_outcome::failed) << ref.report.problem_text();
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const fs::path fast_dir = root_ / ("fast" + std::to_string(runs_) + "_" + std::to_string(v));
            fs::create_directories(fast_dir);
            job.results_parent = fast_dir.string();
            const bench::scan_result got = bench::scan_once(job, make_fast_scanner(variants[v]));
            ASSERT_TRUE(got.ran);
            EXPECT_EQ(got.report.final_threshold, ref.report.final_threshold) << "variant " << v;
            EXPECT_EQ(got.report.last_frame, ref.report.last_frame) << "variant " << v;
            EXPECT_EQ(got.report.det_frames, ref.report.det_frames) << "variant " << v;
            EXPECT_EQ(got.report.det_count, ref.report.det_count) << "variant " << v;
            EXPECT_EQ(got.report.raise_withheld, ref.report.raise_withheld) << "variant " << v;
            EXPECT_EQ(bench::compare_trees(ref_dir.string(), fast_dir.string()), "") << "variant " << v;
        }
        last_ref_ = bench::read_tree(ref_dir.string());
        ++runs_;
    }

    // Number of snapshots and of summary bytes of the last reference run (to check a case
    // really exercises something).
    std::size_t last_snapshots() const {
        std::size_t n = 0;
        for (const auto& [name, bytes] : last_ref_)
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) ++n;
        return n;
    }
    std::string last_summary() const {
        for (const auto& [name, bytes] : last_ref_)
            if (name.find("_summary.txt") != std::string::npos) return bytes;
        return {};
    }

    fs::path root_;
    bool swap_bytes_ = false; // of the files scanned next
    int runs_ = 0;
    std::map<std::string, std::string> last_ref_;
};

synth::params small_clip(std::int32_t depth, std::int32_t frames, std::uint64_t seed) {
    synth::params p = synth::default_params(depth);
    p.width = 90; // not a multiple of the 32 columns summed at a time
    p.height = 72;
    p.frames = frames;
    p.seed = seed;
    p.stars = 4;
    p.hot_pixels = 3;
    return p;
}

const std::vector<fast_scan_options> thread_variants = {
    {1, std::size_t{4} << 20}, // one thread
    {3, 1},                    // three workers, one frame per chunk
    {2, 20000},                // chunks of a few frames
};

TEST_F(FastScanTest, FlashesWithRemainderMasksOffAndOn16Bit) {
    synth::params p = small_clip(16, 230, 7);
    // Flashes of one to six frames: a pixel may pass in up to four frames of a packet before its
    // frames are all tested again.
    p.flashes = {{30, 30, 12, 700.0, 1},  {50, 40, 75, 500.0, 2},  {40, 20, 140, 900.0, 3},
                 {60, 50, 215, 400.0, 1}, {25, 45, 160, 900.0, 6}, {70, 25, 100, 900.0, 4}};
    const std::string path = make_file(p);
    scan_settings s = defaults_for(path);
    s.packet_size = 50; // four packets and a remainder of 30 frames
    s.max_det_frames = 40;
    expect_same(path, s, {}, 0, thread_variants);
    EXPECT_GT(last_snapshots(), 3U);
    expect_same(path, s, {true, true, true}, 0, thread_variants);
    EXPECT_GT(last_snapshots(), 0U);
    // In long packets a flash of several frames passes in each of them.
    s.packet_size = 200;
    expect_same(path, s, {}, 0, thread_variants);

    // One spot flashing four times in a packet, each time weaker: the weakest is in none of
    // the frames remembered for any pixel.
    synth::params q = small_clip(16, 200, 8);
    q.flashes = {{40, 30, 20, 1400.0, 1}, {40, 30, 60, 1300.0, 1}, {40, 30, 110, 1200.0, 1}, {40, 30, 170, 1100.0, 1}};
    const std::string again = make_file(q, "again");
    scan_settings a = defaults_for(again);
    a.max_det_frames = 20;
    expect_same(again, a, {});
    EXPECT_NE(last_summary().find("170       40        30"), std::string::npos);
}

TEST_F(FastScanTest, EightBitAndBitShift) {
    synth::params p8 = small_clip(8, 120, 11);
    p8.flashes = {{30, 30, 20, 80.0, 1}, {50, 35, 70, 60.0, 2}};
    const std::string path8 = make_file(p8, "eight");
    scan_settings s8 = defaults_for(path8);
    s8.packet_size = 40;
    expect_same(path8, s8, {});
    expect_same(path8, s8, {true, true, true}, 3); // no shift applies to 8-bit samples

    synth::params p16 = small_clip(16, 120, 12);
    p16.flashes = {{30, 30, 20, 800.0, 1}, {50, 35, 70, 600.0, 1}};
    const std::string path16 = make_file(p16, "shifted");
    scan_settings s16 = defaults_for(path16);
    s16.packet_size = 40;
    s16.blue_level = 30;
    s16.red_level = 240;
    expect_same(path16, s16, {true, true, true}, 4);
    EXPECT_GT(last_snapshots(), 0U);
}

TEST_F(FastScanTest, ScatteredFramesShiftThePackets) {
    // Bursts of scattered points in a whole packet, in the last whole packet and among the
    // remainder frames: each pass goes on from the withdrawn frame.
    for (const std::int32_t burst : {37, 118, 131}) {
        synth::params p = small_clip(16, 140, 20 + static_cast<std::uint64_t>(burst));
        p.burst_frame = burst;
        p.burst_points = 40;
        p.flashes = {{30, 30, 10, 700.0, 1}, {45, 40, burst + 3, 700.0, 1}, {60, 30, 128, 700.0, 1}};
        const std::string path = make_file(p, "burst" + std::to_string(burst));
        scan_settings s = defaults_for(path);
        s.packet_size = 30; // four packets and a remainder of 20
        s.max_det_frames = 30;
        expect_same(path, s, {}, 0, thread_variants);
        expect_same(path, s, {false, false, true});
    }
}

TEST_F(FastScanTest, LimitReachedMidPacketRaisesAndLowerPasses) {
    synth::params p = small_clip(16, 200, 31);
    for (int k = 0; k < 12; ++k)
        p.flashes.push_back({20 + 5 * k, 20 + 3 * (k % 5), 8 + 15 * k, 900.0 - 40.0 * k, 1 + k % 3});
    const std::string path = make_file(p);
    scan_settings s = defaults_for(path);
    s.packet_size = 60;
    for (const std::int32_t limit : {1, 3, 7}) {
        s.max_det_frames = limit;
        expect_same(path, s, {}, 0, thread_variants);
        if (limit == 1) {
            EXPECT_NE(last_summary().find("The threshold is increased"), std::string::npos);
        }
    }
    s.max_det_frames = 5;
    s.threshold = 52; // passes at 52, 49 and 46
    s.threshold_step = 3;
    expect_same(path, s, {true, false, false});
}

TEST_F(FastScanTest, StarsMaskedOnePacketLateAndManualRectangles) {
    synth::params p = small_clip(16, 160, 41);
    p.stars = 10;
    p.star_peak = 1500.0;
    p.star_flicker = 0.3;
    p.flashes = {{35, 35, 50, 900.0, 1}};
    const std::string path = make_file(p);
    scan_settings s = defaults_for(path);
    s.packet_size = 40;
    s.star_half_width = 3;
    s.star_mask_half = 4;
    expect_same(path, s, {false, false, true}, 0, thread_variants);
    s.mask_ul[1] = pack_point(20, 20);
    s.mask_lr[1] = pack_point(-5, 500);
    s.red_mask_half = 0;
    s.blue_mask_half = 200;
    expect_same(path, s, {true, true, true});
}

TEST_F(FastScanTest, SnapshotThatCannotBeWrittenIsReportedOnceAsByTheReference) {
    synth::params p = small_clip(16, 90, 61);
    p.flashes = {{30, 30, 10, 900.0, 1}, {50, 40, 40, 900.0, 1}, {40, 30, 70, 900.0, 1}};
    const std::string path = make_file(p);
    scan_settings s = defaults_for(path);
    s.packet_size = 30;
    s.max_det_frames = 20;
    bench::scan_job job;
    job.ser_path = path;
    job.settings = s;
    // The names of the first two snapshots.
    job.results_parent = (root_ / "probe").string();
    fs::create_directories(job.results_parent);
    const bench::scan_result probe = bench::scan_once(job, run_scan);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : bench::read_tree(job.results_parent))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0)
            names.push_back(fs::path(name).filename().string());
    ASSERT_GE(names.size(), 2U);
    std::vector<std::string> problems;
    std::vector<std::vector<std::string>> messages;
    // Two snapshots cannot be created (a scan never writes into a folder that holds files, so
    // nothing can be put in their way on disk).
    struct refusing_fs final : serflash::testing::native_forwarding_fs {
        std::vector<std::string> refused;
        platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string& p,
                                                                            platform::write_mode m) override {
            for (const std::string& name : refused)
                if (fs::path(p).filename() == name) return platform::status::failure("Is a directory");
            return native_forwarding_fs::open_write(p, m);
        }
    } refusing;
    refusing.refused = {names[0], names[1]};
    job.fs = &refusing;
    for (const bool fast : {false, true}) {
        const fs::path parent = root_ / (fast ? "fast" : "ref");
        fs::create_directories(parent);
        job.results_parent = parent.string();
        const bench::scan_result r =
            bench::scan_once(job, fast ? make_fast_scanner({2, 20000}) : file_scanner(run_scan));
        problems.push_back(r.report.problem_text());
        messages.push_back(r.messages);
        for (std::string& m : messages.back())
            for (std::size_t at; (at = m.find(parent.string())) != std::string::npos;)
                m.replace(at, parent.string().size(), "DIR");
    }
    ASSERT_EQ(messages[0].size(), 2U); // one message for the file, naming the first failure
    EXPECT_NE(messages[0][1].find(names[0]), std::string::npos);
    EXPECT_EQ(messages[1], messages[0]);
    EXPECT_NE(problems[0].find("snapshots could not be written"), std::string::npos);
    EXPECT_EQ(problems[1], problems[0]);
    EXPECT_EQ(bench::compare_trees((root_ / "ref").string(), (root_ / "fast").string()), "");
}

TEST_F(FastScanTest, StopEndsTheScanWithItsClosingBlockAndFolderName) {
    synth::params p = small_clip(16, 120, 71);
    p.flashes = {{30, 30, 10, 900.0, 1}, {50, 40, 100, 900.0, 1}};
    const std::string path = make_file(p);
    bench::scan_job job;
    job.ser_path = path;
    job.settings = defaults_for(path);
    job.settings.packet_size = 30;
    job.results_parent = root_.string();
    int asked = 0;
    job.stop_requested = [&asked] { return ++asked > 1; };
    const bench::scan_result r = bench::scan_once(job, make_fast_scanner({2, 20000}));
    EXPECT_TRUE(r.report.outcome == file_outcome::stopped);
    EXPECT_LT(r.report.last_frame, 120);
    EXPECT_EQ(r.report.final_threshold, 60); // the first pass
    const std::string folder = "Results_clip_s60_" + std::to_string(r.report.last_frame);
    EXPECT_EQ(r.report.result_dir, (root_ / folder).string());
    const auto tree = bench::read_tree((root_ / folder).string());
    ASSERT_EQ(tree.count("clip_summary.txt"), 1U);
    const std::string& summary = tree.at("clip_summary.txt");
    EXPECT_NE(summary.find("Number of detections = "), std::string::npos);
    EXPECT_EQ(summary.find("Threshold: 57"), std::string::npos);
}

TEST_F(FastScanTest, PacketsOfOneAndTwoFramesAndFramesTooSmallToExamine) {
    synth::params p = small_clip(16, 12, 51);
    p.flashes = {{30, 30, 5, 900.0, 1}};
    const std::string path = make_file(p);
    scan_settings s = defaults_for(path);
    s.packet_size = 1; // every sigma is NaN: nothing is found
    expect_same(path, s, {});
    s.packet_size = 2;
    expect_same(path, s, {true, true, true});

    synth::params tiny = small_clip(16, 30, 52);
    tiny.width = 20;
    tiny.height = 40;
    tiny.stars = 0;
    tiny.hot_pixels = 0;
    const std::string tiny_path = make_file(tiny, "tiny");
    scan_settings t = defaults_for(tiny_path);
    t.packet_size = 10;
    expect_same(tiny_path, t, {true, true, true});

    tiny.width = 30;
    tiny.height = 5;
    const std::string flat_path = make_file(tiny, "flat");
    scan_settings f = defaults_for(flat_path);
    f.packet_size = 7;
    expect_same(flat_path, f, {true, true, true});
}

TEST_F(FastScanTest, ColourAndByteSwappedFilesTakeTheFastScanWithTheReferenceResults) {
    struct layout {
        std::int32_t depth, color_id;
        bool swap;
        std::int32_t shift;
    };
    for (const layout& l : {layout{16, ser::color_rgb, false, 0}, layout{8, ser::color_bgr, false, 0},
                            layout{16, ser::color_bgr, true, 3}, layout{16, 0, true, 0}, layout{16, 0, true, 2}}) {
        synth::params p = small_clip(l.depth, 100, 60 + static_cast<std::uint64_t>(runs_));
        p.color_id = l.color_id;
        p.swap_bytes = l.swap;
        const double amp = l.depth == 8 ? 80.0 : 900.0;
        p.flashes = {{30, 30, 12, amp, 1}, {55, 40, 61, amp * 0.7, 2}};
        const std::string path = make_file(p, "layout" + std::to_string(runs_));
        scan_settings s = defaults_for(path);
        s.packet_size = 30;
        {
            auto in = platform::native_file_system().open_read(path);
            ser::ser_reader reader(std::move(in.value()));
            reader.read_ser_header();
            EXPECT_TRUE(fast_scan_applies(reader, s));
        }
        swap_bytes_ = l.swap;
        expect_same(path, s, {}, l.shift, thread_variants);
        EXPECT_GT(last_snapshots(), 0U) << l.depth << " " << l.color_id << " " << l.swap;
        expect_same(path, s, {true, true, true}, l.shift);
    }
}

} // namespace
} // namespace serflash::detect
