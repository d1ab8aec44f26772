#include "detect/batch.h"
#include "detect/passes.h"
#include "detect/summary_file.h"
#include "memory_fs.h"
#include "memory_scan.h"

#include <gtest/gtest.h>

namespace serflash::detect {
namespace {

using testing::memory_fs;
using testing::memory_scan;
using frames_t = std::vector<std::vector<std::uint16_t>>;

constexpr int W = 32;
constexpr char dir[] = "Results_t";
constexpr char summary_path[] = "Results_t/t_summary.txt";

frames_t flat_frames(int n, int w = W, std::uint16_t v = 1000) {
    return frames_t(static_cast<std::size_t>(n), std::vector<std::uint16_t>(static_cast<std::size_t>(w * w), v));
}

// A plus-shaped brightening (centre and its four neighbours) of `rise` in one frame.
void plus(frames_t& f, int frame, int row, int col, int rise, int w = W) {
    auto& fr = f[static_cast<std::size_t>(frame)];
    const int at[5][2] = {{0, 0}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}};
    for (const auto& d : at) {
        auto& s = fr[static_cast<std::size_t>((row + d[0]) * w + col + d[1])];
        s = static_cast<std::uint16_t>(s + rise);
    }
}

struct pass_rig {
    memory_fs fs;
    memory_scan m;
    std::vector<std::int32_t> shown;
    std::vector<std::pair<std::string, std::string>> messages;

