// Outputs that cannot be written fail their file and are named; a file that is replaced stays
// whole until its successor is written in full; the review's marks go through the same layer; a file-size limit is a
// failed write, not a kill; frames that cannot be read (a read error, a file cut short while scanned) are no zeros.
#include "scanned_files.h"

#include "detect/batch.h"
#include "detect/fast_scan.h"
#include "detect/memory_fs.h"
#include "detect/memory_scan.h"
#include "report/observation_sinks.h"
#include "synth/synth.h"
#include "ui/review_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace serflash {
namespace {

namespace fs = std::filesystem;

using testing::flash_file;

TEST(FailedWrites, ACandidatesTableOrPageNotWrittenFailsTheFile) {
    for (const std::string lost : {"_candidates.csv", "_candidates.json", "_report.html"}) {
        detect::testing::memory_fs mem;
        mem.files["m1.ser"] = flash_file(40);
        mem.refuse_write = [&](const std::string& p) { return p.size() > lost.size() && p.ends_with(lost); };
        detect::batch_request req;
        req.jobs.push_back({"m1.ser", detect::default_settings(40, 16, 0), {}, 0});
        req.fs = &mem;
        report::observation_options options;
        options.fs = &mem;
        req.sinks = report::observation_sinks(options);
        const detect::batch_report rep = detect::run_batch(req);
        ASSERT_EQ(rep.files.size(), 1U);
        const detect::file_report& f = rep.files[0];
        EXPECT_EQ(f.outcome, detect::file_outcome::failed) << lost;
        EXPECT_NE(f.problem_text().find("m1" + lost + " could not be written"), std::string::npos) << f.problem_text();
        EXPECT_FALSE(rep.all_scanned());
        std::string summary;
        for (const auto& [p, b] : mem.files)
            if (p.ends_with("_summary.txt")) summary.assign(b.begin(), b.end());
        EXPECT_NE(summary.find("The scan of this file is incomplete"), std::string::npos) << lost;
    }
}

TEST(FailedWrites, AReplacedFileStaysWholeUntilItsSuccessorIsWritten) {
    detect::testing::memory_fs mem;
    mem.dirs.insert("d");
    const std::string page = "d/m1_report.html";
    ASSERT_TRUE(platform::write_whole_file(mem, page, std::string(40000, 'a')));
    mem.refuse_write = [](const std::string& p) { return p.ends_with(".part"); }; // a full disk
    const platform::status again = platform::write_whole_file(mem, page, std::string(50000, 'b'));
    EXPECT_FALSE(again);
    EXPECT_EQ(mem.text(page), std::string(40000, 'a'));
    EXPECT_EQ(mem.files.count(page + ".part"), 0U);
    mem.refuse_write = nullptr;
    ASSERT_TRUE(platform::write_whole_file(mem, page, "new"));
    EXPECT_EQ(mem.text(page), "new");
    EXPECT_EQ(mem.files.size(), 1U);
}

TEST(FailedWrites, AFileSizeLimitIsAFailedWriteNotAKill) {
    char tmpl[] = "/tmp/serflash_fsize_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const platform::status put =
            platform::write_whole_file(platform::native_file_system(), dir + "/big.bmp", std::string(100000, 'x'));
        ::_exit(!put && put.reason() == "File too large" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    fs::remove_all(dir);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The machine's SER file, cut short to `keep` bytes once the scan reads the ten frames before
// them (a capture moved away while it is scanned).
class shrinking_input final : public platform::input_file {
public:
    shrinking_input(std::unique_ptr<platform::input_file> file, std::string path, std::int64_t keep)
        : file_(std::move(file)), path_(std::move(path)), keep_(keep) {}
    std::size_t read(void* dst, std::size_t n) override {
        cut(file_->tell());
        return file_->read(dst, n);
    }
    bool seek(std::int64_t pos) override { return file_->seek(pos); }
    std::int64_t tell() const override { return file_->tell(); }
    std::int64_t size() const override { return file_->size(); }
    std::size_t read_at(std::int64_t pos, void* dst, std::size_t n) override {
        cut(pos);
        return file_->read_at(pos, dst, n);
    }
    bool concurrent_reads() const override { return true; }
    std::optional<platform::read_failure> first_failed_read() const override { return file_->first_failed_read(); }

private:
    void cut(std::int64_t start) {
        const std::lock_guard lock(mutex_);
        const bool near_end = start < keep_ && start >= keep_ - 10 * 32 * 32 * 2;
        if (near_end && !cut_) fs::resize_file(path_, static_cast<std::uintmax_t>(keep_));
        cut_ = cut_ || near_end;
    }
    std::unique_ptr<platform::input_file> file_;
    std::string path_;
    std::int64_t keep_;
    std::mutex mutex_;
    bool cut_ = false;
};

class shrinking_fs final : public testing::native_forwarding_fs {
public:
    explicit shrinking_fs(std::int64_t keep) : keep_(keep) {}
    platform::result<std::unique_ptr<platform::input_file>> open_read(const std::string& path) override {
        auto file = native_forwarding_fs::open_read(path);
        if (!file || !path.ends_with(".ser")) return file;
        return std::unique_ptr<platform::input_file>(
            std::make_unique<shrinking_input>(std::move(file.value()), path, keep_));
    }

private:
    std::int64_t keep_;
};

TEST(FailedWrites, AFileCutShortWhileScannedEndsIncompleteNamingTheFrame) {
    for (const bool fast : {false, true}) {
        char tmpl[] = "/tmp/serflash_shrink_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        const std::string dir = tmpl;
        const std::vector<std::uint8_t> bytes = flash_file(60);
        {
            std::ofstream out(dir + "/m1.ser", std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        shrinking_fs cut(ser::header_size + 30 * 32 * 32 * 2); // frames 30 to 59 gone
        detect::batch_request req;
        req.jobs.push_back({dir + "/m1.ser", detect::default_settings(60, 16, 0), {}, 0});
        req.results_parent = dir;
        req.fs = &cut;
        if (fast) req.scanner = detect::make_fast_scanner({2});
        const detect::batch_report rep = detect::run_batch(req);
        fs::remove_all(dir);
        ASSERT_EQ(rep.files.size(), 1U);
        EXPECT_EQ(rep.files[0].outcome, detect::file_outcome::failed) << (fast ? "fast" : "reference");
        const std::string why = rep.files[0].problem_text();
        const std::size_t at = why.find("frame ");
        ASSERT_NE(at, std::string::npos) << why;
        EXPECT_GE(std::stoi(why.substr(at + 6)), 30) << why; // a frame that is gone, not one before
        EXPECT_NE(why.find("could not be read (the file ends at byte"), std::string::npos) << why;
    }
}

// The review's marks go through the file layer: a link in their place, or where a temporary
// file beside them would go, is never written through, and a folder in their place is a failed
// write, named.
TEST(FailedWrites, MarksThatCannotBeWrittenAreNamedAndNothingElseIsTouched) {
    char tmpl[] = "/tmp/serflash_marks_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const fs::path folder = dir / "Results_m1";
    {
        detect::testing::memory_fs mem;
        mem.files["m1.ser"] = flash_file(40);
        testing::scan_with_outputs(mem, {"m1.ser", detect::default_settings(40, 16, 0), {}, 0});
        fs::create_directories(folder);
        std::ofstream(folder / "m1_candidates.json", std::ios::binary)
            << testing::file_ending(mem, "m1_candidates.json");
    }
    const fs::path outside = dir / "elsewhere.txt";
    std::ofstream(outside) << "not the marks";
    ui::review_model review;
    review.load({folder});
    ASSERT_FALSE(review.candidates().empty()) << ::testing::PrintToString(review.errors());

    const auto outside_text = [&] {
        std::ifstream kept(outside);
        return std::string(std::istreambuf_iterator<char>(kept), {});
    };
    std::string why;
    for (const std::string link : {"m1_marks.json", "m1_marks.json.part", "m1_marks.json.tmp"}) {
        fs::create_symlink(outside, folder / link);
        review.set_mark(0, ui::verdict::real, &why);
        EXPECT_EQ(outside_text(), "not the marks") << "written through a link at " << link;
        for (const auto& e : fs::directory_iterator(folder))
            if (fs::is_symlink(e.symlink_status())) fs::remove(e.path());
    }

    fs::remove(folder / "m1_marks.json");
    fs::create_directory(folder / "m1_marks.json");
    EXPECT_FALSE(review.set_mark(0, ui::verdict::false_alarm, &why));
    EXPECT_NE(why.find("m1_marks.json"), std::string::npos) << why;

    fs::remove(folder / "m1_marks.json");
    EXPECT_TRUE(review.set_mark(0, ui::verdict::unsure, &why)) << why;
    EXPECT_TRUE(fs::is_regular_file(folder / "m1_marks.json"));
    fs::remove_all(dir);
}

} // namespace
} // namespace serflash
