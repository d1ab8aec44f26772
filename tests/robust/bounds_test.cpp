// Memory and time bounded by the input, not by a number typed in: matching grows as the rows do,
// option values out of range are refused before any work, thresholds reach no higher than the
// samples can, a stop is heard while flashes are placed, and the sensitivity runs of a file
// share one open descriptor.
#include "scanned_files.h"

#include "cli/commands.h"
#include "detect/batch.h"
#include "detect/memory_fs.h"
#include "detect/memory_scan.h"
#include "detect/passes.h"
#include "report/match.h"
#include "sensitivity/sensitivity.h"
#include "ser/frame_times.h"
#include "synth/synth.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

namespace serflash {
namespace {

using report::station;
using report::station_candidate;

station timed_station(const std::vector<std::int64_t>& ticks, double interval = 0.04) {
    station s;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        station_candidate c;
        c.file = "m1.ser";
        c.candidate = static_cast<std::int32_t>(i + 1);
        c.ticks = ticks[i];
        c.frame_interval = interval;
        s.candidates.push_back(c);
    }
    return s;
}

TEST(Bounds, TenThousandCandidatesAtOneTimePairOneToOne) {
    const std::int64_t t = ser::ticks_of(2026, 12, 8, 21, 14, 0);
    const station a = timed_station(std::vector<std::int64_t>(20'000, t));
    const station b = timed_station(std::vector<std::int64_t>(15'000, t + 10'000));
    const report::match_result m = report::match_stations(a, b, 50.0);
    EXPECT_EQ(m.pairs.size(), 15'000U);
    EXPECT_EQ(m.unpaired_a.size(), 5'000U);
    EXPECT_TRUE(m.unpaired_b.empty());
    std::vector<char> seen(b.candidates.size(), 0);
    for (const auto& p : m.pairs) {
        EXPECT_EQ(seen[p.b]++, 0) << "b " << p.b << " paired twice";
        EXPECT_DOUBLE_EQ(p.difference_ms, 1.0);
    }
}

// Closest first, one to one, as taking every allowed pair in order of their distance would.
std::vector<double> pairs_by_brute_force(const station& a, const station& b, double window_ms) {
    struct option {
        double distance;
        std::size_t i, j;
    };
    std::vector<option> options;
    for (std::size_t i = 0; i < a.candidates.size(); ++i)
        for (std::size_t j = 0; j < b.candidates.size(); ++j) {
            const auto& ca = a.candidates[i];
            const auto& cb = b.candidates[j];
            const double d = static_cast<double>(*cb.ticks - *ca.ticks) / 1e4;
            if (std::abs(d) <= window_ms + 500.0 * (ca.frame_interval + cb.frame_interval))
                options.push_back({std::abs(d), i, j});
        }
    std::stable_sort(options.begin(), options.end(),
                     [](const option& p, const option& q) { return p.distance < q.distance; });
    std::vector<char> used_a(a.candidates.size()), used_b(b.candidates.size());
    std::vector<double> taken;
    for (const option& o : options) {
        if (used_a[o.i] || used_b[o.j]) continue;
        used_a[o.i] = used_b[o.j] = 1;
        taken.push_back(o.distance);
    }
    std::sort(taken.begin(), taken.end());
    return taken;
}

TEST(Bounds, TheSweepPairsAsClosestFirstOverEveryPairDoes) {
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        const auto make = [&](std::size_t n) {
            std::vector<std::int64_t> t(n);
            for (auto& v : t) v = static_cast<std::int64_t>(random() % 4000) * 1000; // 0.1 ms grid, 400 ms span
            station s = timed_station(t);
            for (auto& c : s.candidates)
                c.frame_interval = static_cast<double>(random() % 3) * 0.02; // intervals differ per candidate
            return s;
        };
        const station a = make(random() % 30);
        const station b = make(random() % 30);
        const double window = static_cast<double>(random() % 40);
        const report::match_result m = report::match_stations(a, b, window);
        std::vector<double> got;
        for (const auto& p : m.pairs) got.push_back(std::abs(p.difference_ms));
        std::sort(got.begin(), got.end());
        const std::vector<double> want = pairs_by_brute_force(a, b, window);
        ASSERT_EQ(got.size(), want.size()) << "trial " << trial;
        for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], 1e-9) << "trial " << trial;
        EXPECT_EQ(m.pairs.size() + m.unpaired_a.size(), a.candidates.size());
        EXPECT_EQ(m.pairs.size() + m.unpaired_b.size(), b.candidates.size());
    }
}

TEST(Bounds, ACandidatesTableIsReadRowByRowWithAnyLineEnd) {
    // Big enough to span many of the reader's pieces; CR-only line ends as old tools write them.
    std::string table = "candidate,file,peak_frame,x,y,utc_peak,peak_sigma\r";
    for (int i = 1; i <= 30'000; ++i)
        table += std::to_string(i) + ",m1.ser," + std::to_string(i) + ",5,6,2026-12-08T21:14:03.125Z,8.5\r";
    detect::testing::memory_fs fs;
    fs.files["a.csv"].assign(table.begin(), table.end());
    std::string error;
    const auto st = report::read_station(fs, "a.csv", error);
    ASSERT_TRUE(st) << error;
    EXPECT_EQ(st->candidates.size(), 30'000U);
    EXPECT_EQ(st->candidates.back().peak_frame, 30'000);
}

// 2 for a refusal while the options are read (its text in `why`), else what the command's
// check before any work gives.
int check_status(const std::vector<std::string>& args, std::string* why = nullptr) {
    CLI::App app;
    const auto commands = cli::add_all_commands(app);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        if (why) *why = e.what();
        return 2;
    }
    for (const auto& [sub, command] : commands)
        if (sub->parsed()) return command.check ? command.check() : 0;
    return -1;
}

TEST(Bounds, OptionValuesOutOfRangeAreRefusedBeforeAnyWork) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"scan", "--fps", "nan", "a.ser"},
             {"scan", "--fps", "inf", "a.ser"},
             {"info", "--fps", "-3", "a.ser"},
             {"sensitivity", "--radius", "nan", "a.ser"},
             {"sensitivity", "--seed", "-1", "a.ser"},
             {"sensitivity", "--seed", "18446744073709551616", "a.ser"},
             {"sensitivity", "--counts", "1e30", "a.ser"},
             {"sensitivity", "--counts", "100:70000:100", "a.ser"},
             {"match", "--window-ms", "nan", "a.csv", "b.csv"},
             {"match", "--window-ms", "1e300", "a.csv", "b.csv"},
         })
        EXPECT_EQ(check_status(args), 2) << ::testing::PrintToString(args);
    // Whole numbers too: the option and its range named, an empty value called so, and no
    // limit printed as a number of 300 digits.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"scan", "--threshold", "", "a.ser"},
             {"scan", "--threshold", "1e400", "a.ser"},
             {"scan", "--jobs", "", "a.ser"},
             {"scan", "--threads", "2.5", "a.ser"},
             {"sensitivity", "--per-amplitude", "99999999999", "a.ser"},
             {"sensitivity", "--radius", "", "a.ser"},
         }) {
        std::string why;
        EXPECT_EQ(check_status(args, &why), 2) << ::testing::PrintToString(args);
        EXPECT_EQ(why.rfind(args[1] + ": ", 0), 0U) << why;
        EXPECT_EQ(why.find("Value  "), std::string::npos) << why;
        EXPECT_EQ(why.find("17976931"), std::string::npos) << why;
        EXPECT_NE(why.find(args[2].empty() ? "an empty value" : " to "), std::string::npos) << why;
    }
    EXPECT_EQ(check_status({"scan", "--threshold", "+60", "--jobs", "2", "a.ser"}), 0);
    EXPECT_EQ(check_status({"sensitivity", "--seed", "18446744073709551615", "--radius", "1.5", "a.ser"}), 0);
    EXPECT_EQ(check_status({"match", "--window-ms", "20", "a.csv", "b.csv"}), 0);
}

