#include "detect/batch.h"
#include "detect/core_budget.h"
#include "detect/fast_scan.h"
#include "memory_fs.h"
#include "memory_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <tuple>

namespace serflash::detect {
namespace {

// However the options combine, the jobs run at once times the threads of each never outnumber
// the cores, every job has a thread, none asked for less gets more, and a whole share is used.
TEST(CoreBudget, JobsTimesThreadsStayWithinTheCores) {
    for (unsigned cores = 1; cores <= 12; ++cores) {
        const core_budget budget = core_budget::of(cores);
        for (unsigned jobs = 0; jobs <= 16; ++jobs) {
            const unsigned at_once = budget.at_once(jobs);
            EXPECT_GE(at_once, 1U);
            EXPECT_LE(at_once, std::max(jobs, 1U));
            const core_budget share = budget.share(at_once);
            for (unsigned requested = 0; requested <= 16; ++requested) {
                const unsigned threads = share.threads(requested);
                EXPECT_GE(threads, 1U);
                EXPECT_LE(at_once * threads, cores) << cores << " cores, " << jobs << " jobs, " << requested;
                if (requested != 0) {
                    EXPECT_LE(threads, requested);
                }
            }
            EXPECT_GT(at_once * share.threads(0), cores - at_once); // what is left over is less than a job
            EXPECT_EQ(share.reader_thread(), share.cores() > 1);
        }
    }
    // A scan run alone, outside a batch, takes the threads its caller asks for.
    EXPECT_EQ(core_budget{}.threads(7), 7U);
    EXPECT_EQ(core_budget{}.share(3).threads(5), 5U);
    EXPECT_EQ(core_budget{}.threads(0), core_budget::machine().cores());
}

// Through the batch, counted as the scans run: the most files under way at once times the
// threads each one's share gives it stay within the batch's cores.
TEST(CoreBudget, TheBatchDividesItsCoresAmongTheFilesScannedAtOnce) {
    constexpr int w = 32;
    const std::vector<std::vector<std::uint16_t>> frames(30, std::vector<std::uint16_t>(w * w, 1000));
    for (const auto& [cores, jobs, threads] :
         {std::tuple{2U, 2U, 2U}, std::tuple{2U, 4U, 0U}, std::tuple{8U, 3U, 0U}, std::tuple{8U, 2U, 8U}}) {
        testing::memory_fs fs;
        batch_request req;
        req.fs = &fs;
        for (const std::string name : {"a.ser", "b.ser", "c.ser", "d.ser", "e.ser", "f.ser"}) {
            fs.files[name] = testing::ser_bytes(w, w, 16, frames);
            scan_job job{name, default_settings(30, 16, 0), {}, 0};
            job.settings.packet_size = 10;
            req.jobs.push_back(job);
        }
        req.cores = core_budget::of(cores);
        req.jobs_at_once = jobs;
        std::mutex mutex;
        unsigned running = 0, most_busy = 0;
        const file_scanner fast = make_fast_scanner({threads});
        req.scanner = [&](const scan_context& ctx) {
            {
                const std::lock_guard lock(mutex);
                ++running;
                most_busy = std::max(most_busy, running * ctx.cores.threads(threads));
            }
            scan_outcome outcome = fast(ctx);
            const std::lock_guard lock(mutex);
            --running;
            return outcome;
        };
        ASSERT_TRUE(run_batch(req).all_scanned());
        EXPECT_GE(most_busy, 1U);
        EXPECT_LE(most_busy, cores) << cores << " cores, --jobs " << jobs << " --threads " << threads;
    }
}

// The threads of the process while `--jobs 2 --threads 2` scans files on a budget of 2 cores:
// the two files' own threads and nothing more (no pool of workers, no reading thread beside them).
TEST(CoreBudget, TwoJobsOfTwoThreadsOnTwoCoresRunTwoThreads) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("serflash_budget_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    constexpr int w = 64;
    const std::vector<std::vector<std::uint16_t>> frames(120, std::vector<std::uint16_t>(w * w, 1000));
    const std::vector<std::uint8_t> bytes = testing::ser_bytes(w, w, 16, frames);
    batch_request req;
    // Two files, started together: a file started as another ends would let the ending thread
    // be counted beside its successor's for a moment.
    for (const std::string name : {"a.ser", "b.ser"}) {
        std::ofstream((dir / name).string(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        scan_job job{(dir / name).string(), default_settings(120, 16, 0), {}, 0};
        job.settings.packet_size = 20;
        req.jobs.push_back(job);
    }
    req.results_parent = dir.string();
    req.cores = core_budget::of(2);
    req.jobs_at_once = 2;
    const auto threads_now = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& task : fs::directory_iterator("/proc/self/task")) ++n;
        return n;
    };
    std::atomic<std::size_t> most{0};
    const auto count = [&] {
        std::size_t n = threads_now(), m = most;
        while (n > m && !most.compare_exchange_weak(m, n)) {}
    };
    // Each file's scan waits until both have started, so that both are counted at once, and the
    // threads are counted all along by a thread of the test's own, started before the count they
    // are held against (the hooks are called on the caller's thread, often once the files are
    // done).
    std::atomic<int> started{0};
    const file_scanner fast = make_fast_scanner({2});
    req.scanner = [&](const scan_context& c) {
        ++started;
        const auto since = std::chrono::steady_clock::now();
        while (started < 2 && std::chrono::steady_clock::now() - since < std::chrono::seconds(5))
            std::this_thread::yield();
        count();
        return fast(c);
    };
    std::atomic<bool> done{false};
    std::thread counter([&] {
        while (!done) {
            count();
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    while (most == 0) std::this_thread::yield();
    const std::size_t before = threads_now();
    EXPECT_TRUE(run_batch(req).all_scanned());
    done = true;
    counter.join();
    // Both files at once, and nothing beside them: each file's share of one core runs its scan on
    // the file's own thread, whatever --threads asked.
    EXPECT_EQ(most.load(), before + 2);
    fs::remove_all(dir);
}

} // namespace
} // namespace serflash::detect
