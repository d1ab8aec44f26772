#include "detect/read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace serflash::detect {
namespace {

// Waits for the thread to settle; a bound, not a timing: a test that fails here hangs no run.
bool settles_at(const read_ahead& r, std::int64_t bytes) {
    for (int i = 0; i < 10000; ++i) {
        if (r.bytes_read() == bytes) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(ReadAhead, ReadsWhatIsWantedOnceAndStopsAtTheEndOfTheFile) {
    const auto file = platform::make_memory_input(std::vector<std::uint8_t>(100000, 7));
    read_ahead r(*file, 4096);
    r.want(0, 30000);
    EXPECT_TRUE(settles_at(r, 30000));
    // Already read: nothing again.
    r.want(10000, 30000);
    r.want(30000, 50000);
    EXPECT_TRUE(settles_at(r, 50000));
    // Past the end: the file's bytes only, and no endless retry.
    r.want(50000, 1000000);
    EXPECT_TRUE(settles_at(r, 100000));
    // A new pass from the start is followed there.
    r.want(0, 8192);
    EXPECT_TRUE(settles_at(r, 108192));
    // Empty or negative ranges are ignored.
    r.want(-5, 10);
    r.want(500, 500);
    EXPECT_TRUE(settles_at(r, 108192));
}

TEST(ReadAhead, EndsWhileReading) {
    const auto file = platform::make_memory_input(std::vector<std::uint8_t>(std::size_t{64} << 20, 1));
    {
        read_ahead r(*file, 4096);
        r.want(0, std::int64_t{64} << 20);
    }
    SUCCEED(); // joined without waiting for the rest
}

} // namespace
} // namespace serflash::detect