// 32 x 32 pixels of 16 bits, 5 frames: a packet of 4 and a frame after it tested against that
// packet. The centre and its four neighbours read `packet` over the packet and `last` after it.
std::vector<std::uint8_t> one_spot(const std::vector<std::uint16_t>& packet, std::uint16_t last) {
    std::vector<std::vector<std::uint16_t>> f(5, std::vector<std::uint16_t>(32 * 32, 0));
    for (std::size_t k = 0; k < 5; ++k)
        for (const auto& [dx, dy] : {std::pair{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}})
            f[k][static_cast<std::size_t>((15 + dy) * 32 + 16 + dx)] = k < 4 ? packet[k] : last;
    return detect::testing::ser_bytes(32, 32, 16, f);
}

// The saved frames of one pass at `threshold`, or the refusal.
detect::file_report scan_at(const std::vector<std::uint8_t>& bytes, std::int32_t threshold) {
    detect::testing::memory_fs fs;
    fs.files["s.ser"] = bytes;
    detect::scan_settings s = detect::default_settings(5, 16, 0);
    s.packet_size = 4;
    s.threshold = threshold;
    s.threshold_step = threshold; // one pass: the next would be below the lowest threshold
    s.max_det_frames = 10;
    detect::batch_request req;
    req.jobs.push_back({"s.ser", s, {}, 0});
    req.fs = &fs;
    return detect::run_batch(req).files.at(0);
}

