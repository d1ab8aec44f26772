#include "review_fixture.h"
#include "ui/review_model.h"
#include "ui/review_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

namespace serflash::ui {
namespace {

using testing::candidate_json;
using testing::write_candidates;

std::string read_text(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct review_test : ::testing::Test {
    std::filesystem::path root;
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               ("serflash_review_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
    }
    void TearDown() override { std::filesystem::remove_all(root); }
};

TEST_F(review_test, ReadsEveryCandidateOfEveryFolder) {
    write_candidates(root / "Results_m1_s54_299", "m1", "/data/m1.ser",
                     candidate_json(1, "m1.ser", 40, 100, 80, 31.2, "2026-12-08T21:14:04.458Z") + "," +
                         candidate_json(2, "m1.ser", 200, 10, 20, 9.5));
    write_candidates(root / "Results_m2_s60_99", "m2", "/data/m2.ser", candidate_json(1, "m2.ser", 7, 3, 4, 12));
    std::filesystem::create_directories(root / "empty");
    review_model review;
    review.load({root / "Results_m1_s54_299", root / "Results_m2_s60_99", root / "empty"});
    ASSERT_EQ(review.candidates().size(), 3U);
    const candidate& c = review.candidates()[0];
    EXPECT_EQ(c.number, 1);
    EXPECT_EQ(c.file, "m1.ser");
    EXPECT_EQ(c.peak_frame, 40);
    EXPECT_EQ(c.last_frame, 41);
    EXPECT_EQ(c.x, 100);
    EXPECT_EQ(c.y, 80);
    EXPECT_EQ(c.utc_peak, "2026-12-08T21:14:04.458Z");
    EXPECT_DOUBLE_EQ(c.peak_sigma, 31.2);
    EXPECT_EQ(c.thresholds, (std::vector<std::int32_t>{60, 57, 54}));
    EXPECT_EQ(c.ser_path, "/data/m1.ser");
    ASSERT_EQ(c.curve.excess.size(), 31U);
    EXPECT_EQ(c.curve.first_frame, 25);
    EXPECT_DOUBLE_EQ(c.curve.excess[15], 600.0);
    EXPECT_FALSE(review.candidates()[1].utc_peak.has_value());
    EXPECT_FALSE(review.candidates()[1].curve.utc[0].has_value());
    EXPECT_EQ(review.candidates()[2].file, "m2.ser");
    ASSERT_EQ(review.errors().size(), 1U); // the folder without candidates
    EXPECT_NE(review.errors()[0].find("empty"), std::string::npos);
}

TEST_F(review_test, BrokenFilesAreReportedAndSkipped) {
    std::filesystem::create_directories(root / "r");
    std::ofstream(root / "r" / "a_candidates.json") << "{ not json";
    std::ofstream(root / "r" / "b_candidates.json") << R"({"format":"something-else","candidates":[]})";
    write_candidates(root / "r", "d", "/d.ser", candidate_json(1, "d.ser", 5, 1, 1, 7));
    review_model review;
    review.load({root / "r", root / "missing"});
    EXPECT_EQ(review.candidates().size(), 1U);
    ASSERT_EQ(review.errors().size(), 3U);
    EXPECT_NE(review.errors()[0].find("not valid JSON"), std::string::npos);
    EXPECT_NE(review.errors()[1].find("not a serflash candidates file"), std::string::npos);
    EXPECT_NE(review.errors()[2].find("no such folder"), std::string::npos);
}

// Fields of another version: unknown ones are passed over, a value of another type reads as
// missing, and values the scan could not measure (null) stay apart from real zeros.
TEST_F(review_test, OtherVersionsAndUnmeasuredValuesAreRead) {
    std::filesystem::create_directories(root / "r");
    std::ofstream(root / "r" / "c_candidates.json") << R"({"format":"serflash-candidates","version":7,
        "new_block":{"a":1},"file":{"name":"c.ser","path":"/c.ser"},
        "candidates":[{"candidate":3,"x":"text","y":12,"peak_frame":9,"peak_sigma":null,"brand_new":[1,2],
                       "thresholds":["60"],"light_curve":{"first_frame":8,"excess":[1.5,null,4],"sigma":null}}]})";
    review_model review;
    review.load({root / "r"});
    ASSERT_EQ(review.candidates().size(), 1U);
    EXPECT_TRUE(review.errors().empty());
    const candidate& c = review.candidates()[0];
    EXPECT_EQ(c.number, 3);
    EXPECT_EQ(c.file, "c.ser"); // from the file block when the candidate has none
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.y, 12);
    EXPECT_EQ(c.first_frame, 9);
    EXPECT_TRUE(c.thresholds.empty());
    ASSERT_EQ(c.curve.excess.size(), 3U);
    EXPECT_DOUBLE_EQ(c.curve.excess[2], 4.0);
    EXPECT_TRUE(std::isnan(c.curve.excess[1]));
    const curve_plot plot = plot_light_curve(c.curve, 9, 101, 51);
    EXPECT_TRUE(std::isnan(plot.points[1].second));
    EXPECT_LT(plot.points[2].second, plot.points[0].second); // 4 stands higher than 1.5
}

