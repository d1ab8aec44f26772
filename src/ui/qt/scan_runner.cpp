#include "ui/qt/scan_runner.h"

#include "detect/fast_scan.h"

#include <QThread>

namespace serflash::ui::qt {
namespace {
constexpr const char* completed_caption = "The scans of all SER files completed!";
}

scan_runner::scan_runner(QObject* parent) : QObject(parent) {}

scan_runner::~scan_runner() {
    request_stop();
    wait();
}

void scan_runner::start(batch_job job) {
    if (running()) return;
    job_ = std::make_unique<batch_job>(std::move(job));
    stop_ = false;
    {
        const std::lock_guard lock(progress_mutex_);
        progress_.reset();
    }
    report_ = {};
    thread_ = QThread::create([this] {
        detect::batch_request request;
        request.jobs = job_->jobs;
        // Every core scans (shared among the files scanned at once).
        request.scanner = detect::make_fast_scanner({detect::threads_per_file(0, request.jobs_at_once)});
        auto& hooks = request.hooks;
        hooks.message = [this](const std::string& caption, const std::string& text) {
            // The panel shows the closing message itself once the run is over, worded for a
            // stopped run too.
            if (caption == completed_caption) return;
            emit message(QString::fromStdString(caption), QString::fromStdString(text));
        };
        hooks.threshold_shown = [this](std::int32_t t) { emit threshold_shown(t); };
        hooks.frame_shown = [this](std::int32_t f) { emit frame_shown(f); };
        hooks.row_marked = [this](int row) { emit row_marked(row); };
        hooks.progress = [this](const detect::scan_progress& p) {
            const std::lock_guard lock(progress_mutex_);
            progress_ = p;
        };
        hooks.stop_requested = [this] { return stop_.load(); };
        report_ = detect::run_batch(request);
    });
    connect(thread_, &QThread::finished, this, &scan_runner::on_thread_finished);
    thread_->start();
}

void scan_runner::wait() {
    if (thread_ != nullptr) thread_->wait();
}

std::optional<detect::scan_progress> scan_runner::latest_progress() const {
    const std::lock_guard lock(progress_mutex_);
    return progress_;
}

void scan_runner::on_thread_finished() {
    if (thread_ == nullptr) return;
    thread_->deleteLater();
    thread_ = nullptr;
    job_.reset();
    emit finished_run();
}

} // namespace serflash::ui::qt