    pass_rig(const frames_t& frames, int packet, int max_det, int init = 60, int w = W) : m(w, w, frames) {
        fs.dirs.insert(dir);
        fs.files[summary_path];
        auto& s = m.ctx.settings;
        s.start_frame = 0;
        s.end_frame = static_cast<std::int32_t>(frames.size()) - 1;
        s.packet_size = packet;
        s.max_det_frames = max_det;
        s.threshold = init;
        s.threshold_step = 3;
        s.brightness = 1000;
        m.ctx.fs = &fs;
        m.ctx.result_dir = dir;
        m.ctx.summary_path = summary_path;
        m.ctx.hooks.threshold_shown = [this](std::int32_t t) { shown.push_back(t); };
        m.ctx.hooks.message = [this](const engine_message& msg) {
            messages.emplace_back(std::string(caption_text(msg.caption)), msg.text);
        };
        // A scan that would run away is stopped, so a failing test fails instead of hanging.
        m.ctx.hooks.stop_requested = [this] { return shown.size() > 40; };
    }
    scan_outcome outcome; // of the last scan
    void scan() { outcome = run_scan(m.ctx); }
    std::string summary(const std::string& in) const { return fs.text(in + "/t_summary.txt"); }
    int raise_blocks(const std::string& text) const {
        int n = 0;
        for (std::size_t at = 0; (at = text.find("Too many detections", at)) != std::string::npos; ++at) ++n;
        return n;
    }
};

std::vector<int> pass_thresholds(const std::string& text) {
    std::vector<int> t;
    const std::string key = "Threshold: ";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
        t.push_back(std::stoi(text.substr(at + key.size())));
    return t;
}

std::string closing(int frames, int count) {
    return format_bounded(300,
                          "\r\n--------------------------------------------------------------------\r\n"
                          "Number of frames that include detections = %d\r\nNumber of detections = %d\r\n"
                          "--------------------------------------------------------------------\r\n\r\n",
                          frames, count);
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Passes, LowerFromSixtyToFortyFiveWhenNothingIsFound) {
    pass_rig r(flat_frames(10), 5, 3);
    r.scan();
    EXPECT_EQ(r.shown, (std::vector<std::int32_t>{60, 57, 54, 51, 48, 45}));
    const std::string final_dir = "Results_t_s45_10";
    EXPECT_EQ(r.outcome.result_dir, final_dir);
    EXPECT_TRUE(r.fs.dirs.count(final_dir));
    const std::string text = r.summary(final_dir);
    EXPECT_EQ(pass_thresholds(text), (std::vector<int>{60, 57, 54, 51, 48, 45}));
    EXPECT_EQ(
        text.rfind("\r\n------------Detection-----------------------------------------------\r\nThreshold: 60sigma\r\n"
                   "No.       Frame     x         y         count     Average   Standard deviation",
                   0),
        0u);
    EXPECT_TRUE(ends_with(text, closing(0, 0)));
    EXPECT_EQ(r.outcome.det_frames, 0);
    EXPECT_EQ(r.outcome.final_threshold, 45);
    EXPECT_EQ(r.outcome.last_frame, 10);
}

TEST(Passes, NoPassBelowFortyFiveOrWithoutLimit) {
    pass_rig low(flat_frames(10), 5, 3, 44);
    low.scan();
    EXPECT_TRUE(low.shown.empty());
    EXPECT_EQ(low.outcome.result_dir, "Results_t_s47_0");
    EXPECT_EQ(low.summary("Results_t_s47_0"), closing(0, 0));

    pass_rig none(flat_frames(10), 5, 0);
    none.scan();
    EXPECT_TRUE(none.shown.empty());
    EXPECT_EQ(none.outcome.result_dir, "Results_t_s63_0");
}

// A spike of one frame in a whole packet of n stands (n - 1) / sqrt(n) deviations above its
// mean: 6.247 for 41 frames, 6.326 for 42.
TEST(Passes, RaiseOnceThenLowerAgain) {
    auto f = flat_frames(41);
    plus(f, 7, 15, 15, 400);
    pass_rig r(f, 41, 1);
    r.scan();
    EXPECT_EQ(r.shown, (std::vector<std::int32_t>{60, 63, 60}));
    const std::string text = r.summary("Results_t_s60_7");
    EXPECT_EQ(r.raise_blocks(text), 1);
    EXPECT_NE(text.find("\r\n--------------------------------------------------------------------\r\n"
                        "Number of frames that include detections = 1\r\nNumber of detections = 1\r\n\r\n"
                        "------Too many detections prevented a scan through the file.--------\r\n\r\n"
                        "------The threshold is increased, and the file is scanned again.----\r\n"),
              std::string::npos);
    EXPECT_TRUE(ends_with(text, closing(1, 1)));
    EXPECT_EQ(r.outcome.final_threshold, 60); // the pass after the raise to 63 lowered it again
    EXPECT_EQ(r.outcome.last_frame, 7);
    // The snapshot of the first pass stays; numbering restarts after the raise.
    EXPECT_EQ(r.fs.names_in("Results_t_s60_7"), (std::vector<std::string>{"0000_t60_000007.bmp", "t_summary.txt"}));
}

TEST(Passes, RaiseTwice) {
    auto f = flat_frames(42);
    plus(f, 3, 15, 15, 400);
    pass_rig r(f, 42, 1);
    r.scan();
    EXPECT_EQ(r.shown, (std::vector<std::int32_t>{60, 63, 66, 63}));
    EXPECT_EQ(r.raise_blocks(r.summary("Results_t_s63_3")), 2);
    EXPECT_FALSE(r.outcome.raise_withheld);
}

// Two packets of 4 frames, then one frame tested against the second packet's statistics.
frames_t remainder_file() {
    auto f = flat_frames(9, W, 50);
    for (int k = 4; k < 9; ++k) f[static_cast<std::size_t>(k)].assign(W * W, 100);
    plus(f, 8, 12, 20, 200);
    return f;
}

TEST(Passes, RemainderFramesUseTheLastPacketsStatistics) {
    pass_rig r(remainder_file(), 4, 100);
    r.scan();
    EXPECT_EQ(r.shown, (std::vector<std::int32_t>{60, 57, 54, 51, 48, 45}));
    const std::string text = r.summary("Results_t_s45_9");
    // Sigma 0 there: found in every pass, with the second packet's mean.
    const std::string hit = format_bounded(100, "%-10d%-10d%-10d%-10d%-10d%-10d%-10d", 6, 8, 20, 12, 300, 100, 0);
    EXPECT_NE(text.find(hit), std::string::npos);
    EXPECT_TRUE(ends_with(text, closing(6, 6)));
}

TEST(Passes, ARaiseThatWouldRepeatForEverIsWithheld) {
    pass_rig r(remainder_file(), 4, 1);
    r.scan();
    EXPECT_EQ(r.shown, (std::vector<std::int32_t>{60}));
    EXPECT_TRUE(r.outcome.raise_withheld);
    EXPECT_FALSE(r.outcome.stopped);
    const std::string text = r.summary("Results_t_s60_8");
    EXPECT_EQ(r.raise_blocks(text), 0);
    EXPECT_TRUE(ends_with(text, closing(1, 1)));
}

TEST(Passes, RaiseRule) {
    pass_flags clean; // no scatter, every saved frame holds a sigma-0 detection
    EXPECT_TRUE(raise_withheld(clean, 60, 3));
    pass_flags finite;
    finite.every_saved_frame_recurs = false;
    finite.every_detection_recurs = false;
    EXPECT_FALSE(raise_withheld(finite, 60, 3));
    EXPECT_TRUE(raise_withheld(finite, 2147483647 - 5, 3));
    EXPECT_FALSE(raise_withheld(finite, 2147483647 - 6, 3)) << "the next pass still fits";
    pass_flags scattered; // a withdrawn frame: only a pass whose detections all recur repeats
    scattered.scattered_frame = true;
    scattered.every_detection_recurs = false;
    EXPECT_FALSE(raise_withheld(scattered, 60, 3));
    scattered.every_detection_recurs = true;
    EXPECT_TRUE(raise_withheld(scattered, 60, 3));
}

TEST(Passes, AScatteredFrameRestartsThePacketsAndCutsThePassShort) {
    const int w = 64;
    auto f = flat_frames(90, w);
    for (int k = 0; k < 11; ++k) plus(f, 5, 12 + 4 * k, 12 + 4 * k, 400, w); // rows 12..52
    plus(f, 40, 30, 30, 400, w); // a genuine flash the shortened pass never reaches
    pass_rig r(f, 30, 10, 45, w);
    r.scan();
    EXPECT_EQ(r.shown, (std::vector<std::int32_t>{45}));
    EXPECT_EQ(r.outcome.result_dir, "Results_t_s45_5");
    EXPECT_EQ(r.summary("Results_t_s45_5").find("\r\n1         "), std::string::npos);
    EXPECT_EQ(r.outcome.det_count, 0);
}

TEST(Passes, SummaryThatCannotBeOpenedSkipsTheFile) {
    auto f = flat_frames(10);
    pass_rig r(f, 5, 3);
    r.fs.refuse_create = [](const std::string& p) { return p == summary_path; };
    const std::string before = r.fs.text(summary_path);
    r.scan();
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].first, "case IDC_SCAN");
    EXPECT_EQ(r.messages[0].second, "Error in fopen_s(&fp2, detect_result_path, \"a\")");
    EXPECT_TRUE(r.shown.empty());
    EXPECT_TRUE(r.outcome.failed);
    EXPECT_TRUE(r.fs.dirs.count(dir)); // not renamed
    EXPECT_EQ(r.fs.text(summary_path), before);
}