TEST_F(review_test, MarksAreKeptBesideTheCandidatesAndReadBack) {
    const auto folder = root / "Results_m1";
    write_candidates(folder, "m1", "/m1.ser",
                     candidate_json(1, "m1.ser", 40, 1, 1, 9) + "," + candidate_json(2, "m1.ser", 50, 2, 2, 9));
    write_candidates(folder, "m9", "/m9.ser", candidate_json(1, "m9.ser", 4, 1, 1, 9));
    const std::string candidates_before = read_text(folder / "m1_candidates.json");
    {
        review_model review;
        review.load({folder});
        ASSERT_EQ(review.candidates().size(), 3U);
        EXPECT_TRUE(review.set_mark(1, verdict::false_alarm));
        EXPECT_TRUE(review.set_mark(0, verdict::unsure));
        EXPECT_TRUE(review.set_mark(0, verdict::real)); // the last verdict counts
        EXPECT_TRUE(review.set_mark(2, verdict::unsure));
        EXPECT_TRUE(review.set_mark(2, verdict::none));
        EXPECT_FALSE(review.set_mark(7, verdict::real));
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "m1_marks.json"));
    EXPECT_TRUE(std::filesystem::exists(folder / "m9_marks.json"));
    EXPECT_EQ(read_text(folder / "m1_candidates.json"), candidates_before);
    review_model again;
    again.load({folder});
    EXPECT_EQ(again.candidates()[0].mark, verdict::real);
    EXPECT_EQ(again.candidates()[1].mark, verdict::false_alarm);
    EXPECT_EQ(again.candidates()[2].mark, verdict::none);
    EXPECT_EQ(marks_path_for(folder / "m1_candidates.json"), folder / "m1_marks.json");
}

TEST_F(review_test, CsvHasTheColumnsTheMarkAndRfc4180Quoting) {
    write_candidates(root / "r", "m,1", "/m,1.ser",
                     candidate_json(3, "m,\\\"1\\\".ser", 40, 100, 80, 31.25, "2026-12-08T21:14:04.458Z"));
    review_model review;
    review.load({root / "r"});
    ASSERT_EQ(review.candidates().size(), 1U);
    review.set_mark(0, verdict::real);
    const std::string csv = review.csv();
    EXPECT_EQ(
        csv,
        "candidate,file,peak_frame,first_frame,last_frame,x,y,utc_peak,utc_start,time_source,duration_frames,"
        "peak_sigma,peak_excess,integrated_excess,highest_threshold,thresholds,detections,class,noise_expected,end_x,"
        "end_y,lat,lon,lat_lon_err,peak_mag,peak_mag_err,energy_j,mark\r\n"
        "3,\"m,\"\"1\"\".ser\",40,40,41,100,80,2026-12-08T21:14:04.458Z,2026-12-08T21:14:04.458Z,trailer,2,"
        "31.25,600.0,2100.5,60,60 57 54,8,,,,,,,,,,,real\r\n"); // a version 1 file: no class yet
    ASSERT_TRUE(review.export_csv(root / "out.csv"));
    EXPECT_EQ(read_text(root / "out.csv"), csv);
}