TEST(Bounds, ThresholdsReachAsHighAsTheSamplesCanAndNoHigher) {
    // A pixel that varies over a packet of n has sigma >= 1/sqrt(n), and no sample of 16 bits rises
    // more than 65535: the highest threshold that can find it is about 10 x 65535 x sqrt(n).
    const std::int32_t top = detect::highest_reachable_threshold(4, 65535);
    EXPECT_GE(top, 1'310'700);
    EXPECT_LE(top, 1'310'720);
    EXPECT_LT(detect::highest_reachable_threshold(4, 255), 5'200);
    EXPECT_GT(detect::highest_reachable_threshold(400, 65535), 13'000'000);
    detect::scan_settings s = detect::default_settings(100, 16, 0);
    s.packet_size = 4;
    s.threshold = top;
    EXPECT_TRUE(detect::scan_refusal(s, 100, 65535));
    s.threshold = top + 1;
    const platform::status refused = detect::scan_refusal(s, 100, 65535);
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.reason().find(std::to_string(top)), std::string::npos) << refused.reason();
    s.threshold = 2147483644;
    EXPECT_FALSE(detect::scan_refusal(s, 100, 65535));
    s.threshold = 60'000; // within reach of 16 bits, beyond that of 8
    EXPECT_TRUE(detect::scan_refusal(s, 100, 65535));
    EXPECT_FALSE(detect::scan_refusal(s, 100, 255));

    // 0, 0, 0, 1 (sigma 0.5) and then 65535: found up to 10 x 65534.75 / 0.5, twice 655350.
    const auto varying = one_spot({0, 0, 0, 1}, 65535);
    const detect::file_report high = scan_at(varying, 1'310'690);
    ASSERT_EQ(high.outcome, detect::file_outcome::scanned) << high.problem_text();
    ASSERT_EQ(high.frames.size(), 1U);
    EXPECT_EQ(high.frames[0].frame, 4);
    EXPECT_TRUE(scan_at(varying, top).frames.empty());

    // A pixel with sigma 0 that brightens passes at every threshold: at the highest one too.
    const detect::file_report flat = scan_at(one_spot({100, 100, 100, 100}, 101), top);
    ASSERT_EQ(flat.outcome, detect::file_outcome::scanned) << flat.problem_text();
    ASSERT_EQ(flat.frames.size(), 1U);
    EXPECT_EQ(flat.frames[0].frame, 4);
    EXPECT_EQ(scan_at(one_spot({100, 100, 100, 100}, 101), top + 1).outcome, detect::file_outcome::failed);
}

// A clean sky of 16 bits, scanned in memory: the plain scan sensitivity measures against.
struct sky_scan {
    detect::testing::memory_fs fs;
    detect::scan_job job;
    detect::file_report plain;

    sky_scan(std::int32_t width, std::int32_t height, std::int32_t frames) {
        synth::params p = synth::default_params(16);
        p.width = width;
        p.height = height;
        p.frames = frames;
        p.stars = 0;
        p.hot_pixels = 0;
        p.bright_region = false;
        p.dark_region = false;
        fs.dirs.insert("d");
        fs.files["d/f.ser"] = synth::make_ser_bytes(p);
        job.path = "d/f.ser";
        job.settings = detect::default_settings(frames, 16, 0);
        job.settings.packet_size = frames; // one packet: every flash is placed in one loop
        detect::scan_environment env;
        env.results_parent = "d";
        env.fs = &fs;
        plain = detect::scan_file(job, env, {});
    }
};

sensitivity::sensitivity_options one_rung(std::int32_t per_level) {
    sensitivity::sensitivity_options o;
    o.ladder = {sensitivity::amplitude_unit::sigma, 8.0, 8.0, 1.0};
    o.per_level = per_level;
    o.threads = 1;
    return o;
}

