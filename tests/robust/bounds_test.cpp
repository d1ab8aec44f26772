// Memory and time bounded by the input, not by a number typed in: matching grows as the rows do,
// option values out of range are refused before any work, thresholds have a ceiling, and the
// sensitivity runs of a file share one open descriptor.
#include "cli/commands.h"
#include "detect/batch.h"
#include "detect/memory_fs.h"
#include "detect/passes.h"
#include "report/match.h"
#include "ser/frame_times.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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

int check_status(const std::vector<std::string>& args) {
    CLI::App app;
    const auto commands = cli::add_all_commands(app);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError&) {
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
    EXPECT_EQ(check_status({"sensitivity", "--seed", "18446744073709551615", "--radius", "1.5", "a.ser"}), 0);
    EXPECT_EQ(check_status({"match", "--window-ms", "20", "a.csv", "b.csv"}), 0);
}

TEST(Bounds, AThresholdAboveAnyReachIsRefusedNotSwept) {
    detect::scan_settings s = detect::default_settings(100, 16, 0);
    s.threshold = 2147483644;
    const platform::status refused = detect::scan_refusal(s, 100);
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.reason().find("655350"), std::string::npos) << refused.reason();
    s.threshold = 655350;
    EXPECT_TRUE(detect::scan_refusal(s, 100));
}

} // namespace
} // namespace serflash
