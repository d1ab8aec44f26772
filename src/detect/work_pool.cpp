#include "detect/work_pool.h"

#include <algorithm>
#include <utility>

namespace serflash::detect {

work_pool::work_pool(unsigned workers) {
    threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

work_pool::~work_pool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void work_pool::start(unsigned count, std::function<void(unsigned)> part) {
    if (threads_.empty()) {
        try {
            for (unsigned i = 0; i < count; ++i) part(i);
        } catch (...) {
            if (!failure_) failure_ = std::current_exception();
        }
        return;
    }
    wait();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(part);
        next_part_ = 0;
        part_count_ = count;
        parts_left_ = count;
    }
    wake_.notify_all();
}

void work_pool::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return parts_left_ == 0; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void work_pool::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || next_part_ < part_count_; });
        if (stopping_) return;
        const unsigned part = next_part_++;
        const std::function<void(unsigned)>& job = job_;
        lock.unlock();
        std::exception_ptr thrown;
        try {
            job(part);
        } catch (...) {
            thrown = std::current_exception();
        }
        lock.lock();
        if (thrown && !failure_) failure_ = thrown;
        if (--parts_left_ == 0) done_.notify_all();
    }
}

} // namespace serflash::detect
