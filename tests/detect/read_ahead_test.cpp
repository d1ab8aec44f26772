#include "detect/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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

// A file whose first `cached` bytes are in memory; it counts the bytes really read.
class partly_cached final : public platform::input_file {
public:
    partly_cached(std::size_t size, std::int64_t cached)
        : inner_(platform::make_memory_input(std::vector<std::uint8_t>(size, 3))), cached_(cached) {}
    std::size_t read(void* dst, std::size_t n) override { return inner_->read(dst, n); }
    bool seek(std::int64_t pos) override { return inner_->seek(pos); }
    std::int64_t tell() const override { return inner_->tell(); }
    std::int64_t size() const override { return inner_->size(); }
    std::size_t read_at(std::int64_t pos, void* dst, std::size_t n) override {
        const std::size_t got = inner_->read_at(pos, dst, n);
        read_ += static_cast<std::int64_t>(got);
        return got;
    }
    bool in_memory(std::int64_t pos, std::size_t n) const override {
        return pos + static_cast<std::int64_t>(n) <= cached_;
    }
    std::atomic<std::int64_t> read_{0};

private:
    std::unique_ptr<platform::input_file> inner_;
    std::int64_t cached_;
};

TEST(ReadAhead, CachedBlocksAreNotReadAgain) {
    partly_cached file(65536, 32768);
    {
        read_ahead r(file, 4096);
        r.want(0, 65536);
        EXPECT_TRUE(settles_at(r, 65536));
    }
    EXPECT_EQ(file.read_.load(), 32768); // only the blocks that were not in memory
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
