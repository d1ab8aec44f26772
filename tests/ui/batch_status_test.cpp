#include "review_fixture.h"
#include "ui/batch_status.h"

#include <gtest/gtest.h>

namespace serflash::ui {
namespace {

detect::file_report file(const std::string& path, detect::file_outcome outcome, const std::string& dir,
                         std::int32_t det_frames) {
    detect::file_report f;
    f.path = path;
    f.outcome = outcome;
    f.result_dir = dir;
    f.det_frames = det_frames;
    return f;
}

TEST(BatchStatus, FilesFindingsFoldersAndPassesEndedEarly) {
    const auto root = std::filesystem::temp_directory_path() /
                      ("serflash_status_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(root);
    testing::write_candidates(
        root / "Results_a_s54_299", "a", "/d/a.ser",
        testing::candidate_json(1, "a.ser", 40, 5, 6, 20) + "," + testing::candidate_json(2, "a.ser", 90, 7, 8, 9));
    std::filesystem::create_directories(root / "Results_b_s60_99");

    detect::batch_report report;
    report.files.push_back(file("/d/a.ser", detect::file_outcome::scanned, "Results_a_s54_299", 5));
    report.files.push_back(file("/d/b.ser", detect::file_outcome::stopped, "Results_b_s60_99", 1));
    report.files.push_back(file("/d/c.ser", detect::file_outcome::not_reached, "", 0));
    report.files.push_back(file("/d/d.ser", detect::file_outcome::failed, "Results_gone", 0));
    detect::pass_report full, scattered, stopped;
    full.frame_reached = 300; // one past the stop frame 299: the whole range
    for (auto& f : report.files) f.end_frame = 299;
    scattered.threshold = 57;
    scattered.end = detect::pass_end::scattered;
    scattered.frame_reached = 120;
    stopped.threshold = 60;
    stopped.end = detect::pass_end::stopped;
    stopped.frame_reached = 33;
    report.files[0].passes = {full, scattered};
    report.files[1].passes = {stopped};

    const auto folders = result_folders(report, root);
    ASSERT_EQ(folders.size(), 2U); // the folder that is not there is left out
    EXPECT_EQ(folders[0], root / "Results_a_s54_299");
    EXPECT_EQ(batch_status(report, folders),
              "3 files scanned: 6 frames with detections, 2 candidates. a.ser frames 0 to 299 examined, b.ser "
              "frames 0 to 33 examined, d.ser no frame examined. Results in Results_a_s54_299, Results_b_s60_99. "
              "Passes ended early: a.ser at 5.7 (scattered frame, frame 120), b.ser at 6.0 (stop, frame 33).");
    report.start = {2026, 12, 10, 9, 8, 26, 0};
    report.end = {2026, 12, 10, 9, 8, 29, 0};
    EXPECT_EQ(batch_headline(report, count_results(report, folders)),
              "Scan finished: 3 files, 2 candidates, 09:08:26 to 09:08:29");
    report.stopped = true;
    EXPECT_EQ(batch_headline(report, count_results(report, {})),
              "Scan stopped: 3 files, 6 frames with detections, 09:08:26 to 09:08:29");

    // Without candidate files the count is left out; one file reads in the singular.
    detect::batch_report one;
    one.files.push_back(file("/d/b.ser", detect::file_outcome::scanned, "Results_b_s60_99", 1));
    one.files[0].passes = {full};
    one.files[0].end_frame = 0;
    EXPECT_EQ(batch_status(one, result_folders(one, root)),
              "1 file scanned: 1 frame with detections. b.ser frame 0 examined. Results in Results_b_s60_99.");
    std::filesystem::remove_all(root);
}

TEST(BatchStatus, ThresholdText) {
    EXPECT_EQ(threshold_text(57), "5.7");
    EXPECT_EQ(threshold_text(100), "10.0");
    EXPECT_EQ(threshold_text(-5), "-0.5");
}

} // namespace
} // namespace serflash::ui
