#pragma once
// A thread that reads the file ahead of the scan, in large blocks in file order, so that the
// disk streams at its own speed while the workers read the same bytes out of the page cache
// in whatever order their bands need. It only warms the cache (the system fetches each block,
// and the thread waits for it), so the results cannot depend on it.
#include "platform/file_io.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace serflash::detect {

class read_ahead {
public:
    explicit read_ahead(platform::input_file& file, std::size_t block_bytes = std::size_t{8} << 20);
    ~read_ahead();
    read_ahead(const read_ahead&) = delete;
    read_ahead& operator=(const read_ahead&) = delete;

    // The scan is about to need [from, to): read it, going on from the bytes read so far when
    // they already reach from. Returns at once.
    void want(std::int64_t from, std::int64_t to);
    // Bytes read, or found already in memory, so far (for tests).
    std::int64_t bytes_read() const;

private:
    void loop();

    platform::input_file& file_;
    std::size_t block_bytes_;
    std::vector<std::uint8_t> block_; // scratch for files that can only be fetched through a copy
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::int64_t pos_ = 0;    // next byte to read
    std::int64_t target_ = 0; // read up to here
    std::int64_t total_ = 0;
    bool stop_ = false;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace serflash::detect
