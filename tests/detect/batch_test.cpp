#include "detect/batch.h"
#include "detect/fast_scan.h"
#include "memory_fs.h"
#include "memory_scan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace serflash::detect {
namespace {

using testing::memory_fs;
using testing::ser_bytes;
using frames_t = std::vector<std::vector<std::uint16_t>>;

constexpr int W = 32;

frames_t frames_with_flash(int n, int flash_frame) {
    frames_t f(static_cast<std::size_t>(n), std::vector<std::uint16_t>(W * W, 1000));
    if (flash_frame >= 0) {
        auto& fr = f[static_cast<std::size_t>(flash_frame)];
        for (const auto& d : {std::pair{0, 0}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}})
            fr[static_cast<std::size_t>((15 + d.first) * W + 16 + d.second)] += 400;
    }
    return f;
}

struct batch_rig {
    memory_fs fs;
    std::vector<scan_job> jobs;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<int> marked;

    // A job for the file with the defaults the desktop program gives it.
    void add(const std::string& path, std::vector<std::uint8_t> bytes, std::int32_t frames, std::int32_t depth = 16) {
        fs.files[path] = std::move(bytes);
        jobs.push_back({path, default_settings(frames, depth, 0), {}, 0});
    }
    void add_ser(const std::string& path, const frames_t& frames, std::int32_t depth = 16) {
        add(path, ser_bytes(W, W, depth, frames), static_cast<std::int32_t>(frames.size()), depth);
    }

    batch_report run() {
        batch_request req;
        req.jobs = jobs;
        req.fs = &fs;
        req.hooks.message = [this](const engine_message& m) {
            messages.emplace_back(std::string(caption_text(m.caption)), m.text);
        };
        req.hooks.row_marked = [this](int i) { marked.push_back(i); };
        req.clock = [] { return local_time{2026, 12, 7, 9, 5, 3, 0}; };
        return run_batch(req);
    }
};

TEST(Batch, EmptyTable) {
    batch_rig r;
    const auto rep = r.run();
    EXPECT_TRUE(rep.empty_table);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0],
              (std::pair<std::string, std::string>{"IDC_BUTTON_FILE_TO_FILE", "Error: There is no file to scan."}));
    EXPECT_FALSE(rep.all_scanned());
}

TEST(Batch, TimesMessage) {
    batch_report rep;
    rep.start = {2026, 12, 7, 9, 5, 3, 0};
    rep.end = {2026, 12, 7, 10, 15, 59, 0};
    EXPECT_EQ(rep.times_message(), "Month_Day 12_07  09h05m03s\nMonth_Day 12_07  10h15m59s");
}

TEST(Batch, NamesOfFolders) {
    EXPECT_EQ(base_name_of("/data/2024/m1.ser"), "m1");
    EXPECT_EQ(base_name_of("a.b.ser"), "a.b");
    EXPECT_EQ(base_name_of("dir.x/noext"), "noext");
    EXPECT_EQ(base_name_of("clip.v2 final"), "clip.v2 final");
    EXPECT_EQ(base_name_of("night 2/clip 3.ser"), "clip 3");
    EXPECT_EQ(base_name_of("m1."), "m1");
    EXPECT_EQ(results_folder_name("m1"), "Results_m1");
    EXPECT_EQ(results_folder_name(std::string(200, 'a')).size(), 99u);
    // A cut never splits a UTF-8 character.
    const std::string accented = std::string(90, 'a') + "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(results_folder_name(accented), "Results_" + std::string(90, 'a'));
}

TEST(Batch, ScansEveryRowIntoItsFolderAndReportsTimes) {
    batch_rig r;
    r.add_ser("in/m1.ser", frames_with_flash(50, 20));
    r.add_ser("in/m2.ser", frames_with_flash(50, -1));
    const auto rep = r.run();
    EXPECT_TRUE(rep.all_scanned());
    EXPECT_EQ(r.marked, (std::vector<int>{0, 1}));
    ASSERT_EQ(rep.files.size(), 2u);
    // 50 frames: Max 1, one packet of 50; the flash (6.93 deviations) is found at 60 to 69,
    // so the threshold is raised four times; 72 finds nothing and the file ends at 69.
    EXPECT_EQ(rep.files[0].result_dir, "Results_m1_s69_20");
    EXPECT_EQ(rep.files[0].det_frames, 1);
    EXPECT_EQ(rep.files[1].result_dir, "Results_m2_s45_50");
    const std::string text = r.fs.text("Results_m1_s69_20/m1_summary.txt");
    EXPECT_EQ(
        text.rfind(
            "--------------SER File Header Information--------------\r\nFileID(14byte)\x81\x46SERFLASH-TESTS\r\r\n", 0),
        0u);
    EXPECT_NE(text.find("start_frame# = 0  end_frame# = 49  packet_size = 50frames  brightness = 4\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Mask around RED pixels OFF\r\n"), std::string::npos);
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages.back().first, "The scans of all SER files completed!");
    EXPECT_EQ(r.messages.back().second, "Month_Day 12_07  09h05m03s\nMonth_Day 12_07  09h05m03s");
}

