#include "detect/batch_progress.h"

#include "detect/rules.h"

#include <algorithm>
#include <chrono>

namespace serflash::detect {

double scan_progress::fraction() const {
    if (frames_total <= 0) return 0.0;
    return std::clamp(static_cast<double>(frames_done) / static_cast<double>(frames_total), 0.0, 1.0);
}

double scan_progress::frames_per_second() const {
    return elapsed_s > 0.0 ? static_cast<double>(frames_done) / elapsed_s : 0.0;
}

std::optional<double> scan_progress::eta_s() const {
    const double f = fraction();
    if (f <= 0.0 || elapsed_s <= 0.0) return std::nullopt;
    return elapsed_s * (1.0 - f) / f;
}

double file_fraction_of_sweep(std::int32_t frame, std::int32_t start_frame, std::int32_t end_frame) {
    const std::int64_t range = std::int64_t{end_frame} - start_frame + 1;
    if (range <= 0) return 1.0;
    const std::int64_t done = std::clamp<std::int64_t>(std::int64_t{frame} - start_frame + 1, 0, range);
    return static_cast<double>(done) / static_cast<double>(range);
}

double file_fraction_of_passes(std::int32_t passes_done, std::int32_t threshold, std::int32_t step, std::int32_t frame,
                               std::int32_t start_frame, std::int32_t end_frame) {
    // Lowered passes that follow this one: one per step down to the lowest threshold.
    const std::int64_t after =
        step > 0 && threshold >= lowest_threshold ? (std::int64_t{threshold} - lowest_threshold) / step : 0;
    const double planned = static_cast<double>(std::int64_t{passes_done} + 1 + after);
    const double done = static_cast<double>(passes_done) + file_fraction_of_sweep(frame, start_frame, end_frame);
    return std::clamp(done / planned, 0.0, 1.0);
}

batch_progress::batch_progress(int files, std::function<void(const scan_progress&)> out,
                               std::function<double()> seconds)
    : files_(static_cast<std::size_t>(std::max(files, 0))), out_(std::move(out)), seconds_(std::move(seconds)) {
    if (!seconds_)
        seconds_ = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    start_ = seconds_();
}

void batch_progress::file_progress(scan_progress p) {
    if (p.file_index < 0 || static_cast<std::size_t>(p.file_index) >= files_.size()) return;
    file_state& f = files_[static_cast<std::size_t>(p.file_index)];
    f.frames = std::max<std::int64_t>(0, std::int64_t{p.end_frame} - p.start_frame + 1);
    f.fraction = std::max(f.fraction, std::clamp(p.file_fraction, 0.0, 1.0));
    p.file_fraction = f.fraction;
    f.last = p;
    emit(p);
}

void batch_progress::file_done(int file_index) {
    if (file_index < 0 || static_cast<std::size_t>(file_index) >= files_.size()) return;
    file_state& f = files_[static_cast<std::size_t>(file_index)];
    f.done = true;
    f.fraction = 1.0;
    if (!f.frames) {
        f.frames = 0;
        return;
    }
    scan_progress p = f.last;
    p.file_fraction = 1.0;
    emit(p);
}

void batch_progress::emit(scan_progress p) {
    std::int64_t known = 0;
    std::int64_t opened = 0;
    std::int64_t unopened = 0;
    double done = 0.0;
    for (const file_state& f : files_) {
        if (f.frames) {
            known += *f.frames;
            if (*f.frames > 0 || !f.done) ++opened;
            done += static_cast<double>(*f.frames) * f.fraction;
        } else {
            ++unopened;
        }
    }
    // Files that never opened do not count towards the mean.
    const std::int64_t mean = opened > 0 ? known / opened : 0;
    p.frames_total = known + unopened * mean;
    p.frames_done = std::min(static_cast<std::int64_t>(done), p.frames_total);
    p.total_estimated = unopened > 0;
    p.elapsed_s = std::max(0.0, seconds_() - start_);
    if (out_) out_(p);
}

} // namespace serflash::detect
