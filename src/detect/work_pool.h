#pragma once
// A small fixed set of worker threads that run the parts of one job at a time. The caller
// starts a job, may do other work (such as reading the next frames), then waits for it.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace serflash::detect {

class work_pool {
public:
    // workers == 0 runs every job on the caller's thread inside start().
    explicit work_pool(unsigned workers);
    // A pool that runs jobs on `threads` threads: one needs no thread of the pool's own.
    static unsigned workers_for(unsigned threads) { return threads <= 1 ? 0U : threads; }
    ~work_pool();
    work_pool(const work_pool&) = delete;
    work_pool& operator=(const work_pool&) = delete;

    // How many parts a job should be split into to keep every worker busy.
    unsigned parts() const { return threads_.empty() ? 1U : static_cast<unsigned>(threads_.size()); }

    // Runs part(0) .. part(count - 1) on the workers; returns at once (unless there are none).
    void start(unsigned count, std::function<void(unsigned)> part);
    // Waits until every part of the job started last has run. The first exception a part threw
    // is thrown here, on the waiting thread, at every number of workers; with none, the parts
    // ran inside start() and its exception is kept for wait() likewise.
    void wait();
    // start() then wait().
    void run(unsigned count, std::function<void(unsigned)> part) {
        start(count, std::move(part));
        wait();
    }

private:
    void work();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::function<void(unsigned)> job_;
    unsigned next_part_ = 0;
    unsigned part_count_ = 0;
    unsigned parts_left_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_; // the first a part of the current job threw
};

} // namespace serflash::detect
