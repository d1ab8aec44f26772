// Random files and random settings: the fast scan must leave exactly the results of the
// straightforward scan. Each case is fixed by its seed, so a failure names a case to replay.
#include "bench/scan_once.h"
#include "detect/passes.h"
#include "detect/fast_scan.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <thread>
#include <unistd.h>

namespace serflash::detect {
namespace {

namespace fs = std::filesystem;

struct random_case {
    synth::params clip;
    scan_settings settings;
    mask_switches switches;
    std::int32_t bit_shift = 0;
    fast_scan_options options;
};

random_case make_case(std::uint32_t seed) {
    std::mt19937 rng(seed);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const auto chance = [&](int percent) { return pick(1, 100) <= percent; };

    random_case c;
    const int depth = chance(30) ? 8 : 16;
    synth::params& p = c.clip;
    p = synth::default_params(depth);
    p.seed = seed;
    p.width = pick(21, 80);
    p.height = pick(21, 60);
    p.frames = pick(8, 120);
    p.stars = pick(0, 4);
    p.hot_pixels = pick(0, 3);
    if (chance(20)) p.noise = 0.0; // flat pixels: standard deviations of exactly 0
    if (chance(20)) p.shot_noise = 0.0;
    if (chance(40)) p.bright_region = false;
    if (chance(40)) p.dark_region = false;
    for (int k = pick(1, 6); k > 0; --k)
        p.flashes.push_back({pick(8, p.width - 9), pick(8, p.height - 9), pick(0, p.frames - 1),
                             static_cast<double>(depth == 8 ? pick(10, 120) : pick(100, 3000)), pick(1, 2)});
    if (chance(30)) p.burst_frame = pick(0, p.frames - 1);
    p.burst_points = pick(12, 60);

    scan_settings& s = c.settings;
    // A pixel's excess within its own packet is at most (n - 1) / sqrt(n) deviations: packets
    // of fewer than 23 frames find nothing but in the remainder, so most cases use longer ones.
    s.packet_size = p.frames >= 25 && chance(75) ? pick(23, std::min(p.frames, 80)) : pick(1, p.frames);
    s.start_frame = pick(0, p.frames - s.packet_size);
    s.end_frame = pick(s.start_frame + s.packet_size - 1, p.frames - 1);
    s.max_det_frames = chance(10) ? 0 : (chance(50) ? pick(1, 2) : pick(3, 12));
    s.blue_level = depth == 8 ? pick(0, 40) : pick(0, 900);
    s.red_level = depth == 8 ? pick(100, 255) : pick(1500, 4200);
    s.brightness = pick(1, 2000);
    s.threshold = chance(50) ? pick(40, 60) : pick(30, 90);
    s.threshold_step = pick(1, 7);
    s.pct_top = pick(-20, 60);
    s.pct_bottom = pick(-20, 60);
    s.pct_left = pick(-20, 60);
    s.pct_right = pick(-20, 60);
    for (std::size_t k = 0; k < 4; ++k) {
        if (!chance(30)) continue;
        s.mask_ul[k] = pack_point(pick(-5, p.width + 5), pick(-5, p.height + 5));
        s.mask_lr[k] = pack_point(pick(-5, p.width + 5), pick(-5, p.height + 5));
    }
    s.red_mask_half = pick(-1, 6);
    s.blue_mask_half = pick(-1, 6);
    s.star_mask_half = pick(-1, 6);
    s.star_half_width = pick(0, 5);
    s.star_threshold = pick(0, 60);
    s.scatter_v = pick(0, 30);
    s.scatter_h = pick(0, 60);
    c.switches = {chance(50), chance(50), chance(50)};
    c.bit_shift = depth == 16 && chance(40) ? pick(0, 6) : 0;
    c.options.threads = static_cast<unsigned>(pick(1, 3));
    c.options.chunk_bytes = static_cast<std::size_t>(pick(1, 40000));
    c.options.band_bytes = chance(50) ? 0 : static_cast<std::size_t>(pick(1, 20000));
    s.continue_after_scatter = chance(35); // drawn last: the cases before it stay as they were
    s.complete = chance(35);
    s.complete_threshold = chance(50) ? lowest_threshold : pick(lowest_threshold, 70);
    return c;
}

// The thread counts every case runs at: one, an even and an odd split, more threads than bands.
constexpr unsigned thread_counts[] = {1, 2, 3, 7};

TEST(FastScanRandom, SameResultsAsTheStraightforwardScanAtEveryThreadCount) {
    const fs::path root = fs::temp_directory_path() / ("serflash_random_" + std::to_string(::getpid()));
    fs::remove_all(root);
    constexpr std::uint32_t cases = 300;
    int with_snapshots = 0;
    int raised = 0;
    int every_frame = 0;
    for (std::uint32_t seed = 1; seed <= cases; ++seed) {
        SCOPED_TRACE("case seed " + std::to_string(seed));
        const random_case c = make_case(seed);
        const fs::path dir = root / std::to_string(seed);
        fs::create_directories(dir / "ref");
        const std::string path = (dir / "clip.ser").string();
        const synth::result made = synth::write_ser(platform::native_file_system(), path, c.clip);
        ASSERT_TRUE(made.ok) << made.error;

        bench::scan_job job;
        job.ser_path = path;
        job.settings = c.settings;
        job.switches = c.switches;
        job.bit_shift = c.bit_shift;
        job.results_parent = (dir / "ref").string();
        const bench::scan_result ref = bench::scan_once(job, run_scan);
        ASSERT_TRUE(ref.ran);
        for (const unsigned threads : thread_counts) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            const fs::path fast = dir / ("fast" + std::to_string(threads));
            fs::create_directories(fast);
            job.results_parent = fast.string();
            fast_scan_options options = c.options;
            options.threads = threads;
            const bench::scan_result got = bench::scan_once(job, make_fast_scanner(options));
            ASSERT_TRUE(got.ran);
            EXPECT_EQ(got.report.final_threshold, ref.report.final_threshold);
            EXPECT_EQ(got.report.last_frame, ref.report.last_frame);
            EXPECT_EQ(got.messages, ref.messages);
            EXPECT_EQ(bench::compare_trees((dir / "ref").string(), fast.string()), "");
        }

        const auto tree = bench::read_tree((dir / "ref").string());
        for (const auto& [name, bytes] : tree)
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) {
                ++with_snapshots;
                break;
            }
        for (const auto& [name, bytes] : tree)
            if (bytes.find("The threshold is increased") != std::string::npos) ++raised;
        for (const auto& [name, bytes] : tree)
            if (bytes.find("Every frame examined: ") != std::string::npos) ++every_frame;
    }
    fs::remove_all(root);
    // The cases must reach the paths that matter, or the comparison proves little.
    EXPECT_GE(with_snapshots, static_cast<int>(cases / 5));
    EXPECT_GE(raised, static_cast<int>(cases / 20));
    EXPECT_GE(every_frame, static_cast<int>(cases / 5));
    std::printf("%u cases: %d with snapshots, %d with raises, %d with the pass over every frame\n", cases,
                with_snapshots, raised, every_frame);
}