// The values a job leaves to its file come from the scan's own reading of the header, and the
// result sinks read through the scan's reader: the file is opened once.
TEST(Batch, EachFileIsOpenedOnceAndItsJobCompletedFromItsHeader) {
    struct frames_seen final : result_sink {
        explicit frames_seen(ser::ser_reader& r, std::int32_t& seen) : reader(r), out(seen) {}
        void scan_finished(std::int32_t, std::int32_t) override { out = reader.frames_present(); }
        ser::ser_reader& reader;
        std::int32_t& out;
    };
    batch_rig r;
    r.fs.files["in/m1.ser"] = ser_bytes(W, W, 16, frames_with_flash(50, 20));
    r.jobs.push_back({"in/m1.ser", default_settings(0, 16, 0), {}, 0});
    batch_request req;
    req.jobs = r.jobs;
    req.fs = &r.fs;
    req.clock = [] { return local_time{2026, 12, 7, 9, 5, 3, 0}; };
    std::int32_t completed_with = -1;
    req.complete_job = [&](scan_job& job, const ser::ser_reader& reader) {
        completed_with = reader.frames_present();
        job.settings = default_settings(reader.frames_present(), reader.depth(), 0);
    };
    std::int32_t sink_saw = -1;
    req.sinks = [&](const scan_job&, const std::string&, ser::ser_reader& reader, const core_budget&) {
        std::vector<std::unique_ptr<result_sink>> sinks;
        sinks.push_back(std::make_unique<frames_seen>(reader, sink_saw));
        return sinks;
    };
    const batch_report rep = run_batch(req);
    ASSERT_EQ(rep.files.size(), 1u);
    EXPECT_EQ(rep.files[0].result_dir, "Results_m1_s69_20");
    EXPECT_EQ(completed_with, 50);
    EXPECT_EQ(sink_saw, 50);
    EXPECT_EQ(r.fs.reads, 1);
    EXPECT_NE(r.fs.text("Results_m1_s69_20/m1_summary.txt")
                  .find("start_frame# = 0  end_frame# = 49  packet_size = 50frames  brightness = 4\r\n"),
              std::string::npos);
}

TEST(Batch, UnsoundRowsAreRefusedAndTheBatchGoesOn) {
    batch_rig r;
    const auto good = frames_with_flash(20, -1);
    for (const char* name : {"pack0", "short", "neg", "beyond", "step", "ok"})
        r.add_ser(std::string("in/") + name + ".ser", good);
    r.jobs[0].settings.packet_size = 0;
    r.jobs[1].settings.start_frame = 5; // 15 frames, packet of 20
    r.jobs[2].settings.start_frame = -1;
    r.jobs[3].settings.end_frame = 20; // the file holds frames 0 to 19
    r.jobs[3].settings.packet_size = 21;
    auto rep = r.run();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rep.files[static_cast<std::size_t>(i)].outcome, file_outcome::failed) << i;
        EXPECT_NE(r.messages[static_cast<std::size_t>(i)].second.find(r.jobs[static_cast<std::size_t>(i)].path),
                  std::string::npos);
    }
    EXPECT_EQ(rep.files[4].outcome, file_outcome::scanned);
    EXPECT_EQ(rep.files[5].outcome, file_outcome::scanned);
    EXPECT_FALSE(rep.all_scanned());
    EXPECT_EQ(r.fs.text("Results_pack0/pack0_summary.txt"), "");

    batch_rig s;
    s.add_ser("in/step.ser", good);
    s.jobs[0].settings.threshold_step = 0;
    rep = s.run();
    EXPECT_EQ(rep.files[0].outcome, file_outcome::failed);
    EXPECT_NE(rep.files[0].problem_text().find("step"), std::string::npos);
}

