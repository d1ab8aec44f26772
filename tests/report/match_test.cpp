#include "../detect/memory_fs.h"
#include "report/csv.h"
#include "report/match.h"
#include "ser/frame_times.h"

#include <gtest/gtest.h>

namespace serflash::report {
namespace {

using detect::testing::memory_fs;

constexpr std::int64_t ms = 10'000;

// A candidates table of one station: candidates at the given times (ms after a start), one SER
// file at 25 frames per second, the times of the first candidate's start giving the interval.
std::string table(const std::string& file, const std::vector<std::int64_t>& at_ms, std::int64_t shift_ms = 0) {
    const std::int64_t start = ser::ticks_of(2026, 12, 8, 21, 14, 0) + shift_ms * ms;
    std::string out = csv_line({"candidate", "file", "peak_frame", "first_frame", "last_frame", "x", "y", "utc_peak",
                                "utc_start", "time_source", "duration_frames", "peak_sigma", "peak_excess",
                                "integrated_excess", "highest_threshold", "thresholds", "detections"});
    for (std::size_t i = 0; i < at_ms.size(); ++i) {
        const std::int32_t frame = static_cast<std::int32_t>(at_ms[i] / 40);
        const std::string utc = ser::format_utc(start + at_ms[i] * ms);
        const std::string first = ser::format_utc(start + (at_ms[i] - 40) * ms);
        out += csv_line({std::to_string(i + 1), file, std::to_string(frame), std::to_string(frame - 1),
                         std::to_string(frame), "50", "60", utc, first, "trailer", "2", "9.50", "120.0", "300.0", "60",
                         "60 57", "3"});
    }
    return out;
}

station read(memory_fs& fs, const std::string& path, const std::string& text) {
    fs.files[path].assign(text.begin(), text.end());
    std::string error;
    auto st = read_station(fs, path, error);
    EXPECT_TRUE(st) << error;
    return st ? *st : station{};
}

TEST(Match, ShiftedBy30MsAllPairAndBy500MsNone) {
    memory_fs fs;
    const std::vector<std::int64_t> times = {1'000, 7'520, 20'000, 61'040};
    const station a = read(fs, "a.csv", table("m1.ser", times));
    ASSERT_EQ(a.candidates.size(), 4u);
    EXPECT_NEAR(a.candidates[0].frame_interval, 0.04, 1e-9);

    const station near = read(fs, "b.csv", table("m2.ser", times, 30));
    const match_result m = match_stations(a, near, 50.0);
    ASSERT_EQ(m.pairs.size(), 4u);
    for (std::size_t i = 0; i < m.pairs.size(); ++i) {
        EXPECT_EQ(m.pairs[i].a, i);
        EXPECT_EQ(m.pairs[i].b, i);
        EXPECT_NEAR(m.pairs[i].difference_ms, 30.0, 1e-9);
        EXPECT_NEAR(m.pairs[i].allowed_ms, 90.0, 1e-9); // 50 + 20 + 20
    }
    EXPECT_TRUE(m.unpaired_a.empty());
    EXPECT_TRUE(m.unpaired_b.empty());
    const auto rows = parse_csv(pairs_csv(a, near, m));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 5u);
    EXPECT_EQ((*rows)[1][3], "30.0");
    EXPECT_EQ((*rows)[1][5], "m1.ser");
    EXPECT_EQ((*rows)[1][11], "m2.ser");