class ThreadedScan : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serflash_threads_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // 200 x 160: with small bands every thread sums several bands of each packet.
    std::string make_clip(std::int32_t burst_frame, std::int32_t frames) {
        synth::params p = synth::default_params(16);
        p.width = 200;
        p.height = 160;
        p.frames = frames;
        p.seed = 77;
        p.flashes = {{40, 30, 20, 900.0, 1}, {150, 130, 60, 900.0, 1}, {100, 80, 130, 800.0, 2}};
        p.burst_frame = burst_frame;
        p.burst_points = 40;
        const std::string path = (root_ / "clip.ser").string();
        EXPECT_TRUE(synth::write_ser(platform::native_file_system(), path, p).ok);
        return path;
    }
    bench::scan_job job_for(const std::string& path, const std::string& where) {
        bench::scan_job job;
        job.ser_path = path;
        auto in = platform::native_file_system().open_read(path);
        ser::ser_reader reader(std::move(in.value()));
        reader.read_ser_header();
        job.settings = bench::default_settings(reader);
        job.settings.packet_size = 50;
        job.settings.max_det_frames = 100;
        job.results_parent = (root_ / where).string();
        fs::create_directories(job.results_parent);
        return job;
    }

    fs::path root_;
};

// A frame of points scattered over every row: its detections come from the bands of all the
// threads, and the frame must be withdrawn (or passed over) exactly as in the reference scan.
TEST_F(ThreadedScan, ScatteredFrameAcrossTheBandsOfAllThreads) {
    const std::string path = make_clip(90, 200);
    for (const bool go_on : {false, true}) {
        SCOPED_TRACE(go_on ? "passes go on past the frame" : "passes held at the frame");
        const std::string ref_dir = go_on ? "ref_on" : "ref";
        bench::scan_job job = job_for(path, ref_dir);
        job.settings.continue_after_scatter = go_on;
        const bench::scan_result ref = bench::scan_once(job, run_scan);
        ASSERT_FALSE(ref.report.scattered.empty()) << "the clip must hold a scattered frame";
        for (const unsigned threads : thread_counts) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            const std::string where = ref_dir + "_" + std::to_string(threads);
            bench::scan_job j = job_for(path, where);
            j.settings.continue_after_scatter = go_on;
            // Bands of a few rows: 160 rows make tens of bands, shared among the threads.
            const bench::scan_result got = bench::scan_once(j, make_fast_scanner({threads, 1 << 16, 40000}));
            EXPECT_EQ(bench::compare_trees((root_ / ref_dir).string(), (root_ / where).string()), "");
            ASSERT_EQ(got.report.scattered.size(), ref.report.scattered.size());
            for (std::size_t k = 0; k < ref.report.scattered.size(); ++k) {
                EXPECT_EQ(got.report.scattered[k].frame, ref.report.scattered[k].frame);
                EXPECT_EQ(got.report.scattered[k].row_span, ref.report.scattered[k].row_span);
            }
        }
    }
}