TEST_F(review_test, ClassesNoiseAndPlacesOnTheMoonAreReadAndOrderTheCandidates) {
    using testing::moon_block;
    using testing::with_fields;
    write_candidates(
        root / "Results_m1_s54_299", "m1", "/data/m1.ser",
        with_fields(candidate_json(1, "m1.ser", 40, 10, 8, 31.2), R"("class":"star","noise_expected":0.1)") + "," +
            with_fields(candidate_json(2, "m1.ser", 50, 30, 20, 9.5), R"("class":"flash","noise_expected":0.5)") + "," +
            with_fields(candidate_json(3, "m1.ser", 60, 32, 24, 12),
                        R"("class":"flash","noise_expected":0.001,"lat":1.5,"lon":-2.25,"lat_lon_err":0.4,)"
                        R"("peak_mag":6.125,"peak_mag_err":0.05,"energy_j":12500.0)") +
            "," +
            with_fields(candidate_json(4, "m1.ser", 70, 5, 5, 8),
                        R"("class":"moving","noise_expected":null,"position_note":"off the disk")"),
        moon_block(32, 24, 20));
    write_candidates(root / "Results_m2_s60_99", "m2", "/data/m2.ser", candidate_json(1, "m2.ser", 7, 3, 4, 12));
    review_model m;
    m.load({root / "Results_m1_s54_299", root / "Results_m2_s60_99"});
    ASSERT_EQ(m.candidates().size(), 5U);
    // Flashes first, the least likely from noise first; then the classes in groups; none last.
    EXPECT_EQ(m.order(), (std::vector<std::size_t>{2, 1, 0, 3, 4}));
    EXPECT_EQ(m.order("flash"), (std::vector<std::size_t>{2, 1}));
    EXPECT_EQ(m.classes(), (std::vector<std::string>{"flash", "star", "moving", ""}));
    EXPECT_EQ(m.candidates()[2].rank, 0U);
    EXPECT_EQ(m.candidates()[4].rank, 4U);

    const candidate& located = m.candidates()[2];
    EXPECT_DOUBLE_EQ(located.lat, 1.5);
    EXPECT_DOUBLE_EQ(located.energy_j, 12500.0);
    EXPECT_EQ(place_text(located), "lat 1.50, lon -2.25 (+- 0.40 deg)");
    EXPECT_EQ(place_text(m.candidates()[3]), "off the disk");
    EXPECT_TRUE(std::isnan(m.candidates()[3].noise_expected));

    // The grid and the limb lie on the disk of the file; the other file has none.
    const auto lines = moon_overlay(located);
    ASSERT_GT(lines.size(), 10U);
    for (const auto& line : lines)
        for (const astro::image_point& p : line) EXPECT_LE(std::hypot(p.x - 32, p.y - 24), 20.0 + 1e-6);
    EXPECT_NEAR(std::hypot(lines.back().front().x - 32, lines.back().front().y - 24), 20.0, 1e-9);
    EXPECT_TRUE(moon_overlay(m.candidates()[4]).empty());
}

TEST(ReviewView, CutOutPadsOutsideTheFrame) {
    const std::vector<std::uint16_t> frame{1, 2, 3, 4, 5, 6}; // 3 x 2
    EXPECT_EQ(cut_out(frame, 3, 2, 0, 0, 1), (std::vector<std::uint16_t>{0, 0, 0, 0, 1, 2, 0, 4, 5}));
    EXPECT_EQ(cut_out(frame, 3, 2, 2, 1, 0), (std::vector<std::uint16_t>{6}));
}

TEST(ReviewView, LightCurvePlotPutsThePeakHighest) {
    light_curve curve;
    curve.first_frame = 10;
    curve.excess = {0, 5, 50, 5, -5};
    curve.sigma = 5;
    const curve_plot plot = plot_light_curve(curve, 12, 101, 51);
    ASSERT_EQ(plot.points.size(), 5U);
    EXPECT_DOUBLE_EQ(plot.points[0].first, 0);
    EXPECT_DOUBLE_EQ(plot.points[4].first, 100);
    EXPECT_DOUBLE_EQ(plot.points[2].second, 0);  // the top
    EXPECT_DOUBLE_EQ(plot.points[4].second, 50); // the bottom
    EXPECT_DOUBLE_EQ(plot.peak_x, 50);
    EXPECT_LT(plot.sigma_y, plot.zero_y);
    EXPECT_DOUBLE_EQ(plot_light_curve(curve, 99, 101, 51).peak_x, -1);
}

} // namespace
} // namespace serflash::ui
