#include "detect/read_ahead.h"

#include <algorithm>

namespace serflash::detect {

read_ahead::read_ahead(platform::input_file& file, std::size_t block_bytes)
    : file_(file), block_bytes_(std::max<std::size_t>(block_bytes, 4096)), thread_([this] { loop(); }) {}

read_ahead::~read_ahead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void read_ahead::want(std::int64_t from, std::int64_t to) {
    if (from < 0 || to <= from) return;
    {
        const std::lock_guard lock(mutex_);
        // The scan asks for the next packets as it goes; a jump forward, or back by more than it
        // asks for (a new pass from the start frame), is followed there.
        if (from > pos_ || from < pos_ - 2 * (to - from)) pos_ = from;
        target_ = std::max(to, pos_);
    }
    wake_.notify_all();
}

std::int64_t read_ahead::bytes_read() const {
    const std::lock_guard lock(mutex_);
    return total_;
}

void read_ahead::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || pos_ < target_; });
        if (stop_) return;
        const std::int64_t pos = pos_;
        const auto block = static_cast<std::int64_t>(block_bytes_);
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(target_ - pos, block));
        const std::int64_t next = pos + static_cast<std::int64_t>(n);
        const std::int64_t next_n = std::min<std::int64_t>(target_ - next, block);
        lock.unlock();
        // A block already cached (a warm file) is passed over; the others are fetched into the
        // cache, without a copy where the file allows it: a copy would only take a core from the
        // workers. The block after it is asked for first, so that the disk has it queued while
        // this one is waited for.
        std::size_t got = n;
        if (!file_.in_memory(pos, n)) {
            if (next_n > 0) file_.will_need(next, next_n);
            got = file_.fetch(pos, n, block_);
        }
        lock.lock();
        total_ += static_cast<std::int64_t>(got);
        // The end of the file, or a read that failed: the scan's own reads will say so.
        if (got == 0) {
            target_ = pos_;
            continue;
        }
        if (pos_ == pos) pos_ = pos + static_cast<std::int64_t>(got);
    }
}

} // namespace serflash::detect
