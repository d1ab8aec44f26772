// Scans started together: a results folder belongs to the scan whose own mkdir made it, and a
// failure in any worker reaches the waiting thread at every thread count.
#include "scanned_files.h"

#include "detect/batch.h"
#include "detect/fast_scan.h"
#include "detect/memory_fs.h"
#include "detect/work_pool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace serflash::detect {
namespace {

TEST(Concurrency, AFolderThereAlreadyIsNeverClaimedEvenWhenEmpty) {
    testing::memory_fs fs;
    fs.dirs.insert("Results_a"); // just made by another scan, nothing in it yet
    const auto claimed = claim_results_folder(fs, ".", "a");
    ASSERT_TRUE(claimed);
    EXPECT_EQ(claimed.value(), "Results_a-2");
    const auto next = claim_results_folder(fs, ".", "a");
    ASSERT_TRUE(next);
    EXPECT_EQ(next.value(), "Results_a-3");
}

TEST(Concurrency, AWorkersExceptionReachesTheWaitingThreadAtEveryThreadCount) {
    for (const unsigned workers : {0U, 2U, 3U}) {
        work_pool pool(workers);
        EXPECT_THROW(pool.run(8,
                              [](unsigned part) {
                                  if (part == 5) throw std::runtime_error("band failed");
                              }),
                     std::runtime_error)
            << workers << " workers";
        // The pool stays usable, and the failure is not thrown again.
        int ran = 0;
        std::mutex m;
        EXPECT_NO_THROW(pool.run(4, [&](unsigned) {
            const std::lock_guard lock(m);
            ++ran;
        }));
        EXPECT_EQ(ran, 4);
    }
}

// The machine's file system, saying as asked whether it takes writes from several threads, and
// noting the threads that open files for writing.
class write_watching_fs final : public serflash::testing::native_forwarding_fs {
public:
    explicit write_watching_fs(bool concurrent) : concurrent_(concurrent) {}
    bool concurrent_writes() override { return concurrent_; }
    platform::result<std::unique_ptr<platform::output_file>> open_write(const std::string& path,
                                                                        platform::write_mode mode) override {
        {
            const std::lock_guard lock(mutex_);
            writers.insert(std::this_thread::get_id());
        }
        return native_forwarding_fs::open_write(path, mode);
    }
    std::set<std::thread::id> writers;

private:
    bool concurrent_;
    std::mutex mutex_;
};

TEST(Concurrency, SnapshotsComeFromOneThreadUnlessTheFileSystemTakesMore) {
    namespace fs = std::filesystem;
    std::map<bool, std::map<std::string, std::string>> snapshots; // by concurrent_writes()
    for (const bool concurrent : {false, true}) {
        const fs::path dir = fs::temp_directory_path() / ("serflash-writers-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        // A flash in 12 frames, each at a place of its own and a snapshot of its own.
        std::vector<std::vector<std::uint16_t>> f(60, std::vector<std::uint16_t>(32 * 32));
        for (std::size_t k = 0; k < f.size(); ++k)
            for (std::size_t i = 0; i < f[k].size(); ++i)
                f[k][i] = static_cast<std::uint16_t>(1000 + (i * 7 + k * 13) % 23);
        for (std::size_t k = 4; k < 52; k += 4)
            for (const auto& d : {std::pair{0, 0}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}})
                f[k][static_cast<std::size_t>((6 + static_cast<int>(k) / 3 + d.first) * 32 + 8 +
                                              static_cast<int>(k) / 3 + d.second)] += 900;
        const std::vector<std::uint8_t> bytes = testing::ser_bytes(32, 32, 16, f);
        std::ofstream(dir / "w.ser", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

        write_watching_fs watch(concurrent);
        batch_request req;
        scan_settings settings = default_settings(60, 16, 0);
        settings.max_det_frames = 100;
        req.jobs.push_back({(dir / "w.ser").string(), settings, {}, 0});
        req.results_parent = dir.string();
        req.fs = &watch;
        req.scanner = make_fast_scanner({2});
        const batch_report rep = run_batch(req);
        ASSERT_EQ(rep.files.size(), 1U);
        ASSERT_EQ(rep.files[0].outcome, file_outcome::scanned) << rep.files[0].problem_text();
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".bmp") {
                std::ifstream in(e.path(), std::ios::binary);
                snapshots[concurrent][e.path().filename().string()] = {std::istreambuf_iterator<char>(in), {}};
            }
        fs::remove_all(dir);
        if (!concurrent) {
            EXPECT_EQ(watch.writers.size(), 1U);
        }
    }
    EXPECT_GE(snapshots[false].size(), 12U);
    EXPECT_EQ(snapshots[false], snapshots[true]);
}

} // namespace
} // namespace serflash::detect