TEST(Bounds, AStopIsHeardWhileFlashesArePlaced) {
    sky_scan sky(64, 64, 40);
    ASSERT_EQ(sky.plain.outcome, detect::file_outcome::scanned) << sky.plain.problem_text();
    // Asked once as the packet starts; pressed before its 10000 flashes are all placed.
    int asked = 0;
    detect::engine_hooks hooks;
    hooks.stop_requested = [&] { return ++asked > 1; };
    const auto plan = sensitivity::plan_injections(sky.fs, sky.job, sky.plain, one_rung(10000), hooks);
    EXPECT_FALSE(plan) << "the plan of 10000 flashes ran to its end through a stop";
    EXPECT_EQ(asked, 2);

    asked = 0;
    auto measured = sensitivity::measure_sensitivity(sky.fs, sky.job, sky.plain, one_rung(10000), hooks);
    ASSERT_TRUE(measured) << measured.reason();
    EXPECT_TRUE(measured->stopped);
    EXPECT_TRUE(measured->levels.empty());
    EXPECT_TRUE(measured->plan.flashes.empty());

    // Unstopped, all of them are placed or counted, in a time that grows with their number.
    auto whole = sensitivity::plan_injections(sky.fs, sky.job, sky.plain, one_rung(2000), {});
    ASSERT_TRUE(whole) << whole.reason();
    EXPECT_EQ(static_cast<std::int64_t>(whole->flashes.size()) + whole->not_placed, 2000);
}

TEST(Bounds, SensitivityRefusesFramesWithoutRoomAndFlashCountsBeyondItsBound) {
    EXPECT_FALSE(sensitivity::room_for_flashes(16, 16));
    EXPECT_FALSE(sensitivity::room_for_flashes(20, 200)); // the inner area begins 10 from each edge
    EXPECT_TRUE(sensitivity::room_for_flashes(21, 21));

    // The command refuses a 16 x 16 file before it scans anything.
    char tmpl[] = "/tmp/serflash_tiny_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;
    synth::params p = synth::default_params(16);
    p.width = 16;
    p.height = 16;
    p.frames = 30;
    const std::vector<std::uint8_t> bytes = synth::make_ser_bytes(p);
    std::ofstream(dir / "tiny.ser", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    CLI::App app;
    const auto commands = cli::add_all_commands(app);
    app.parse(std::vector<std::string>{(dir / "tiny.ser").string(), dir.string(), "--dir", "sensitivity"}); // reversed
    int status = -1;
    for (const auto& [sub, command] : commands)
        if (sub->parsed()) status = command();
    EXPECT_EQ(status, 2);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 1U) << "a results folder was made for a file that cannot be measured";
    std::filesystem::remove_all(dir);

    // More flashes per amplitude than the plan can hold are refused, not multiplied out.
    sky_scan sky(32, 32, 20);
    for (const std::int32_t n : {0, sensitivity::most_flashes_per_level + 1, 1 << 30, INT32_MAX}) {
        const auto plan = sensitivity::plan_injections(sky.fs, sky.job, sky.plain, one_rung(n), {});
        EXPECT_FALSE(plan) << n;
        EXPECT_NE(plan.reason().find("flashes per amplitude"), std::string::npos) << plan.reason();
    }
}

// Counts the opens of each path, on the machine's file system.
class counting_fs final : public testing::native_forwarding_fs {
public:
    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override {
        ++opens[path];
        return native_forwarding_fs::open_read(path);
    }
    std::map<std::string, int> opens;
};

std::size_t open_descriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(Bounds, TheSurveyAndEveryInjectedRunShareOneOpenOfTheFile) {
    char tmpl[] = "/tmp/serflash_once_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    sky_scan sky(48, 48, 60);
    const std::vector<std::uint8_t>& bytes = sky.fs.files["d/f.ser"];
    std::ofstream(dir + "/f.ser", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    detect::scan_job job = sky.job;
    job.path = dir + "/f.ser";
    job.settings.packet_size = 20; // three packets, so several runs
    detect::scan_environment env;
    env.results_parent = dir;
    const detect::file_report plain = detect::scan_file(job, env, {});
    ASSERT_EQ(plain.outcome, detect::file_outcome::scanned) << plain.problem_text();

    counting_fs counting;
    sensitivity::sensitivity_options o = one_rung(12);
    o.threads = 2;
    std::atomic<std::size_t> most_open{0};
    std::atomic<int> runs{0};
    const std::size_t before = open_descriptors();
    o.run_done = [&](std::int32_t, std::int32_t) {
        ++runs;
        std::size_t now = open_descriptors();
        for (std::size_t m = most_open.load(); now > m && !most_open.compare_exchange_weak(m, now);) {}
    };
    auto measured = sensitivity::measure_sensitivity(counting, job, plain, o, {});
    ASSERT_TRUE(measured) << measured.reason();
    EXPECT_GE(runs.load(), 3);
    EXPECT_EQ(counting.opens[job.path], 1) << "opened once for the survey, the runs and the times";
    EXPECT_LE(most_open.load(), before + 1) << "more than the one shared descriptor open during the runs";
    EXPECT_EQ(open_descriptors(), before) << "a descriptor left open";
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace serflash
