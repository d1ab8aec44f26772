// Scans started together: a results folder belongs to the scan whose own mkdir made it, and a
// failure in any worker reaches the waiting thread at every thread count.
#include "detect/batch.h"
#include "detect/work_pool.h"
#include "detect/memory_fs.h"

#include <gtest/gtest.h>

#include <stdexcept>

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

} // namespace
} // namespace serflash::detect