TEST(Batch, OtherDepthsAreSkippedWithAnEmptyFolder) {
    batch_rig r;
    r.add("in/d12.ser", ser_bytes(W, W, 12, frames_with_flash(20, -1)), 20, 12);
    const auto rep = r.run();
    EXPECT_EQ(rep.files[0].outcome, file_outcome::skipped_depth);
    EXPECT_TRUE(r.fs.dirs.count("Results_d12"));
    EXPECT_TRUE(r.fs.names_in("Results_d12").empty());
    EXPECT_EQ(r.messages.size(), 1u); // only the closing message
}

TEST(Batch, FilesThatCannotBeOpenedOrWrittenAreReported) {
    batch_rig r;
    r.add_ser("in/a.ser", frames_with_flash(20, -1));
    r.jobs[0].path = "in/missing.ser";
    r.add_ser("in/b.ser", frames_with_flash(20, -1));
    r.add_ser("in/c.ser", frames_with_flash(20, -1));
    r.fs.refuse_create = [](const std::string& p) { return p == "Results_b/b_summary.txt"; };
    const auto rep = r.run();
    EXPECT_EQ(rep.files[0].outcome, file_outcome::failed);
    EXPECT_NE(r.messages[0].second.find("in/missing.ser"), std::string::npos);
    EXPECT_EQ(r.fs.dirs.count("Results_missing"), 0u);
    EXPECT_EQ(rep.files[1].outcome, file_outcome::failed);
    EXPECT_NE(r.messages[1].second.find("Results_b/b_summary.txt"), std::string::npos);
    EXPECT_EQ(rep.files[2].outcome, file_outcome::scanned);

    batch_rig locked;
    locked.fs.refuse_mkdir = true;
    locked.add_ser("in/a.ser", frames_with_flash(20, -1));
    const auto rep2 = locked.run();
    EXPECT_EQ(rep2.files[0].outcome, file_outcome::failed);
    EXPECT_NE(rep2.files[0].problem_text().find("results folder"), std::string::npos);
    EXPECT_EQ(locked.fs.creates, 0);
}

