// Several files scanned at once, or with the straightforward scan, leave the same results and
// print the same lines in the same order as one file after the other with the fast scan.
#include "bench/scan_once.h"
#include "cli/scan_runner.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace serflash::cli {
namespace {

namespace fs = std::filesystem;

class ScanJobs : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/serflash_jobs_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string make(const std::string& name, std::int32_t frames, std::uint64_t seed, bool flashes,
                     std::int32_t depth = 16) {
        synth::params p = synth::default_params(depth);
        p.width = 96;
        p.height = 64;
        p.frames = frames;
        p.seed = seed;
        p.stars = 2;
        p.hot_pixels = 2;
        if (flashes) p.flashes = {{30, 20, frames / 3, 900.0, 1}, {20, 30, frames / 2, 700.0, 2}};
        const std::string path = root_ + "/" + name;
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(synth::write_ser(platform::native_file_system(), path, p).ok);
        return path;
    }

    struct outcome {
        std::string out, err;
        std::map<std::string, std::string> tree;
    };
    // Runs the request into a folder of its own; the folder's name is taken out of the text.
    outcome run(scan_request req, const std::string& name) {
        const std::string dir = root_ + "/" + name;
        fs::create_directories(dir);
        req.dir = dir;
        std::ostringstream out, err;
        run_scan_request(req, out, err, nullptr);
        outcome o{out.str(), err.str(), bench::read_tree(dir)};
        for (std::string* text : {&o.out, &o.err})
            for (std::size_t at; (at = text->find(dir)) != std::string::npos;) text->replace(at, dir.size(), "DIR");
        // The closing message carries the start and end times.
        o.err = o.err.substr(0, o.err.find("The scans of all SER files completed!"));
        return o;
    }
    std::string root_;
};

TEST_F(ScanJobs, FilesAtOnceGiveTheResultsAndLinesOfOneAfterTheOther) {
    scan_request req;
    req.files = {make("a.ser", 120, 1, true),    make("short.ser", 20, 6, false), make("b.ser", 90, 2, false),
                 make("c.ser", 150, 3, true, 8), root_ + "/missing.ser",          make("sub/a.ser", 60, 4, true),
                 make("d.ser", 200, 5, true)};
    req.per_file.packet_size = 40;
    const outcome one = run(req, "one");
    for (const unsigned jobs : {2U, 4U}) {
        req.jobs = jobs;
        const outcome many = run(req, "jobs" + std::to_string(jobs));
        EXPECT_EQ(many.out, one.out) << jobs << " jobs";
        EXPECT_EQ(many.err, one.err) << jobs << " jobs";
        EXPECT_EQ(many.tree, one.tree) << jobs << " jobs";
    }
    EXPECT_LT(one.err.find("short.ser"), one.err.find("missing.ser"));
    // The two files named a.ser have a results folder each, with its own summary: the later one
    // never writes into the earlier one's.
    const auto summaries_of_a = std::count_if(one.tree.begin(), one.tree.end(), [](const auto& entry) {
        return entry.first.rfind("Results_a", 0) == 0 && entry.first.ends_with("/a_summary.txt");
    });
    EXPECT_EQ(summaries_of_a, 2);

    req.jobs = 1;
    req.reference = true;
    const outcome reference = run(req, "reference");
    EXPECT_EQ(reference.out, one.out);
    EXPECT_EQ(reference.tree, one.tree);
}

TEST_F(ScanJobs, StopWithFilesAtOnceEndsTheRunAndReportsEachFileOnce) {
    scan_request req;
    for (int k = 0; k < 8; ++k) req.files.push_back(make("f" + std::to_string(k) + ".ser", 400, 10 + k, true));
    req.per_file.packet_size = 20;
    req.jobs = 2;
    req.dir = root_ + "/stopped";
    fs::create_directories(req.dir);
    std::ostringstream out, err;
    const scan_run run = run_scan_request(req, out, err, nullptr, [] { return true; });
    EXPECT_TRUE(run.stopped);
    ASSERT_EQ(run.files.size(), 8U);
    const std::string o = out.str();
    EXPECT_EQ(std::count(o.begin(), o.end(), '\n'), 8);
    int unfinished = 0;
    for (const auto& f : run.files)
        if (f.outcome == detect::file_outcome::stopped || f.outcome == detect::file_outcome::not_reached) ++unfinished;
    EXPECT_GE(unfinished, 1);
}

} // namespace
} // namespace serflash::cli