TEST(Passes, RenameNeverReplacesAFolder) {
    pass_rig r(flat_frames(10), 5, 3);
    r.fs.dirs.insert("Results_t_s45_10");
    r.scan();
    EXPECT_EQ(r.outcome.result_dir, dir);
    EXPECT_TRUE(ends_with(r.summary(dir), closing(0, 0)));
}

TEST(Passes, UnsoundSettingsAreRefusedBeforeAnyPass) {
    scan_settings s;
    s.start_frame = 0;
    s.end_frame = 99;
    s.packet_size = 100;
    EXPECT_TRUE(scan_refusal(s, 100).ok());
    auto bad = s;
    bad.packet_size = 0;
    EXPECT_FALSE(scan_refusal(bad, 100).ok());
    bad = s;
    bad.packet_size = 101;
    EXPECT_FALSE(scan_refusal(bad, 100).ok());
    bad = s;
    bad.start_frame = -1;
    EXPECT_FALSE(scan_refusal(bad, 100).ok());
    EXPECT_FALSE(scan_refusal(s, 99).ok()); // stop frame beyond the frames present
    bad = s;
    bad.threshold_step = 0;
    EXPECT_FALSE(scan_refusal(bad, 100).ok());
    bad = s;
    bad.threshold = 2147483647;
    EXPECT_FALSE(scan_refusal(bad, 100).ok());

    pass_rig r(flat_frames(10), 0, 3);
    r.scan();
    EXPECT_TRUE(r.outcome.failed);
    EXPECT_TRUE(r.shown.empty());
    EXPECT_EQ(r.fs.text(summary_path), "");
}

} // namespace
} // namespace serflash::detect

namespace serflash::detect {
namespace {

// Small random files of a constant sky with spikes, bursts and remainder frames: every scan
// ends without the safety stop, whatever the limit.
TEST(Passes, RandomFilesAlwaysEnd) {
    std::uint64_t seed = 12345;
    const auto next = [&](int n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((seed >> 33) % static_cast<std::uint64_t>(n));
    };
    int withheld = 0, raised = 0;
    for (int round = 0; round < 120; ++round) {
        const int frames = 20 + next(40);
        frames_t f = flat_frames(frames, W, 100);
        for (int k = 0; k < frames; ++k) {
            const int roll = next(10);
            const int spikes = roll < 6 ? 0 : roll < 9 ? 1 + next(2) : 12;
            for (int j = 0; j < spikes; ++j) plus(f, k, 11 + next(10), 11 + next(10), 50 + next(800));
        }
        const int packet = 10 + next(frames - 9);
        pass_rig r(f, packet, 1 + next(3), 45 + next(25));
        // Remainder frames against a packet's small deviations may need a few hundred raises.
        r.m.ctx.hooks.stop_requested = [&r] { return r.shown.size() > 3000; };
        r.m.ctx.settings.scatter_v = next(12);
        r.m.ctx.settings.scatter_h = next(12);
        r.scan();
        EXPECT_FALSE(r.outcome.stopped) << "round " << round;
        EXPECT_FALSE(r.outcome.failed) << "round " << round;
        withheld += r.outcome.raise_withheld ? 1 : 0;
        raised += r.raise_blocks(r.summary(r.outcome.result_dir)) > 0 ? 1 : 0;
    }
    // The mix holds scans that would run away without the rule and scans that raise.
    EXPECT_GT(withheld, 5);
    EXPECT_GT(raised, 5);
}

} // namespace
} // namespace serflash::detect
