#include "detect/detector.h"
#include "detect/snapshots.h"
#include "detect/summary_file.h"
#include "memory_fs.h"
#include "memory_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace serflash::detect {
namespace {

using testing::memory_fs;
using testing::memory_scan;
using frames_t = std::vector<std::vector<std::uint16_t>>;

constexpr char summary_path[] = "R/s.txt";

// A state over the given frames, every mean `level`, every sigma `sigma`, all percentages 0
// (so flat neighbours pass), the summary and snapshots in memory.
struct detector_rig {
    memory_fs fs;
    memory_scan m;
    scan_run run;
    std::unique_ptr<summary_file> summary;
    std::unique_ptr<summary_sink> summary_writer;
    std::vector<std::pair<std::string, std::string>> messages;

    detector_rig(int w, int h, const frames_t& frames, double level = 100.0, double sigma = 10.0)
        : m(w, h, frames), run(m.ctx, fs) {
        fs.dirs.insert("R");
        std::fill(m.buf.mean_map.begin(), m.buf.mean_map.end(), level);
        std::fill(m.buf.sigma_map.begin(), m.buf.sigma_map.end(), sigma);
        auto& s = run.settings;
        s.pct_left = s.pct_right = s.pct_top = s.pct_bottom = 0;
        s.max_det_frames = 100;
        s.brightness = 1000;
        run.cursor.threshold = 60;
        m.ctx.result_dir = "R";
        m.ctx.hooks.message = [this](const engine_message& msg) {
            messages.emplace_back(std::string(caption_text(msg.caption)), msg.text);
        };
        EXPECT_TRUE(display::prep_for_display(m.buf.disp, w, h));
        summary = std::move(summary_file::open(fs, summary_path, platform::write_mode::truncate).value());
        summary_writer = std::make_unique<summary_sink>(*summary);
        run.sinks.push_back(summary_writer.get());
    }
    run_end detect(std::int32_t n) { return detect_in_packet(run, m.buf, n); }
    std::string text() {
        summary->close();
        return fs.text(summary_path);
    }
};

std::vector<std::uint16_t> flat_frame(int w, int h, std::uint16_t v = 100) {
    return std::vector<std::uint16_t>(static_cast<std::size_t>(w * h), v);
}

void put(std::vector<std::uint16_t>& f, int w, int row, int col, std::uint16_t v) {
    f[static_cast<std::size_t>(row * w + col)] = v;
}

std::string line(int no, int frame, int x, int y, int count, int avg, int sd) {
    return format_bounded(100, "\r\n%-10d%-10d%-10d%-10d%-10d%-10d%-10d", no, frame, x, y, count, avg, sd);
}

TEST(DetectInPacket, MainTestIsStrict) {
    frames_t f(2, flat_frame(40, 40));
    put(f[0], 40, 20, 21, 161);
    put(f[1], 40, 20, 21, 160); // 160 x 10 == 60 x 10 + 100 x 10
    detector_rig r(40, 40, f);
    EXPECT_EQ(r.detect(2), run_end::went_on);
    EXPECT_EQ(r.run.cursor.det_count, 1);
    EXPECT_EQ(r.run.cursor.det_frames, 1);
    EXPECT_EQ(r.run.cursor.cur_frame, 2);
    EXPECT_EQ(r.text(), line(1, 0, 21, 20, 161, 100, 10));
    EXPECT_EQ(r.fs.names_in("R"), (std::vector<std::string>{"0000_t60_000000.bmp", "s.txt"}));
}

TEST(DetectInPacket, NeighbourPercentagesInEachDirection) {
    // Centre excess 100; each neighbour must rise by its own percentage of it.
    const int w = 40;
    const int pct[4] = {10, 20, 30, 40}; // left, right, top, bottom
    const int offs[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
    frames_t f;
    for (int failing = -1; failing < 4; ++failing) {
        auto fr = flat_frame(w, w);
        put(fr, w, 20, 20, 200);
        for (int d = 0; d < 4; ++d)
            put(fr, w, 20 + offs[d][0], 20 + offs[d][1],
                static_cast<std::uint16_t>(100 + pct[d] - (d == failing ? 1 : 0)));
        f.push_back(fr);
    }
    auto below = flat_frame(w, w); // a neighbour under its own mean fails a positive percentage
    put(below, w, 20, 20, 200);
    for (int d = 0; d < 4; ++d) put(below, w, 20 + offs[d][0], 20 + offs[d][1], d == 0 ? 90 : 150);
    f.push_back(below);

    detector_rig r(w, w, f);
    auto& s = r.run.settings;
    s.pct_left = pct[0];
    s.pct_right = pct[1];
    s.pct_top = pct[2];
    s.pct_bottom = pct[3];
    r.detect(static_cast<std::int32_t>(f.size()));
    EXPECT_EQ(r.text(), line(1, 0, 20, 20, 200, 100, 10)); // only the frame where all four hold
}

TEST(DetectInPacket, NaNAndMaskedSigmaNeverDetect) {
    frames_t f(1, flat_frame(40, 40, 65535));
    detector_rig r(40, 40, f, 0.0, std::numeric_limits<double>::quiet_NaN());
    r.m.buf.sigma_map[static_cast<std::size_t>(20 * 40 + 20)] = mask_value;
    r.m.buf.mean_map[static_cast<std::size_t>(20 * 40 + 20)] = 0.0;
    r.run.cursor.threshold = 10;
    EXPECT_EQ(r.detect(1), run_end::went_on);
    EXPECT_EQ(r.run.cursor.det_count, 0);
    EXPECT_EQ(r.text(), "");
}

// A frame with detections at the given (row, col) pixels.
std::vector<std::uint16_t> hits(int w, const std::vector<std::pair<int, int>>& at) {
    auto fr = flat_frame(w, w);
    for (auto [row, col] : at) put(fr, w, row, col, 500);
    return fr;
}

TEST(DetectInPacket, ScatterRejectionOnlyBeyondTenDetections) {
    const int w = 64;
    std::vector<std::pair<int, int>> ten_far, span20, span21, cols15, cols16;
    for (int k = 0; k < 10; ++k) ten_far.emplace_back(10 + 4 * k, 10 + 4 * k); // rows 10..46
    for (int k = 0; k < 11; ++k) {
        span20.emplace_back(k == 10 ? 32 : 12 + k, 20);
        span21.emplace_back(k == 10 ? 33 : 12 + k, 20);
        cols15.emplace_back(20, 20 + (k == 10 ? 15 : k));
        cols16.emplace_back(20, 20 + (k == 10 ? 16 : k));
    }
    frames_t f = {hits(w, ten_far), hits(w, span20), hits(w, cols15), hits(w, span21), hits(w, ten_far)};
    f.push_back(hits(w, cols16));
    detector_rig r(w, w, f);
    r.run.settings.scatter_v = 20;
    r.run.settings.scatter_h = 15;
    EXPECT_EQ(r.detect(5), run_end::went_on);
    EXPECT_EQ(r.run.cursor.cur_frame, 3); // stops at the scattered frame
    EXPECT_EQ(r.run.cursor.det_frames, 3);
    EXPECT_EQ(r.run.cursor.det_count, 32);
    r.run.settings.scatter_v = 100;
    EXPECT_EQ(r.detect(3), run_end::went_on); // frame 3 is now accepted, frame 5 is not
    EXPECT_EQ(r.run.cursor.cur_frame, 5);
    EXPECT_EQ(r.run.cursor.det_count, 32 + 11 + 10);
    EXPECT_EQ(r.fs.names_in("R").size(), 6u); // five snapshots and the summary
}

TEST(DetectInPacket, CrowdedFrameKeepsTenLinesAndBoxesButCountsAll) {
    const int w = 48;
    std::vector<std::pair<int, int>> cluster;
    for (int row = 20; row <= 22; ++row)
        for (int col = 20; col <= 24; ++col) cluster.emplace_back(row, col);
    frames_t f = {hits(w, cluster), hits(w, {{30, 30}})};
    detector_rig r(w, w, f);
    r.run.cursor.det_count = 7;
    r.run.settings.max_det_frames = 1;
    EXPECT_EQ(r.detect(2), run_end::max_det_frames);
    EXPECT_EQ(r.run.cursor.det_count, 22);
    std::string expected;
    for (int k = 0; k < 10; ++k) expected += line(8 + k, 0, 20 + k % 5, 20 + k / 5, 500, 100, 10);
    EXPECT_EQ(r.text(), expected);

    const auto& px = r.m.buf.disp.disp_buf;
    const auto pixel = [&](int row, int col) {
        const auto at = static_cast<std::size_t>((row * w + col) * 4);
        return std::array<int, 4>{px[at], px[at + 1], px[at + 2], px[at + 3]};
    };
    const std::array<int, 4> box{0, 200, 255, 0};
    const std::array<int, 4> grey{100, 100, 100, 0};
    EXPECT_EQ(pixel(12, 12), box);  // top-left corner of the first box
    EXPECT_EQ(pixel(29, 32), box);  // bottom-right corner of the tenth box (21, 24)
    EXPECT_EQ(pixel(30, 20), grey); // bottom edge of the eleventh box: not drawn
    const std::array<int, 4> white{255, 255, 255, 0};
    EXPECT_EQ(pixel(20, 20), white); // inside: rendered
    EXPECT_EQ(pixel(18, 18), grey);
}

TEST(DetectInPacket, NumberingContinuesAfterUnlistedDetections) {
    const int w = 48;
    std::vector<std::pair<int, int>> cluster;
    for (int k = 0; k < 15; ++k) cluster.emplace_back(20, 15 + k);
    frames_t f = {hits(w, cluster), hits(w, {{30, 30}})};
    detector_rig r(w, w, f);
    r.detect(2);
    const std::string t = r.text();
    EXPECT_NE(t.find(line(16, 1, 30, 30, 500, 100, 10)), std::string::npos);
    EXPECT_EQ(t.find(line(11, 0, 25, 20, 500, 100, 10)), std::string::npos);
}

TEST(DetectInPacket, LimitReachedOnLastFrameKeepsThatFrame) {
    const int w = 40;
    frames_t f = {flat_frame(w, w), hits(w, {{20, 20}}), hits(w, {{21, 21}})};
    detector_rig r(w, w, f);
    r.run.settings.max_det_frames = 2;
    EXPECT_EQ(r.detect(3), run_end::max_det_frames);
    EXPECT_EQ(r.run.cursor.cur_frame, 2);
    EXPECT_EQ(r.run.cursor.det_frames, 2);

    detector_rig early(w, w, {hits(w, {{20, 20}}), hits(w, {{20, 20}}), hits(w, {{20, 20}})});
    early.run.settings.max_det_frames = 2;
    EXPECT_EQ(early.detect(3), run_end::max_det_frames);
    EXPECT_EQ(early.run.cursor.cur_frame, 1);
    EXPECT_EQ(early.fs.names_in("R"),
              (std::vector<std::string>{"0000_t60_000000.bmp", "0001_t60_000001.bmp", "s.txt"}));
}

TEST(DetectInPacket, NoFramesAndNoInnerArea) {
    const int w = 40;
    detector_rig r(w, w, {hits(w, {{20, 20}})});
    r.run.cursor.cur_frame = 0;
    EXPECT_EQ(r.detect(0), run_end::went_on);
    EXPECT_EQ(r.run.cursor.cur_frame, 0);
    EXPECT_EQ(r.detect(-3), run_end::went_on);
    EXPECT_EQ(r.run.cursor.det_count, 0);

    // 20 rows: nothing to examine, but the frame is read, rendered and passed.
    std::vector<std::uint16_t> thin(static_cast<std::size_t>(40 * 20), 9000);
    detector_rig t(40, 20, {thin, thin});
    EXPECT_EQ(t.detect(2), run_end::went_on);
    EXPECT_EQ(t.run.cursor.cur_frame, 2);
    EXPECT_EQ(t.run.cursor.det_count, 0);
    EXPECT_EQ(t.m.buf.disp.disp_buf[0], 255);
}

TEST(Snapshot, LayoutAndSize) {
    const int w = 40, h = 30;
    auto fr = std::vector<std::uint16_t>(static_cast<std::size_t>(w * h), 100);
    put(fr, w, 15, 20, 500);
    detector_rig r(w, h, {fr});
    r.run.cursor.cur_frame = 0;
    r.detect(1);
    const auto& b = r.fs.files.at("R/0000_t60_000000.bmp");
    ASSERT_EQ(b.size(), 54u + 4u * w * h);
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                          static_cast<std::uint32_t>(b[at + 3]) << 24);
    };
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(u32(2), 54u + 4u * w * h);
    EXPECT_EQ(u32(6), 0u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(static_cast<std::int32_t>(u32(18)), w);
    EXPECT_EQ(static_cast<std::int32_t>(u32(22)), -h);
    EXPECT_EQ(u32(34), 4u * w * h);
    // Top-down rows: the box's top edge (row 7) and the flash pixel itself.
    const auto at = [&](int row, int col) { return 54u + static_cast<std::size_t>((row * w + col) * 4); };
    EXPECT_EQ(b[at(7, 20)], 0);
    EXPECT_EQ(b[at(7, 20) + 1], 200);
    EXPECT_EQ(b[at(7, 20) + 2], 255);
    EXPECT_EQ(b[at(15, 20)], 255);
    EXPECT_EQ(b[at(0, 0)], 100);
    EXPECT_EQ(b[at(0, 0) + 3], 0);
}

TEST(Snapshot, Names) {
    EXPECT_EQ(snapshot_name("Results_m1", 0, 57, 1234), "Results_m1/0000_t57_001234.bmp");
    EXPECT_EQ(snapshot_name("d", 12345, 100, 1234567), "d/12345_t100_1234567.bmp");
    EXPECT_EQ(snapshot_name("d", 3, 5, 0), "d/0003_t05_000000.bmp");
}

TEST(Snapshot, FailureIsReportedOnceAndTheFrameStillCounts) {
    const int w = 40;
    detector_rig r(w, w, {hits(w, {{20, 20}}), hits(w, {{20, 20}})});
    r.fs.refuse_create = [](const std::string& p) { return p.size() > 4 && p.substr(p.size() - 4) == ".bmp"; };
    r.detect(2);
    EXPECT_EQ(r.run.cursor.det_frames, 2);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_NE(r.messages[0].second.find("R/0000_t60_000000.bmp"), std::string::npos);
    EXPECT_FALSE(r.run.outcome.problems.empty());
    EXPECT_EQ(r.text(), line(1, 0, 20, 20, 500, 100, 10) + line(2, 1, 20, 20, 500, 100, 10));
}

TEST(DetectInPacket, StopsAfterTheCurrentFrameWhenAsked) {
    const int w = 40;
    detector_rig r(w, w, {flat_frame(w, w), flat_frame(w, w), flat_frame(w, w)});
    int progress_calls = 0;
    r.m.ctx.hooks.progress = [&](const scan_progress&) { ++progress_calls; };
    r.m.ctx.hooks.stop_requested = [&] { return progress_calls >= 2; };
    EXPECT_EQ(r.detect(3), run_end::went_on);
    EXPECT_TRUE(r.run.outcome.stopped);
    EXPECT_EQ(r.run.cursor.cur_frame, 2);
    EXPECT_EQ(progress_calls, 2);
}

} // namespace
} // namespace serflash::detect