TEST(Batch, EarlierResultsAreNeverReusedOrReplaced) {
    batch_rig r;
    r.fs.dirs.insert("Results_m1_s45_20");
    r.fs.files["Results_m1_s45_20/m1_summary.txt"] = {'o', 'l', 'd'};
    r.add_ser("in/m1.ser", frames_with_flash(20, -1));
    r.add_ser("other/m1.ser", frames_with_flash(20, -1));
    const auto rep = r.run();
    // The final name is taken: the results stay in Results_m1, and the message says so.
    EXPECT_EQ(rep.files[0].result_dir, "Results_m1");
    EXPECT_TRUE(rep.files[0].folder_taken.empty());
    const auto told = [&](const std::string& part) {
        return std::any_of(r.messages.begin(), r.messages.end(),
                           [&](const auto& m) { return m.second.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(told("Results_m1_s45_20 already exists"));
    EXPECT_TRUE(told("The results of this scan are in Results_m1."));
    // The same name again: Results_m1 holds files, so the next free name is used and renamed.
    EXPECT_EQ(rep.files[1].result_dir, "Results_m1-2_s45_20");
    EXPECT_EQ(rep.files[1].folder_taken, "Results_m1");
    EXPECT_EQ(r.fs.text("Results_m1_s45_20/m1_summary.txt"), "old");
    const std::string first = r.fs.text("Results_m1/m1_summary.txt");
    EXPECT_EQ(first.find("SER File Header", 100), std::string::npos);
    EXPECT_EQ(first, r.fs.text("Results_m1-2_s45_20/m1_summary.txt"));
    EXPECT_EQ(r.fs.names_in("Results_m1").size(), r.fs.names_in("Results_m1-2_s45_20").size());
}

TEST(Batch, ResultsFolderThatIsALinkOrAFileIsPassedOver) {
    batch_rig r;
    r.fs.links.insert("Results_m1");
    r.fs.files["Results_m1-2"] = {'x'};
    r.fs.dirs.insert("Results_m1-3"); // empty, but perhaps just made by another scan: passed over too
    r.add_ser("in/m1.ser", frames_with_flash(20, -1));
    const auto rep = r.run();
    EXPECT_EQ(rep.files[0].outcome, file_outcome::scanned);
    EXPECT_EQ(rep.files[0].result_dir, "Results_m1-4_s45_20");
    EXPECT_EQ(rep.files[0].folder_taken, "Results_m1");
    EXPECT_TRUE(r.fs.links.count("Results_m1"));
    EXPECT_EQ(r.fs.text("Results_m1-2"), "x");
    EXPECT_TRUE(r.fs.names_in("Results_m1").empty());
    // A long base name is cut so that the suffix still fits the 99 bytes.
    EXPECT_EQ(results_folder_name(std::string(200, 'a'), "-12").size(), 99u);
    EXPECT_EQ(results_folder_name(std::string(200, 'a'), "-12").substr(96), "-12");
}

TEST(Batch, AnOutputNotWrittenMakesTheFileFailAndTheSummarySaysSo) {
    // The snapshot of the flash cannot be written (a full disk, no free inodes).
    batch_rig lost;
    lost.add_ser("in/m1.ser", frames_with_flash(50, 20));
    lost.fs.refuse_write = [](const std::string& p) { return p.size() > 4 && p.substr(p.size() - 4) == ".bmp"; };
    auto rep = lost.run();
    EXPECT_EQ(rep.files[0].outcome, file_outcome::failed);
    EXPECT_TRUE(rep.files[0].incomplete);
    EXPECT_FALSE(rep.all_scanned());
    EXPECT_EQ(rep.files[0].result_dir, "Results_m1_s69_20"); // the results are kept and renamed
    EXPECT_NE(rep.files[0].problem_text().find("snapshots could not be written"), std::string::npos);
    std::string text = lost.fs.text("Results_m1_s69_20/m1_summary.txt");
    EXPECT_NE(text.find("Number of detections = 1\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.rfind("------The scan")),
              "------The scan of this file is incomplete: snapshots could not be written (No space left on "
              "device).------\r\n");

    // The summary stops taking writes after its first pass.
    batch_rig full;
    full.add_ser("in/m2.ser", frames_with_flash(50, -1));
    int writes = 0;
    full.fs.refuse_write = [&](const std::string& p) {
        return p == "Results_m2/m2_summary.txt" && ++writes > 20; // the header and the first pass
    };
    rep = full.run();
    EXPECT_EQ(rep.files[0].outcome, file_outcome::failed);
    EXPECT_TRUE(rep.files[0].incomplete);
    EXPECT_NE(rep.files[0].problem_text().find("the summary file could not be written completely"), std::string::npos);
    const auto said = std::count_if(full.messages.begin(), full.messages.end(), [](const auto& m) {
        return m.second.find("m2_summary.txt could not be written completely") != std::string::npos;
    });
    EXPECT_EQ(said, 1); // told once per file

    // Default outputs carry no such line.
    batch_rig ok;
    ok.add_ser("in/m1.ser", frames_with_flash(50, 20));
    rep = ok.run();
    EXPECT_FALSE(rep.files[0].incomplete);
    EXPECT_EQ(ok.fs.text("Results_m1_s69_20/m1_summary.txt").find("incomplete"), std::string::npos);
}

TEST(Batch, NoPassRanKeepsTheOutputsButFails) {
    batch_rig r;
    r.add_ser("in/low.ser", frames_with_flash(20, 5));
    r.add_ser("in/max0.ser", frames_with_flash(20, 5));
    r.jobs[0].settings.threshold = 40;
    r.jobs[1].settings.max_det_frames = 0;
    const auto rep = r.run();
    // The described outputs: the closing block alone, the folder renamed with init + step.
    EXPECT_EQ(rep.files[0].result_dir, "Results_low_s43_0");
    EXPECT_EQ(rep.files[1].result_dir, "Results_max0_s63_0");
    const std::string closing =
        "\r\n--------------------------------------------------------------------\r\n"
        "Number of frames that include detections = 0\r\nNumber of detections = 0\r\n"
        "--------------------------------------------------------------------\r\n\r\n";
    for (const char* p : {"Results_low_s43_0/low_summary.txt", "Results_max0_s63_0/max0_summary.txt"}) {
        const std::string text = r.fs.text(p);
        ASSERT_GT(text.size(), closing.size());
        EXPECT_EQ(text.substr(text.size() - closing.size()), closing) << p;
        EXPECT_EQ(text.find("Threshold:"), std::string::npos);
    }
    for (const auto& f : rep.files) EXPECT_EQ(f.outcome, file_outcome::failed);
    EXPECT_NE(rep.files[0].no_pass.find("initial threshold 40 is below the lowest threshold 45"), std::string::npos);
    EXPECT_NE(rep.files[1].no_pass.find("Max is 0"), std::string::npos);
    EXPECT_NE(r.messages[0].second.find("no pass ran"), std::string::npos);
    EXPECT_FALSE(rep.all_scanned());
}

// Mask sizes and a star ring far larger than the image act as sizes of the image's larger side:
// the same results from both scanners, without work or memory that grows with the setting.
TEST(Batch, HugeMaskSizesAndStarWidthAreClippedToTheImage) {
    constexpr std::int32_t huge = 2147483647;
    std::vector<std::vector<std::string>> snapshots;
    std::vector<std::string> summaries;
    for (const bool fast : {false, true}) {
        for (const std::int32_t size : {huge, W}) {
            batch_rig r;
            r.add_ser("in/m1.ser", frames_with_flash(50, 20));
            scan_settings& s = r.jobs[0].settings;
            s.star_half_width = size;
            s.star_mask_half = size;
            s.red_mask_half = size;
            s.blue_mask_half = size;
            s.red_level = 1005; // only the flash's centre is brighter on average: the whole image is masked
            r.jobs[0].switches = {true, true, true};
            batch_request req;
            req.jobs = r.jobs;
            req.fs = &r.fs;
            if (fast) req.scanner = make_fast_scanner();
            const auto rep = run_batch(req);
            ASSERT_EQ(rep.files[0].outcome, file_outcome::scanned) << rep.files[0].problem_text();
            snapshots.push_back(r.fs.names_in(rep.files[0].result_dir));
            summaries.push_back(r.fs.text(rep.files[0].result_dir + "/m1_summary.txt"));
        }
    }
    // The summary keeps the value as given.
    EXPECT_NE(summaries[0].find("Star size 2147483647 "), std::string::npos);
    EXPECT_NE(summaries[0].find("Mask size 2147483647\r\n"), std::string::npos);
    for (std::size_t k = 1; k < snapshots.size(); ++k) EXPECT_EQ(snapshots[k], snapshots[0]) << k;
    EXPECT_EQ(summaries[1], summaries[3]);
    EXPECT_EQ(summaries[0], summaries[2]);
    // Everything after the parameters is the same at both sizes.
    const auto passes = [](const std::string& t) { return t.substr(t.find("------------Detection")); };
    EXPECT_EQ(passes(summaries[0]), passes(summaries[1]));
}

TEST(Batch, EmptyAndFramelessFilesAreNamedSo) {
    batch_rig r;
    r.add("in/empty.ser", {}, 0);
    r.add("in/short.ser", std::vector<std::uint8_t>(100, 0), 0);
    auto frameless = ser_bytes(W, W, 16, frames_with_flash(2, -1));
    frameless.resize(178 + W * W); // half a frame
    r.add("in/frameless.ser", frameless, 0);
    const auto rep = r.run();
    EXPECT_EQ(rep.files[0].problem_text(), "the file is empty");
    EXPECT_EQ(rep.files[1].problem_text(), "the file holds only 100 bytes, fewer than the 178 of a SER header");
    EXPECT_EQ(rep.files[2].problem_text(),
              "the file holds no whole frame (1024 bytes after the header, a frame "
              "takes 2048)");
    for (const auto& f : rep.files) EXPECT_EQ(f.outcome, file_outcome::failed);
    EXPECT_EQ(r.fs.dirs.count("Results_empty"), 0u);
}

TEST(Batch, SameInputGivesIdenticalBytes) {
    batch_rig a, b;
    for (auto* r : {&a, &b}) {
        r->add_ser("in/m1.ser", frames_with_flash(50, 20));
        r->jobs[0].switches.stars = true;
        r->run();
    }
    EXPECT_EQ(a.fs.files, b.fs.files);
    EXPECT_EQ(a.fs.dirs, b.fs.dirs);
}

} // namespace
} // namespace serflash::detect