// The pass over every frame, after passes that end at Max on the first flash: it reaches the
// flashes after that frame and passes over the scattered frame. Without it the results are what
// they were; with it the summary gains its header line and its block and nothing else changes.
// Both scanners give the same bytes at every thread count.
TEST_F(ThreadedScan, EveryFrameExaminedAfterThePasses) {
    const std::string path = make_clip(90, 200);
    bench::scan_job off = job_for(path, "off");
    off.settings.max_det_frames = 1;
    const bench::scan_result plain = bench::scan_once(off, run_scan);
    ASSERT_EQ(plain.report.passes.back().end, pass_end::max_det_frames);
    EXPECT_LT(plain.report.passes.back().frame_reached, 130);

    bench::scan_job on = job_for(path, "on");
    on.settings = off.settings;
    on.settings.complete = true;
    const bench::scan_result ref = bench::scan_once(on, run_scan);
    ASSERT_FALSE(ref.report.passes.empty());
    const pass_report& every = ref.report.passes.back();
    EXPECT_TRUE(every.complete);
    EXPECT_EQ(every.threshold, lowest_threshold);
    EXPECT_EQ(every.end, pass_end::end_of_range);
    EXPECT_EQ(ref.report.final_threshold, plain.report.final_threshold);
    EXPECT_EQ(ref.report.last_frame, plain.report.last_frame);
    EXPECT_EQ(ref.report.det_frames, plain.report.det_frames);
    std::set<std::int32_t> found;
    for (const saved_frame& f : ref.report.frames)
        if (f.threshold == lowest_threshold) found.insert(f.frame);
    for (const std::int32_t flash : {20, 60, 130}) EXPECT_EQ(found.count(flash), 1U) << "frame " << flash;
    bool passed_over = false; // and frame 130 found after it
    for (const scattered_frame& f : ref.report.scattered)
        passed_over = passed_over || (f.frame == 90 && f.threshold == lowest_threshold);
    EXPECT_TRUE(passed_over);

    const auto before = bench::read_tree((root_ / "off").string());
    const auto after = bench::read_tree((root_ / "on").string());
    std::size_t snapshots_added = 0;
    for (const auto& [name, bytes] : after) {
        const auto it = before.find(name);
        if (name.find("_summary.txt") == std::string::npos) {
            if (it == before.end())
                ++snapshots_added;
            else
                EXPECT_EQ(bytes, it->second) << name;
            continue;
        }
        ASSERT_NE(it, before.end()) << name << " is named as without the pass over every frame";
        EXPECT_EQ(it->second.find("Every frame examined"), std::string::npos);
        // The summary's line ends as the system writes them (CR LF).
        const std::string nl = bytes.find("\r\n") != std::string::npos ? "\r\n" : "\n";
        std::string without = bytes;
        const std::string line = "Every frame examined ON at 45sigma after the passes" + nl;
        const std::size_t at = without.find(line);
        ASSERT_NE(at, std::string::npos);
        without.erase(at, line.size());
        const std::size_t from = without.find(nl + "------------Every frame examined---");
        const std::string end_text = "Every frame examined: frames with detections = ";
        const std::size_t to = without.find('\n', without.find(end_text));
        ASSERT_NE(from, std::string::npos);
        ASSERT_NE(to, std::string::npos);
        without.erase(from, to + 1 - from);
        EXPECT_EQ(without, it->second);
    }
    EXPECT_EQ(snapshots_added, static_cast<std::size_t>(every.saved_frames));
    for (const auto& [name, bytes] : before) EXPECT_EQ(after.count(name), 1U) << name;

    for (const unsigned threads : thread_counts) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const std::string where = "on_" + std::to_string(threads);
        bench::scan_job j = job_for(path, where);
        j.settings = on.settings;
        const bench::scan_result got = bench::scan_once(j, make_fast_scanner({threads, 1 << 16, 40000}));
        EXPECT_EQ(got.messages, ref.messages);
        EXPECT_EQ(bench::compare_trees((root_ / "on").string(), (root_ / where).string()), "");
    }
}