    const station far = read(fs, "c.csv", table("m2.ser", times, 500));
    const match_result none = match_stations(a, far, 50.0);
    EXPECT_TRUE(none.pairs.empty());
    EXPECT_EQ(none.unpaired_a.size(), 4u);
    EXPECT_EQ(none.unpaired_b.size(), 4u);
    // A wider window pairs them again.
    EXPECT_EQ(match_stations(a, far, 500.0).pairs.size(), 4u);
}

TEST(Match, PairsOneToOneClosestFirstAndListsUntimed) {
    memory_fs fs;
    const station a = read(fs, "a.csv", table("m1.ser", {1'000, 1'080}));
    const station b = read(fs, "b.csv", table("m2.ser", {1'070}));
    const match_result m = match_stations(a, b, 50.0);
    ASSERT_EQ(m.pairs.size(), 1u);
    EXPECT_EQ(m.pairs[0].a, 1u); // 10 ms beats 70 ms
    EXPECT_EQ(m.unpaired_a, (std::vector<std::size_t>{0}));

    std::string untimed = table("m3.ser", {});
    untimed += csv_line({"1", "m3.ser", "5", "5", "5", "1", "2", "", "", "none", "1", "", "", "", "60", "60", "1"});
    const station u = read(fs, "u.csv", untimed);
    const match_result mu = match_stations(a, u, 50.0);
    EXPECT_TRUE(mu.pairs.empty());
    EXPECT_EQ(mu.untimed_b, (std::vector<std::size_t>{0}));
    EXPECT_TRUE(mu.unpaired_b.empty());
}

TEST(Match, ReadsTheJsonDocumentsOfAScan) {
    memory_fs fs;
    const std::string doc = R"({"format":"serflash-candidates","version":1,"times":{"frame_rate":50.0},
        "candidates":[{"candidate":1,"file":"m1.ser","peak_frame":10,"x":3,"y":4,
        "utc_peak":"2026-12-08T21:14:03.125Z","peak_sigma":8.5},
        {"candidate":2,"file":"m1.ser","peak_frame":90,"x":3,"y":4,"utc_peak":null,"peak_sigma":null}]})";
    const station one = read(fs, "a.json", doc);
    ASSERT_EQ(one.candidates.size(), 2u);
    EXPECT_EQ(one.candidates[0].ticks, parse_utc("2026-12-08T21:14:03.125Z"));
    EXPECT_NEAR(one.candidates[0].frame_interval, 0.02, 1e-12);
    EXPECT_FALSE(one.candidates[1].ticks);
    EXPECT_FALSE(one.candidates[1].peak_sigma);
    const station many = read(fs, "b.json", "[" + doc + "," + doc + "]");
    EXPECT_EQ(many.candidates.size(), 4u);
}

// A catalogue's rows are its candidates, of many files: each file's interval comes from its own
// times, and a list under another key is no list of candidates, whichever key comes first.
TEST(Match, ReadsTheRowsOfAJsonCatalogue) {
    memory_fs fs;
    const std::string catalogue = R"({"columns":["file"],"candidates":[{"candidate":9,"file":"x.ser","peak_frame":1,
        "x":1,"y":1,"utc_peak":null,"peak_sigma":null}],"format":"serflash-catalog","rows":[
        {"file":"m1.ser","folder":"Results_m1","candidate":1,"peak_frame":10,"x":3,"y":4,
         "utc_peak":"2026-12-08T21:14:00.400Z","peak_sigma":8.5},
        {"file":"m1.ser","folder":"Results_m1","candidate":2,"peak_frame":60,"x":3,"y":4,
         "utc_peak":"2026-12-08T21:14:02.400Z","peak_sigma":7.5},
        {"file":"m2.ser","folder":"Results_m2","candidate":1,"peak_frame":5,"x":8,"y":9,
         "utc_peak":"2026-12-08T22:00:00.000Z","peak_sigma":null}],"version":1})";
    const station st = read(fs, "night.json", catalogue);
    ASSERT_EQ(st.candidates.size(), 3u);
    EXPECT_EQ(st.candidates[0].file, "m1.ser");
    EXPECT_EQ(st.candidates[1].utc_peak, "2026-12-08T21:14:02.400Z");
    EXPECT_NEAR(st.candidates[0].frame_interval, 0.04, 1e-12);
    EXPECT_EQ(st.candidates[2].file, "m2.ser");
    EXPECT_EQ(st.candidates[2].frame_interval, 0.0); // one time: no interval
    std::string error;
    const std::string without_rows = R"({"format":"serflash-catalog","candidates":[]})";
    fs.files["rows.json"].assign(without_rows.begin(), without_rows.end());
    EXPECT_FALSE(read_station(fs, "rows.json", error));
    EXPECT_NE(error.find("not a serflash candidates document or catalogue"), std::string::npos) << error;
}

TEST(Match, MissingAndMalformedFilesAreNamed) {
    memory_fs fs;
    const auto fails = [&](const std::string& path, const std::string& text, const std::string& says) {
        if (!text.empty() || path != "missing.csv") fs.files[path].assign(text.begin(), text.end());
        std::string error;
        EXPECT_FALSE(read_station(fs, path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    };
    fails("missing.csv", "", "cannot be opened");
    fails("empty.csv", " \n", "empty");
    fails("other.csv", "name,value\r\nx,1\r\n", "no column \"file\"");
    std::string bad_time = table("m1.ser", {1'000});
    bad_time.replace(bad_time.find("2026-12-08T21:14:01.000Z"), 24, "2026-12-08 21:14:01.000");
    fails("time.csv", bad_time, "is not a time");
    std::string short_row = table("m1.ser", {1'000});
    short_row += "3,m1.ser,7\r\n";
    fails("short.csv", short_row, "row 3");
    fails("broken.json", "{\"format\": ", "not readable JSON");
    fails("foreign.json", "{\"format\": \"other\"}", "not a serflash candidates document");
    fails("field.json", R"({"format":"serflash-candidates","candidates":[{"file":"m1.ser"}]})", "lacks a field");

    EXPECT_FALSE(parse_utc("2026-13-08T21:14:03.125Z"));
    EXPECT_FALSE(parse_utc("2026-12-08T21:14:03.125"));
    EXPECT_EQ(parse_utc("2026-12-08T21:14:03Z"), ser::ticks_of(2026, 12, 8, 21, 14, 3));
}

} // namespace
} // namespace serflash::report
