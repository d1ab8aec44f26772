#include "detect/batch.h"
#include "detect/batch_progress.h"
#include "detect/fast_scan.h"
#include "memory_fs.h"
#include "memory_scan.h"

#include <gtest/gtest.h>

namespace serflash::detect {
namespace {

scan_progress at(int file, int files, std::int32_t frame, std::int32_t last, double fraction) {
    scan_progress p;
    p.file_index = file;
    p.file_count = files;
    p.frame = frame;
    p.end_frame = last;
    p.file_fraction = fraction;
    return p;
}

TEST(BatchProgress, FilesNotYetOpenedAreEstimatedAndTheFractionNeverGoesBack) {
    double now = 100.0;
    std::vector<scan_progress> got;
    batch_progress b(
        3, [&](const scan_progress& p) { got.push_back(p); }, [&] { return now; });
    now = 102.0;
    b.file_progress(at(0, 3, 49, 99, 0.5)); // 100 frames, half done
    ASSERT_EQ(got.size(), 1U);
    EXPECT_EQ(got[0].frames_total, 300);
    EXPECT_TRUE(got[0].total_estimated);
    EXPECT_EQ(got[0].frames_done, 50);
    EXPECT_DOUBLE_EQ(got[0].elapsed_s, 2.0);
    EXPECT_DOUBLE_EQ(got[0].frames_per_second(), 25.0);
    ASSERT_TRUE(got[0].eta_s().has_value());
    EXPECT_DOUBLE_EQ(*got[0].eta_s(), 10.0); // 250 frames left at 25 a second

    b.file_progress(at(0, 3, 10, 99, 0.2)); // a replay reports an earlier frame
    EXPECT_EQ(got.back().frames_done, 50);
    b.file_done(0);
    EXPECT_EQ(got.back().frames_done, 100);
    EXPECT_DOUBLE_EQ(got.back().file_fraction, 1.0);

    b.file_done(1); // never opened (refused): counts nothing, says nothing
    EXPECT_EQ(got.size(), 3U);
    b.file_progress(at(2, 3, 299, 299, 1.0)); // 300 frames
    EXPECT_EQ(got.back().frames_total, 400);
    EXPECT_FALSE(got.back().total_estimated);
    EXPECT_DOUBLE_EQ(got.back().fraction(), 1.0);
    EXPECT_DOUBLE_EQ(*got.back().eta_s(), 0.0);
}

TEST(BatchProgress, NothingDoneGivesNoTimeLeft) {
    scan_progress p;
    EXPECT_FALSE(p.eta_s().has_value());
    EXPECT_DOUBLE_EQ(p.fraction(), 0.0);
    p.frames_total = 10;
    p.elapsed_s = 3.0;
    EXPECT_FALSE(p.eta_s().has_value());
}

TEST(BatchProgress, FractionOfAFileCountsThePassesStillToCome) {
    // At 60 with step 3, passes at 57, 54, 51, 48 and 45 follow: the first pass half done is 1/12.
    EXPECT_DOUBLE_EQ(file_fraction_of_passes(0, 60, 3, 49, 0, 99), 0.5 / 6.0);
    // Two passes done, the third (at 54) over: 3 of 6.
    EXPECT_DOUBLE_EQ(file_fraction_of_passes(2, 54, 3, 99, 0, 99), 3.0 / 6.0);
    // The last pass (45) ends the file.
    EXPECT_DOUBLE_EQ(file_fraction_of_passes(5, 45, 3, 99, 0, 99), 1.0);
    // A threshold below the lowest or a step of 0 plans no more passes.
    EXPECT_DOUBLE_EQ(file_fraction_of_passes(0, 40, 3, 99, 0, 99), 1.0);
    EXPECT_DOUBLE_EQ(file_fraction_of_passes(0, 60, 0, 49, 0, 99), 0.5);
    EXPECT_DOUBLE_EQ(file_fraction_of_sweep(-5, 10, 19), 0.0);
    EXPECT_DOUBLE_EQ(file_fraction_of_sweep(5, 10, 4), 1.0); // empty range
}

// Through the batch, with both scanners and with files scanned at once: the batch's frames add
// up to every file's range, the fraction only grows, and every file ends at 1.
TEST(BatchProgress, TheBatchReportsEveryFileToItsEnd) {
    constexpr int w = 32;
    const std::vector<std::vector<std::uint16_t>> frames(60, std::vector<std::uint16_t>(w * w, 1000));
    for (const bool fast : {false, true}) {
        for (const unsigned at_once : {1U, 2U}) {
            testing::memory_fs fs;
            batch_request req;
            req.fs = &fs;
            for (const std::string name : {"a.ser", "b.ser", "c.ser"}) {
                fs.files[name] = testing::ser_bytes(w, w, 16, frames);
                scan_job job{name, default_settings(60, 16, 0), {}, 0};
                job.settings.packet_size = 20;
                req.jobs.push_back(job);
            }
            req.jobs_at_once = at_once;
            if (fast) req.scanner = make_fast_scanner();
            std::vector<scan_progress> got;
            req.hooks.progress = [&](const scan_progress& p) { got.push_back(p); };
            const batch_report report = run_batch(req);
            ASSERT_TRUE(report.all_scanned());
            ASSERT_FALSE(got.empty());
            double last = 0.0;
            std::vector<int> ended(3, 0);
            for (const scan_progress& p : got) {
                EXPECT_GE(p.fraction(), last);
                last = p.fraction();
                EXPECT_GE(p.pass, 1);
                EXPECT_EQ(p.file_count, 3);
                if (p.file_fraction >= 1.0) ++ended[static_cast<std::size_t>(p.file_index)];
            }
            EXPECT_EQ(got.back().frames_total, 180);
            EXPECT_EQ(got.back().frames_done, 180);
            EXPECT_FALSE(got.back().total_estimated);
            for (const int n : ended) EXPECT_GE(n, 1);
        }
    }
}

} // namespace
} // namespace serflash::detect