// The stop button pressed while the workers sum a packet: the scan ends at a packet's end with
// its summary closed, and where it ends does not depend on the number of threads.
TEST_F(ThreadedScan, StopWhileThreadsRun) {
    const std::string path = make_clip(-1, 400);
    std::string first;
    for (const unsigned threads : {1U, 7U}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const std::string where = "stop" + std::to_string(threads);
        bench::scan_job job = job_for(path, where);
        int asked = 0;
        job.stop_requested = [&asked] { return ++asked >= 3; }; // asked between packets
        const bench::scan_result got = bench::scan_once(job, make_fast_scanner({threads, 1 << 16, 40000}));
        EXPECT_EQ(got.report.outcome, file_outcome::stopped);
        EXPECT_LT(got.report.last_frame, 399);
        const auto tree = bench::read_tree((root_ / where).string());
        bool closed = false;
        for (const auto& [name, bytes] : tree)
            if (name.find("_summary.txt") != std::string::npos)
                closed = bytes.find("Number of detections =") != std::string::npos;
        EXPECT_TRUE(closed);
        if (threads == 1)
            first = where;
        else
            EXPECT_EQ(bench::compare_trees((root_ / first).string(), (root_ / where).string()), "");
    }
    // A stop from another thread at any moment: the scan still ends, its summary closed.
    std::atomic<bool> stop{false};
    bench::scan_job job = job_for(path, "async");
    job.stop_requested = [&stop] { return stop.load(); };
    std::thread button([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
    });
    const bench::scan_result got = bench::scan_once(job, make_fast_scanner({7, 1 << 16, 40000}));
    button.join();
    EXPECT_TRUE(got.report.outcome == file_outcome::stopped || got.report.outcome == file_outcome::scanned);
    bool closed = false;
    for (const auto& [name, bytes] : bench::read_tree((root_ / "async").string()))
        if (name.find("_summary.txt") != std::string::npos)
            closed = bytes.find("Number of detections =") != std::string::npos;
    EXPECT_TRUE(closed);
}

} // namespace
} // namespace serflash::detect
