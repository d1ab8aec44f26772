// Odd but legal input gives right results: two nights of one file name in one table, header
// times as capture programs write them, byte-swapped samples, out-of-range values in candidate
// files, and years no ISO 8601 text can hold.
#include "scanned_files.h"

#include "detect/batch.h"
#include "detect/memory_fs.h"
#include "detect/summary_file.h"
#include "report/csv.h"
#include "report/match.h"
#include "ser/frame_times.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>

namespace serflash {
namespace {

constexpr std::int64_t second = 10'000'000;
constexpr std::int64_t ms = 10'000;

std::string row(int n, int frame, std::int64_t ticks) {
    return report::csv_line(
        {std::to_string(n), "m1.ser", std::to_string(frame), "5", "6", ser::format_utc(ticks), "9.0"});
}

TEST(OddInput, TwoNightsOfOneFileNameKeepTheirOwnFrameInterval) {
    const std::int64_t night1 = ser::ticks_of(2026, 12, 8, 21, 0, 0);
    const std::int64_t night2 = ser::ticks_of(2026, 12, 9, 21, 0, 0);
    // 25 frames a second both nights; the frame numbers start again.
    std::string table = report::csv_line({"candidate", "file", "peak_frame", "x", "y", "utc_peak", "peak_sigma"});
    table += row(1, 100, night1 + 4 * second) + row(2, 1000, night1 + 40 * second);
    table += row(3, 200, night2 + 8 * second) + row(4, 2000, night2 + 80 * second);
    detect::testing::memory_fs fs;
    fs.files["a.csv"].assign(table.begin(), table.end());
    std::string error;
    const auto a = report::read_station(fs, "a.csv", error);
    ASSERT_TRUE(a) << error;
    for (const auto& c : a->candidates) EXPECT_NEAR(c.frame_interval, 0.04, 1e-9) << c.candidate;

    // Events 69.6 s apart are never a pair, whatever the table's times.
    report::station b = *a;
    for (auto& c : b.candidates) *c.ticks += 69'600 * ms;
    EXPECT_TRUE(report::match_stations(*a, b, 50.0).pairs.empty());
}

// Five small frames at 25 a second with their stamps; the header's local start is
// `datetime_minus_utc` after its UTC start.
synth::params stamped(std::int64_t datetime_minus_utc) {
    synth::params p = synth::default_params(8);
    p.width = 24;
    p.height = 20;
    p.frames = 5;
    p.stars = 0;
    p.hot_pixels = 0;
    p.write_times = true;
    p.fps = 25.0;
    p.datetime = p.datetime_utc + datetime_minus_utc;
    return p;
}

ser::frame_times times_with_header(std::int64_t datetime_minus_utc, std::int64_t first_stamp_after_utc = 0) {
    synth::params p = stamped(datetime_minus_utc);
    p.start_ticks = p.datetime_utc + first_stamp_after_utc;
    // Texts as capture programs pad them: spaces, and junk after the NUL.
    p.observer = "Observer    ";
    std::vector<std::uint8_t> bytes = synth::make_ser_bytes(p);
    std::memcpy(bytes.data() + 42 + 20, "\0junk", 5);
    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    return ser::read_frame_times(reader, 0.0);
}

TEST(OddInput, HeaderTimesAFewMillisecondsApartAreNoTimeZone) {
    // The stamps are UTC: Datetime written 26 ms after DatetimeUTC (the first stamp 20 ms after
    // it, so nearer Datetime), or equal to it, or a little before.
    for (const std::int64_t delay : {26 * ms, std::int64_t{0}, -3 * ms, 2 * second}) {
        const ser::frame_times t = times_with_header(delay, delay * 3 / 4);
        EXPECT_EQ(t.source, ser::time_source::trailer) << delay;
        EXPECT_EQ(t.utc_of(0), synth::default_params(8).datetime_utc + delay * 3 / 4) << "not shifted";
        EXPECT_TRUE(t.notes.empty() || t.notes.front().find("local") == std::string::npos);
    }
    // Real offsets: +5:30 and -8:00, each a few milliseconds off as the fields are written.
    for (const std::int64_t offset : {(5 * 3600 + 1800) * second + 26 * ms, -8 * 3600 * second - 12 * ms}) {
        const ser::frame_times t = times_with_header(offset);
        EXPECT_EQ(t.source, ser::time_source::trailer) << "UTC stamps stay UTC";
    }
}

TEST(OddInput, LocalStampsAreConvertedByAWholeQuarterHourOffset) {
    synth::params p = stamped((5 * 3600 + 1800) * second + 26 * ms);
    p.times_local = true;
    ser::ser_reader reader(platform::make_memory_input(synth::make_ser_bytes(p)));
    reader.read_ser_header();
    const ser::frame_times t = ser::read_frame_times(reader, 0.0);
    ASSERT_EQ(t.source, ser::time_source::trailer_local);
    // The 26 ms of delay between the fields is not taken for part of the offset.
    EXPECT_EQ((p.datetime - p.datetime_utc - 26 * ms) % (15 * 60 * second), 0);
    EXPECT_EQ(t.utc_of(0), p.datetime_utc + 26 * ms);
}

TEST(OddInput, ByteSwappedSamplesAreWarnedOfAndTheSwitchIsWritten) {
    synth::params p = synth::default_params(16);
    p.width = 64;
    p.height = 48;
    p.frames = 20;
    p.swap_bytes = true;
    for (const bool swap : {false, true}) {
        detect::testing::memory_fs fs;
        fs.files["m1.ser"] = synth::make_ser_bytes(p);
        detect::scan_job job{"m1.ser", detect::default_settings(20, 16, 0), {}, 0};
        job.swap_bytes = swap;
        const detect::batch_report rep = testing::scan_with_outputs(fs, job);
        ASSERT_EQ(rep.files.size(), 1U);
        // The warning goes on the file's line and on the page; the switch, when on, into the
        // summary's parameters, the document's settings and the page.
        EXPECT_EQ(rep.files[0].byte_order_warning.empty(), swap) << rep.files[0].byte_order_warning;
        const std::string page = testing::file_ending(fs, "_report.html");
        EXPECT_EQ(page.find("look byte-swapped") != std::string::npos, !swap);
        EXPECT_EQ(page.find("high byte first (--swap-bytes)") != std::string::npos, swap);
        const std::string summary = testing::file_ending(fs, "_summary.txt");
        EXPECT_EQ(summary.find("Samples high byte first (--swap-bytes)") != std::string::npos, swap);
        const auto doc = nlohmann::json::parse(testing::file_ending(fs, "_candidates.json"));
        EXPECT_EQ(doc["settings"]["swap_bytes"], swap) << doc["settings"].dump();
    }
}

TEST(OddInput, OutOfRangeValuesInCandidateFilesAreRefused) {
    detect::testing::memory_fs fs;
    const auto refused = [&](const std::string& path, const std::string& text, const std::string& says) {
        fs.files[path].assign(text.begin(), text.end());
        std::string error;
        EXPECT_FALSE(report::read_station(fs, path, error)) << path;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    };
    const std::string head = R"({"format":"serflash-candidates","version":1,"candidates":[{"file":"m1.ser",)";
    const std::string tail = R"(,"utc_peak":"2026-12-08T21:14:03.125Z","peak_sigma":8.5}]})";
    refused("big.json", head + R"("candidate":1e20,"peak_frame":1,"x":3,"y":4)" + tail,
            "not a whole number of 32 bits");
    refused("wrap.json", head + R"("candidate":1,"peak_frame":1,"x":4294967297,"y":4)" + tail,
            "not a whole number of 32 bits");
    refused("frac.json", head + R"("candidate":1,"peak_frame":1.5,"x":3,"y":4)" + tail,
            "not a whole number of 32 bits");
    refused(
        "feb.json",
        head + R"("candidate":1,"peak_frame":1,"x":3,"y":4,"utc_peak":"2026-02-30T21:14:03.125Z","peak_sigma":1}]})",
        "is not a time");
    refused("x.csv",
            "file,peak_frame,x,y,utc_peak,peak_sigma\n"
            "m1.ser,1,4294967297,4,,\n",
            "not a whole number");
    EXPECT_TRUE(report::parse_utc("2028-02-29T00:00:00Z"));
    EXPECT_FALSE(report::parse_utc("2026-02-29T00:00:00Z"));
    EXPECT_FALSE(report::parse_utc("2026-04-31T00:00:00Z"));
}

TEST(OddInput, YearsPastNineThousandNineHundredNinetyNineAreNoIsoTime) {
    const std::int64_t far = ser::ticks_of(9999, 12, 31, 23, 59, 59) + 2 * second;
    EXPECT_EQ(ser::format_utc(far).find("invalid"), 0U) << ser::format_utc(far);
    EXPECT_EQ(ser::format_utc(ser::ticks_of(9999, 12, 31, 0, 0, 0)), "9999-12-31T00:00:00.000Z");
}

// Header texts as capture programs leave them: all 40 bytes used and padded with spaces (no NUL
// at all), or ended by a NUL with junk after it. Each is shown up to its NUL or its 40 bytes,
// never running into the next field, and none of it moves the times.
TEST(OddInput, HeaderTextsPaddedWithSpacesOrJunkAfterTheNulStayInTheirFields) {
    synth::params p = stamped(26 * ms);
    p.start_ticks = p.datetime_utc + 20 * ms;
    std::vector<std::uint8_t> bytes = synth::make_ser_bytes(p);
    const std::string observer = "Observer" + std::string(32, ' ');
    std::memcpy(bytes.data() + 42, observer.data(), 40);
    std::memcpy(bytes.data() + 82, "Camera\0\x7f\x01junk", 13);
    std::memcpy(bytes.data() + 122, std::string(40, ' ').data(), 40);
    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    const std::string& text = reader.header_text();
    EXPECT_NE(text.find(observer + "\r\n"), std::string::npos) << "all 40 bytes, and no more";
    EXPECT_NE(text.find("Camera\r\n"), std::string::npos) << "up to the NUL";
    EXPECT_EQ(text.find("junk"), std::string::npos);
    EXPECT_NE(text.find(std::string(40, ' ') + "\r\n"), std::string::npos);
    const ser::frame_times t = ser::read_frame_times(reader, 0.0);
    EXPECT_EQ(t.source, ser::time_source::trailer);
    EXPECT_EQ(t.utc_of(0), p.datetime_utc + 20 * ms);
}

// The document's frame rate is null when nothing gives it, never 0; time stamps give it.
TEST(OddInput, AnUnknownFrameRateIsNullInTheDocument) {
    synth::params p = synth::default_params(16);
    p.width = 32;
    p.height = 32;
    p.frames = 40;
    p.write_times = true;
    p.fps = 25.0;
    for (const bool stamped : {false, true}) {
        detect::testing::memory_fs mem;
        mem.files["m1.ser"] = stamped ? synth::make_ser_bytes(p) : testing::flash_file(40); // no times at all
        testing::scan_with_outputs(mem, {"m1.ser", detect::default_settings(40, 16, 0), {}, 0});
        const auto doc = nlohmann::json::parse(testing::file_ending(mem, "_candidates.json"));
        const auto& rate = doc["times"]["frame_rate"];
        if (stamped) {
            ASSERT_TRUE(rate.is_number()) << rate.dump();
            EXPECT_NEAR(rate.get<double>(), 25.0, 0.01);
        } else {
            EXPECT_TRUE(rate.is_null()) << rate.dump();
        }
    }
}

} // namespace
} // namespace serflash
